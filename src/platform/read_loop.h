// SPDX-License-Identifier: MIT
// The one read loop that every reader of images shares: it fills a buffer
// from a stream, takes up a read that a signal interrupted (before or after
// part of the buffer was read) and leaves the stream's error flag set only
// for a read that really failed, so the end of an image is never taken for a
// failure. And the text for a system error, safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

namespace tapnames {

struct ReadResult {
  std::size_t count = 0;  // bytes read into the buffer, from its start
  int error = 0;          // 0 when the buffer is full or the input ended; else why a read failed
};

// Reads into `buffer` until it is full, the input ends or a read fails. Fewer
// bytes than the buffer holds with no error: the input has ended. A read
// interrupted by a signal (EINTR) is taken up again.
ReadResult read_full(std::FILE* file, std::span<std::uint8_t> buffer) noexcept;

// The system's text for `error` (an errno value), written into `storage`
// when the system needs it; safe from several threads at once.
inline constexpr std::size_t kErrorTextSize = 128;
std::string_view error_text(int error, std::span<char, kErrorTextSize> storage) noexcept;

}  // namespace tapnames
