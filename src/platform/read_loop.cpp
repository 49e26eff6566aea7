// SPDX-License-Identifier: MIT
// The read loop over stdio: fread fills the buffer, and a read that a signal
// interrupts sets the stream's error flag with EINTR, which is cleared here
// and the read taken up where it stopped.
#include "read_loop.h"

#include <cerrno>
#include <cstring>

namespace tapnames {
namespace {

// strerror_r comes in two forms: the one that returns a status and fills
// the storage, and the one that returns the text.
[[maybe_unused]] const char* chosen(int status, const char* storage) {
  return status == 0 ? storage : nullptr;
}
[[maybe_unused]] const char* chosen(const char* text, const char* /*storage*/) {
  return text;
}

}  // namespace

ReadResult read_full(std::FILE* file, std::span<std::uint8_t> buffer) noexcept {
  ReadResult result;
  while (result.count < buffer.size()) {
    errno = 0;
    const std::size_t got =
        std::fread(buffer.data() + result.count, 1, buffer.size() - result.count, file);
    const int error = errno;
    result.count += got;
    if (std::ferror(file) != 0) {
      if (error == EINTR) {  // interrupted, nothing lost: read on
        std::clearerr(file);
        continue;
      }
      result.error = error != 0 ? error : EIO;
      return result;
    }
    if (got == 0 || std::feof(file) != 0) {
      return result;  // the end of the input
    }
  }
  return result;
}

std::string_view error_text(int error, std::span<char, kErrorTextSize> storage) noexcept {
  storage[0] = '\0';
#if defined(_WIN32)
  const char* text =
      strerror_s(storage.data(), storage.size(), error) == 0 ? storage.data() : nullptr;
#else
  const char* text = chosen(strerror_r(error, storage.data(), storage.size()), storage.data());
#endif
  if (text == nullptr || *text == '\0') {
    return "unknown error";
  }
  return text;
}

}  // namespace tapnames
