# SPDX-License-Identifier: MIT
# WebAssembly (wasm32) with Debian's clang 14, for the web page alone:
#   cmake -S . -B build-web --toolchain cmake/toolchains/wasm32.cmake && cmake --build build-web
# Headers come from wasi-libc (/usr/include/wasm32-wasi) and libc++-14-dev-wasm32;
# nothing of either is linked: the modules are freestanding (-nostdlib), link
# with wasm-ld-14 without an entry point, export what the page calls and
# import nothing.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(TAPNAMES_WEB ON CACHE BOOL "Build the web page (set by the wasm32 toolchain)" FORCE)

find_program(TAPNAMES_WASM_CLANG NAMES clang++-14 REQUIRED)
find_program(TAPNAMES_WASM_LD NAMES wasm-ld-14 REQUIRED)
set(CMAKE_CXX_COMPILER ${TAPNAMES_WASM_CLANG})
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)

# Only the wasm headers: none of the host's /usr/include or /usr/local/include.
execute_process(COMMAND ${TAPNAMES_WASM_CLANG} -print-resource-dir
                OUTPUT_VARIABLE tapnames_clang_resources OUTPUT_STRIP_TRAILING_WHITESPACE)
set(TAPNAMES_WASI_HEADERS /usr/include/wasm32-wasi)
string(CONCAT CMAKE_CXX_FLAGS_INIT
       "-nostdlib -nostdinc -fno-exceptions -fno-rtti -fno-threadsafe-statics -mbulk-memory "
       "-isystem ${TAPNAMES_WASI_HEADERS}/c++/v1 -isystem ${tapnames_clang_resources}/include "
       "-isystem ${TAPNAMES_WASI_HEADERS}")
# wasm-ld itself links, not the compiler driver (which would also run any
# wasm-opt it finds on the PATH, without the features the code uses).
set(CMAKE_LINKER ${TAPNAMES_WASM_LD})
set(CMAKE_CXX_LINK_EXECUTABLE "<CMAKE_LINKER> <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")
set(CMAKE_EXE_LINKER_FLAGS_INIT "--no-entry")

# No C library to link a test program against: compile checks only.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
