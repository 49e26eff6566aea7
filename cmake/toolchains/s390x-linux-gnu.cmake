# SPDX-License-Identifier: MIT
# Linux s390x with Debian's cross compiler; tests run under qemu-user.
#   cmake -S . -B build-s390x --toolchain cmake/toolchains/s390x-linux-gnu.cmake
set(TAPNAMES_CROSS_ARCH s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
