# SPDX-License-Identifier: MIT
# The MinGW build's libraries: libarchive with zlib, liblzma, bzip2, zstd and
# lz4, and SQLite and xxHash, static, built for the toolchain from Debian's
# source packages (cmake/mingw-deps/build.cmake, the pins in
# cmake/mingw-deps/pins.cmake). Included by the top-level CMakeLists.txt in a
# MinGW build; defines the imported targets ZLIB::ZLIB, BZip2::BZip2,
# LibLZMA::LibLZMA, zstd::libzstd_static, LZ4::lz4_static,
# LibArchive::LibArchive, SQLite::SQLite3 and xxHash::xxhash, and sets
# ZLIB_FOUND, LibArchive_FOUND and SQLite3_FOUND.
#
# The built libraries are kept outside the build tree, in
#   TAPNAMES_MINGW_DEPS_CACHE/<key>   (${XDG_CACHE_HOME:-~/.cache}/tapnames/mingw-deps)
# where the key is a hash of the pins, of the build's own scripts and of the
# toolchain (its file and the compiler's version and thread model). A new
# build tree, another checkout or CI's next run with the same cache reuses
# them; a change to any of those builds anew, in a new folder.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-deps/common.cmake)

if(NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
  set(cache_root $ENV{XDG_CACHE_HOME}/tapnames/mingw-deps)
else()
  set(cache_root $ENV{HOME}/.cache/tapnames/mingw-deps)
endif()
set(TAPNAMES_MINGW_DEPS_CACHE ${cache_root} CACHE PATH
    "Where the MinGW build's libraries are built and kept, for every build tree")
cmake_host_system_information(RESULT cores QUERY NUMBER_OF_LOGICAL_CORES)
set(TAPNAMES_MINGW_DEPS_JOBS ${cores} CACHE STRING
    "Parallel jobs for building the MinGW build's libraries")

# The key. The toolchain file may have been given relative to the build or
# the source tree; its contents count, not its path.
set(toolchain ${CMAKE_TOOLCHAIN_FILE})
foreach(base ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  if(NOT IS_ABSOLUTE "${toolchain}" AND EXISTS ${base}/${toolchain})
    set(toolchain ${base}/${toolchain})
  endif()
endforeach()
get_filename_component(toolchain "${toolchain}" ABSOLUTE)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -v ERROR_VARIABLE compiler OUTPUT_QUIET)
string(REGEX MATCHALL "(Thread model|gcc version)[^\n]*" compiler "${compiler}")
set(key_text "${compiler}")
foreach(file ${toolchain} ${CMAKE_CURRENT_LIST_DIR}/mingw-deps/pins.cmake
        ${CMAKE_CURRENT_LIST_DIR}/mingw-deps/common.cmake
        ${CMAKE_CURRENT_LIST_DIR}/mingw-deps/build.cmake
        ${CMAKE_CURRENT_LIST_DIR}/mingw-deps/small/CMakeLists.txt)
  file(READ ${file} text)
  string(APPEND key_text "${text}")
endforeach()
string(SHA256 key "${key_text}")
string(SUBSTRING ${key} 0 16 key)
set(TAPNAMES_MINGW_DEPS_PREFIX ${TAPNAMES_MINGW_DEPS_CACHE}/${key})

# A build is reused unless Debian has since published a new revision of a
# pinned package (a security update): then it is built again, with the new
# revision's patches. Without deb-src entries apt says nothing, and the build
# is reused as it is.
function(tapnames_deps_outdated out)
  include(${TAPNAMES_MINGW_DEPS_PREFIX}/built.cmake)
  tapnames_deps_offered(now)
  set(outdated FALSE)
  foreach(package IN LISTS TAPNAMES_DEPS_PACKAGES)
    if(now_${package})
      list(GET now_${package} 0 newest)
      if(NOT newest STREQUAL TAPNAMES_DEPS_OFFERED_${package})
        message(STATUS "Debian now offers ${package} ${newest}; the MinGW libraries were "
                       "built with ${TAPNAMES_DEPS_BUILT_${package}}")
        set(outdated TRUE)
      endif()
    endif()
  endforeach()
  set(${out} ${outdated} PARENT_SCOPE)
endfunction()

set(outdated TRUE)
if(EXISTS ${TAPNAMES_MINGW_DEPS_PREFIX}/built.cmake)
  tapnames_deps_outdated(outdated)
endif()
if(outdated)
  # One build at a time per key: a second configure waits, then finds it done.
  file(MAKE_DIRECTORY ${TAPNAMES_MINGW_DEPS_CACHE})
  file(LOCK ${TAPNAMES_MINGW_DEPS_PREFIX}.lock GUARD FILE TIMEOUT 3600)
  if(EXISTS ${TAPNAMES_MINGW_DEPS_PREFIX}/built.cmake)
    tapnames_deps_outdated(outdated)
  endif()
endif()
if(outdated)
  message(STATUS "Building the MinGW libraries (libarchive, its compressors, SQLite) into "
                 "${TAPNAMES_MINGW_DEPS_PREFIX}; this takes some minutes, once")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -DPREFIX=${TAPNAMES_MINGW_DEPS_PREFIX}
            -DDOWNLOADS=${TAPNAMES_MINGW_DEPS_CACHE}/downloads -DTOOLCHAIN=${toolchain}
            -DJOBS=${TAPNAMES_MINGW_DEPS_JOBS} -P ${CMAKE_CURRENT_LIST_DIR}/mingw-deps/build.cmake
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "The MinGW libraries were not built (see above). To build without "
                        "them, and with a catalogue that reads no archives, configure with "
                        "-DTAPNAMES_MINGW_DEPS=OFF.")
  endif()
else()
  message(STATUS "MinGW libraries: ${TAPNAMES_MINGW_DEPS_PREFIX}")
endif()

set(lib ${TAPNAMES_MINGW_DEPS_PREFIX}/lib)
set(include ${TAPNAMES_MINGW_DEPS_PREFIX}/include)
foreach(import IN ITEMS ZLIB::ZLIB=libz BZip2::BZip2=libbz2 LibLZMA::LibLZMA=liblzma
        zstd::libzstd_static=libzstd LZ4::lz4_static=liblz4 LibArchive::LibArchive=libarchive
        SQLite::SQLite3=libsqlite3 xxHash::xxhash=libxxhash)
  string(REPLACE "=" ";" import ${import})
  list(GET import 0 target)
  list(GET import 1 file)
  add_library(${target} STATIC IMPORTED)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION ${lib}/${file}.a
                                             INTERFACE_INCLUDE_DIRECTORIES ${include})
endforeach()
# Static builds of these two say so in their headers' declarations.
set_target_properties(LibLZMA::LibLZMA PROPERTIES INTERFACE_COMPILE_DEFINITIONS LZMA_API_STATIC)
set_target_properties(LibArchive::LibArchive PROPERTIES
  INTERFACE_COMPILE_DEFINITIONS LIBARCHIVE_STATIC
  INTERFACE_LINK_LIBRARIES
    "BZip2::BZip2;LibLZMA::LibLZMA;zstd::libzstd_static;LZ4::lz4_static;ZLIB::ZLIB")
set(ZLIB_FOUND TRUE)
set(LibArchive_FOUND TRUE)
set(SQLite3_FOUND TRUE)
