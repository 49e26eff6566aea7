# SPDX-License-Identifier: MIT
# Builds the pinned libraries (pins.cmake) as static libraries for the MinGW
# toolchain, from Debian's source packages, into one prefix:
#   cmake -DPREFIX=dir -DTOOLCHAIN=file [-DWORK=dir] [-DDOWNLOADS=dir] [-DJOBS=n]
#         -P cmake/mingw-deps/build.cmake
# MingwDeps.cmake runs it at configure time when its cache has no build for
# the pins and the toolchain. The prefix appears whole or not at all: the
# build goes to PREFIX.partial, renamed when everything is in.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/common.cmake)

foreach(required PREFIX TOOLCHAIN)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "build.cmake: -D${required}=... is required")
  endif()
endforeach()
if(NOT DEFINED WORK)
  set(WORK ${PREFIX}.work)
endif()
if(NOT DEFINED DOWNLOADS)
  set(DOWNLOADS ${WORK}/downloads)
endif()
if(NOT DEFINED JOBS)
  cmake_host_system_information(RESULT JOBS QUERY NUMBER_OF_LOGICAL_CORES)
endif()
set(stage ${PREFIX}.partial)
set(logs ${WORK}/logs)
file(REMOVE_RECURSE ${stage} ${WORK}/src ${WORK}/build ${logs})
file(MAKE_DIRECTORY ${stage}/include ${stage}/lib ${DOWNLOADS} ${logs} ${WORK}/src)

foreach(tool apt-get dpkg-source)
  find_program(have_${tool} ${tool})
  if(NOT have_${tool})
    message(FATAL_ERROR "The MinGW libraries are built from Debian's source packages, which "
                        "needs ${tool} (Debian: apt-get install apt dpkg-dev).")
  endif()
endforeach()
find_program(ninja NAMES ninja ninja-build)
if(ninja)
  set(generator -G Ninja)
else()
  set(generator -G "Unix Makefiles")
endif()

# Runs a command with its output in logs/<log>.log; on failure, stops and
# shows the end of the log.
function(run log)
  execute_process(COMMAND ${ARGN} OUTPUT_FILE ${logs}/${log}.log ERROR_FILE ${logs}/${log}.log
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    file(STRINGS ${logs}/${log}.log lines)
    list(LENGTH lines count)
    math(EXPR first "${count} - 30")
    if(first LESS 0)
      set(first 0)
    endif()
    list(SUBLIST lines ${first} 30 tail)
    list(JOIN tail "\n" tail)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${tail}\n\nFailed (${status}): ${command}\nLog: ${logs}/${log}.log")
  endif()
endfunction()

# Fetches the newest Debian revision of a package's pinned upstream version
# that the archive still serves, checks the orig tarball against the pin, and
# unpacks it with the revision's patches applied into src/<package>. Sets
# version_<package> to the revision used.
tapnames_deps_offered(offered)
function(fetch package)
  set(upstream ${TAPNAMES_DEPS_${package}_VERSION})
  set(candidates ${offered_${package}})
  if(NOT candidates)
    if(offered_${package}_OTHERS)
      message(FATAL_ERROR "apt offers ${package} ${offered_${package}_OTHERS}, but not the "
              "pinned upstream version ${upstream}. Review the new release, then update its "
              "version and SHA256 in cmake/mingw-deps/pins.cmake.")
    endif()
    message(FATAL_ERROR "No source package ${package} ${upstream}.\n${TAPNAMES_DEPS_NO_SOURCES}\n")
  endif()
  # A revision that the lists name may be gone from the archive (replaced by
  # a newer one since the lists were updated): the next one is tried.
  set(version "")
  foreach(candidate IN LISTS candidates)
    execute_process(COMMAND apt-get source --download-only ${package}=${candidate}
                    WORKING_DIRECTORY ${DOWNLOADS} OUTPUT_VARIABLE out ERROR_VARIABLE out
                    RESULT_VARIABLE status)
    if(status EQUAL 0)
      set(version "${candidate}")
      break()
    endif()
    string(APPEND failures "${package} ${candidate}:\n${out}\n")
  endforeach()
  if(NOT version)
    message(FATAL_ERROR "${failures}apt-get source could not fetch ${package} ${upstream}.")
  endif()

  string(REGEX REPLACE "^[0-9]+:" "" file_version "${version}")
  file(GLOB orig LIST_DIRECTORIES false ${DOWNLOADS}/${package}_${upstream}.orig.tar.*)
  list(FILTER orig EXCLUDE REGEX "\\.asc$")
  if(NOT orig)
    message(FATAL_ERROR "${package} ${version}: no ${package}_${upstream}.orig.tar.* in ${DOWNLOADS}")
  endif()
  file(SHA256 ${orig} sha256)
  if(NOT sha256 STREQUAL TAPNAMES_DEPS_${package}_SHA256)
    message(FATAL_ERROR "${orig}:\n  SHA256 ${sha256}\n  pinned ${TAPNAMES_DEPS_${package}_SHA256}\n"
            "The upstream source of ${package} ${upstream} is not the one pinned in "
            "cmake/mingw-deps/pins.cmake. Nothing was built.")
  endif()
  # dpkg-source checks every file against the .dsc (whose own checksums apt
  # checked against the signed lists) and applies Debian's patches.
  run(${package}-unpack dpkg-source --no-copy -x ${DOWNLOADS}/${package}_${file_version}.dsc
      ${WORK}/src/${package})
  set(version_${package} "${version}" PARENT_SCOPE)
  message(STATUS "  ${package} ${version}: orig tarball SHA256 matches the pin")
endfunction()

# Configures and builds a CMake project for the toolchain; extra arguments go
# to the configure step, TARGETS names what to build (all when empty).
function(cmake_build name source)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "TARGETS;OPTIONS")
  set(binary ${WORK}/build/${name})
  run(${name}-configure ${CMAKE_COMMAND} -S ${source} -B ${binary} ${generator} -Wno-dev
      -Wno-deprecated --toolchain ${TOOLCHAIN} -DCMAKE_BUILD_TYPE=Release
      "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG" -DCMAKE_INSTALL_PREFIX=${stage}
      -DBUILD_SHARED_LIBS=OFF ${arg_OPTIONS})
  set(targets "")
  if(arg_TARGETS)
    set(targets --target ${arg_TARGETS})
  endif()
  run(${name}-build ${CMAKE_COMMAND} --build ${binary} -j ${JOBS} ${targets})
