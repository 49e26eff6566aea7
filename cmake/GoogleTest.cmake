# SPDX-License-Identifier: MIT
# Finds GoogleTest for the tests. A cross build compiles it from the sources
# that Debian's googletest package installs, with the cross compiler; a native
# build uses the installed library. Without either, the tool is still built
# and configure says in one line what to install.
set(TAPNAMES_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH
    "GoogleTest sources, compiled for the target when cross compiling")
set(TAPNAMES_HAVE_GTEST FALSE)
if(CMAKE_CROSSCOMPILING AND EXISTS ${TAPNAMES_GOOGLETEST_SOURCE}/CMakeLists.txt)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ${MINGW} CACHE BOOL "" FORCE)
  add_subdirectory(${TAPNAMES_GOOGLETEST_SOURCE} googletest EXCLUDE_FROM_ALL SYSTEM)
  # Its code is not ours to keep free of warnings.
  set_target_properties(gtest gtest_main PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
  if(NOT TARGET GTest::gtest_main)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
  set(TAPNAMES_HAVE_GTEST TRUE)
else()
  find_package(GTest QUIET)
  set(TAPNAMES_HAVE_GTEST ${GTest_FOUND})
endif()
if(NOT TAPNAMES_HAVE_GTEST)
  message(STATUS "Tests not built: GoogleTest not found (apt-get install libgtest-dev, "
                 "dnf install gtest-devel or brew install googletest)")
endif()
