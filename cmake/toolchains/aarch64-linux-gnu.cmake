# SPDX-License-Identifier: MIT
# Linux aarch64 with Debian's cross compiler; tests run under qemu-user.
#   cmake -S . -B build-aarch64 --toolchain cmake/toolchains/aarch64-linux-gnu.cmake
set(TAPNAMES_CROSS_ARCH aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