endfunction()

string(TIMESTAMP started %s)
message(STATUS "MinGW libraries: fetching Debian's sources")
foreach(package IN LISTS TAPNAMES_DEPS_PACKAGES)
  fetch(${package})
endforeach()
set(src ${WORK}/src)
set(build ${WORK}/build)

message(STATUS "MinGW libraries: building zlib")
cmake_build(zlib ${src}/zlib TARGETS zlibstatic)
file(COPY_FILE ${build}/zlib/libzlibstatic.a ${stage}/lib/libz.a)
file(COPY ${src}/zlib/zlib.h ${build}/zlib/zconf.h DESTINATION ${stage}/include)

message(STATUS "MinGW libraries: building xz-utils (liblzma)")
cmake_build(xz ${src}/xz-utils TARGETS liblzma)
run(xz-install ${CMAKE_COMMAND} --install ${build}/xz --component liblzma_Development)

message(STATUS "MinGW libraries: building zstd")
cmake_build(zstd ${src}/libzstd/build/cmake OPTIONS -DZSTD_BUILD_PROGRAMS=OFF
  -DZSTD_BUILD_SHARED=OFF -DZSTD_BUILD_STATIC=ON -DZSTD_BUILD_TESTS=OFF
  -DZSTD_MULTITHREAD_SUPPORT=OFF -DZSTD_LEGACY_SUPPORT=OFF)
run(zstd-install ${CMAKE_COMMAND} --install ${build}/zstd)

message(STATUS "MinGW libraries: building lz4")
cmake_build(lz4 ${src}/lz4/build/cmake OPTIONS -DLZ4_BUILD_CLI=OFF -DLZ4_BUILD_LEGACY_LZ4C=OFF)
run(lz4-install ${CMAKE_COMMAND} --install ${build}/lz4)

# SQLite's source tree makes its one-file form (sqlite3.c) with tclsh and
# tools built for this machine: configured and made here with the host's
# compiler, then compiled for Windows below.
message(STATUS "MinGW libraries: making SQLite's amalgamation (host tools, tclsh)")
find_program(tclsh NAMES tclsh tclsh8.6)
if(NOT tclsh)
  message(FATAL_ERROR "SQLite's sources need tclsh to make sqlite3.c (Debian: apt-get install tcl).")
endif()
file(MAKE_DIRECTORY ${build}/sqlite3-host)
execute_process(COMMAND sh ${src}/sqlite3/configure --disable-tcl
                WORKING_DIRECTORY ${build}/sqlite3-host
                OUTPUT_FILE ${logs}/sqlite3-configure.log ERROR_FILE ${logs}/sqlite3-configure.log
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "SQLite's configure failed; log: ${logs}/sqlite3-configure.log")
endif()
execute_process(COMMAND make -j ${JOBS} sqlite3.c WORKING_DIRECTORY ${build}/sqlite3-host
                OUTPUT_FILE ${logs}/sqlite3-amalgamation.log
                ERROR_FILE ${logs}/sqlite3-amalgamation.log RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "Making sqlite3.c failed; log: ${logs}/sqlite3-amalgamation.log")
