// SPDX-License-Identifier: MIT
// The platform seam: binary streams on Windows, a read-ahead hint on Linux.
#include "platform.h"

#include <sys/stat.h>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#elif defined(__linux__)
#include <fcntl.h>
#endif

namespace tapnames {
namespace {

bool is_directory(const char* path) {
#if defined(_WIN32)
  struct _stat64 status {};
  return _stat64(path, &status) == 0 && (status.st_mode & _S_IFDIR) != 0;
#else
  struct stat status {};
  return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
#endif
}

}  // namespace

OpenedImage open_image(const char* path) noexcept {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    return {nullptr, is_directory(path)};
  }
#if defined(__linux__)
  // Only a hint for read-ahead; the scan does not depend on it.
  static_cast<void>(posix_fadvise(fileno(file), 0, 0, POSIX_FADV_SEQUENTIAL));
#endif
  return {file, false};
}

void use_binary_output() noexcept {
#if defined(_WIN32)
  static_cast<void>(_setmode(_fileno(stdout), _O_BINARY));
  static_cast<void>(_setmode(_fileno(stderr), _O_BINARY));
#endif
}

}  // namespace tapnames
