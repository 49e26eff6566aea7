# SPDX-License-Identifier: MIT
# tapnames_windows_program(TARGET DESCRIPTION): what a console program needs on
# Windows, for each program the project installs there:
# - the wide entry point wmain (see src/cli/main.cpp), which MinGW links with
#   -municode;
# - a manifest: the UTF-8 code page, long paths, no elevation, Windows 10 and
#   later;
# - a version resource taken from project()'s version, which Explorer shows
#   under Properties, Details.
# Elsewhere it does nothing.
if(WIN32)
  enable_language(RC)
endif()

function(tapnames_windows_program target description)
  if(NOT WIN32)
    return()
  endif()
  set(program ${target})
  set(program_description ${description})
  # Four numbers, missing ones as 0: 1.1 is 1,1,0,0.
  set(version_numbers "")
  foreach(part MAJOR MINOR PATCH TWEAK)
    set(number "${PROJECT_VERSION_${part}}")
    if(number STREQUAL "")
      set(number 0)
    endif()
    list(APPEND version_numbers ${number})
  endforeach()
  list(JOIN version_numbers "," version_commas)
  list(JOIN version_numbers "." version_dots)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/generated/windows)
  set(manifest ${dir}/${target}.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/program.manifest.in ${manifest} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/windows/program.rc.in ${dir}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${dir}/${target}.rc)
  set_property(SOURCE ${dir}/${target}.rc APPEND PROPERTY OBJECT_DEPENDS ${manifest})
  if(MINGW)
    target_link_options(${target} PRIVATE -municode)
  endif()
  if(MSVC)
    target_link_options(${target} PRIVATE /MANIFEST:NO)  # ours is in the resource
  endif()
endfunction()