endif()

message(STATUS "MinGW libraries: building bzip2, SQLite and xxHash")
cmake_build(small ${CMAKE_CURRENT_LIST_DIR}/small OPTIONS -DBZIP2_SOURCE=${src}/bzip2
  -DSQLITE_AMALGAMATION=${build}/sqlite3-host -DXXHASH_SOURCE=${src}/xxhash)
run(small-install ${CMAKE_COMMAND} --install ${build}/small)

# libarchive: the library alone, reading and writing every format it has and
# the five compressors above. Left out: the programs, the tests, and what the
# catalogue does not use and Windows lacks (ACLs, extended attributes, iconv,
# regular expressions, encryption libraries). Its Windows crypto (CNG) is not
# found either, as it looks for "Bcrypt.h" where MinGW has bcrypt.h: only
# encrypted zip members need it, and the catalogue reads none.
message(STATUS "MinGW libraries: building libarchive")
set(libarchive_options -DENABLE_TEST=OFF -DENABLE_TAR=OFF -DENABLE_CPIO=OFF -DENABLE_CAT=OFF
  -DENABLE_INSTALL=OFF -DENABLE_WERROR=OFF -DENABLE_ACL=OFF -DENABLE_XATTR=OFF
  -DENABLE_ICONV=OFF -DENABLE_OPENSSL=OFF -DENABLE_MBEDTLS=OFF -DENABLE_NETTLE=OFF
  -DENABLE_LIBB2=OFF -DENABLE_LZO=OFF -DENABLE_LIBXML2=OFF -DENABLE_EXPAT=OFF
  -DENABLE_PCREPOSIX=OFF -DENABLE_LIBGCC=OFF -DPOSIX_REGEX_LIB=NONE
  -DZLIB_INCLUDE_DIR=${stage}/include -DZLIB_LIBRARY=${stage}/lib/libz.a
  -DBZIP2_INCLUDE_DIR=${stage}/include -DBZIP2_LIBRARY_RELEASE=${stage}/lib/libbz2.a
  -DLIBLZMA_INCLUDE_DIR=${stage}/include -DLIBLZMA_LIBRARY=${stage}/lib/liblzma.a
  -DZSTD_INCLUDE_DIR=${stage}/include -DZSTD_LIBRARY=${stage}/lib/libzstd.a
  -DLZ4_INCLUDE_DIR=${stage}/include -DLZ4_LIBRARY=${stage}/lib/liblz4.a)
cmake_build(libarchive ${src}/libarchive TARGETS archive_static OPTIONS ${libarchive_options})
file(GLOB built ${build}/libarchive/libarchive/libarchive*.a)
file(COPY_FILE ${built} ${stage}/lib/libarchive.a)
file(COPY ${src}/libarchive/libarchive/archive.h ${src}/libarchive/libarchive/archive_entry.h
     DESTINATION ${stage}/include)
# What libarchive found, checked here: a compressor it silently went without
# would leave the catalogue unable to read some archives.
file(STRINGS ${build}/libarchive/config.h found REGEX "^#define HAVE_(LIBLZMA|LIBBZ2|LIBZSTD|LIBLZ4|ZLIB_H) 1")
list(LENGTH found found_count)
if(NOT found_count EQUAL 5)
  message(FATAL_ERROR "libarchive was configured without some of its libraries; it found:\n"
          "${found}\nSee ${logs}/libarchive-configure.log")
endif()

# The record of what was built, read by MingwDeps.cmake.
set(record "# Written by cmake/mingw-deps/build.cmake.\n")
foreach(package IN LISTS TAPNAMES_DEPS_PACKAGES)
  list(GET offered_${package} 0 newest)
  string(APPEND record "set(TAPNAMES_DEPS_BUILT_${package} \"${version_${package}}\")\n"
                       "set(TAPNAMES_DEPS_OFFERED_${package} \"${newest}\")\n")
endforeach()
file(WRITE ${stage}/built.cmake "${record}")
file(REMOVE_RECURSE ${PREFIX})
file(RENAME ${stage} ${PREFIX})
file(REMOVE_RECURSE ${WORK}/src ${WORK}/build)
string(TIMESTAMP finished %s)
math(EXPR seconds "${finished} - ${started}")
message(STATUS "MinGW libraries: built in ${seconds} s into ${PREFIX}")
