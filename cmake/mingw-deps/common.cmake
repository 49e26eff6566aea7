# SPDX-License-Identifier: MIT
# What MingwDeps.cmake and build.cmake both need: the pins, and what apt
# offers of them.
include(${CMAKE_CURRENT_LIST_DIR}/pins.cmake)

# Indented, so that message() keeps its lines as they are.
set(TAPNAMES_DEPS_NO_SOURCES [=[
  apt finds no source packages. As root, add Debian's deb-src entries (made
  from the deb entries) and update apt's lists:
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
      > /etc/apt/sources.list.d/debian-src.sources
    apt-get update
  (where /etc/apt/sources.list holds "deb ..." lines instead, add them again
  as "deb-src ..." lines), and install dpkg-dev. Or configure with
  -DTAPNAMES_MINGW_DEPS=OFF for a catalogue that reads no archives.]=])

# The upstream part of a Debian version: no epoch, no Debian revision.
function(tapnames_deps_upstream version out)
  string(REGEX REPLACE "^[0-9]+:" "" upstream "${version}")
  string(REGEX REPLACE "-[^-]*$" "" upstream "${upstream}")
  set(${out} "${upstream}" PARENT_SCOPE)
endfunction()

# For each pinned package, sets <prefix>_<package> to the Debian versions apt
# offers of its pinned upstream version, newest first (empty when apt knows
# none), and <prefix>_<package>_OTHERS to the other versions it offers.
function(tapnames_deps_offered prefix)
  execute_process(COMMAND apt-cache showsrc --only-source ${TAPNAMES_DEPS_PACKAGES}
                  OUTPUT_VARIABLE text ERROR_QUIET RESULT_VARIABLE ignored)
  string(REGEX MATCHALL "\n(Package|Version): [^\n]+" fields "\n${text}")
  foreach(package IN LISTS TAPNAMES_DEPS_PACKAGES)
    set(pinned_${package} "")
    set(others_${package} "")
  endforeach()
  set(package "")
  foreach(field IN LISTS fields)
    if(field MATCHES "^\nPackage: (.+)$")
      set(package "${CMAKE_MATCH_1}")
      continue()
    endif()
    if(NOT field MATCHES "^\nVersion: (.+)$" OR NOT DEFINED TAPNAMES_DEPS_${package}_VERSION)
      continue()
    endif()
    set(version "${CMAKE_MATCH_1}")
    tapnames_deps_upstream("${version}" upstream)
    if(NOT upstream STREQUAL TAPNAMES_DEPS_${package}_VERSION)
      list(APPEND others_${package} "${version}")
      continue()
    endif()
    if(version IN_LIST pinned_${package})
      continue()  # in two suites
    endif()
    # Into its place, newest first, by dpkg's ordering of versions.
    set(sorted "")
    set(placed FALSE)
    foreach(other IN LISTS pinned_${package})
      if(NOT placed)
        execute_process(COMMAND dpkg --compare-versions "${version}" gt "${other}"
                        RESULT_VARIABLE newer)
        if(newer EQUAL 0)
          list(APPEND sorted "${version}")
          set(placed TRUE)
        endif()
      endif()
      list(APPEND sorted "${other}")
    endforeach()
    if(NOT placed)
      list(APPEND sorted "${version}")
    endif()
    set(pinned_${package} "${sorted}")
  endforeach()
  foreach(package IN LISTS TAPNAMES_DEPS_PACKAGES)
    set(${prefix}_${package} "${pinned_${package}}" PARENT_SCOPE)
    list(REMOVE_DUPLICATES others_${package})
    set(${prefix}_${package}_OTHERS "${others_${package}}" PARENT_SCOPE)
  endforeach()
endfunction()
