// SPDX-License-Identifier: MIT
// The progress line and the summary.
#include "progress.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <string_view>

#include "platform.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace catalogue {
namespace {

bool is_terminal(std::FILE* stream) {
#if defined(_WIN32)
  return tapnames::is_console(stream);  // _isatty is true for the null device too
#else
  return isatty(fileno(stream)) != 0;
#endif
}

constexpr auto kRedrawEvery = std::chrono::milliseconds(150);

const char* plural(std::uint64_t count) {
  return count == 1 ? "" : "s";
}

}  // namespace

void print_summary(const Summary& summary, std::FILE* err) {
  std::array<char, 256> line{};
  const int length =
      std::snprintf(line.data(), line.size(),
                    "tapnames-catalogue: %" PRIu64 " image%s, %" PRIu64 " name%s, %" PRIu64
                    " image%s without names, %" PRIu64 " failure%s\n",
                    summary.images, plural(summary.images), summary.names, plural(summary.names),
                    summary.without_names, plural(summary.without_names), summary.failures,
                    plural(summary.failures));
  if (length > 0) {
    tapnames::write_text(
        err,
        std::string_view(line.data(), std::min(static_cast<std::size_t>(length), line.size() - 1)));
  }
}

Progress::Progress(bool enabled, std::FILE* err, std::uint64_t files, std::uint64_t bytes)
    : enabled_(enabled && is_terminal(err)),
      err_(err),
      files_(files),
      bytes_(bytes),
      start_(std::chrono::steady_clock::now()),
      last_(start_) {}

void Progress::update(std::uint64_t files_done, std::uint64_t bytes_done) {
  if (!enabled_) {
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ < kRedrawEvery) {
    return;
  }
  last_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double rate = seconds > 0 ? static_cast<double>(bytes_done) / seconds : 0;
  std::array<char, 128> line{};
  int length = std::snprintf(line.data(), line.size(), "%" PRIu64 "/%" PRIu64 " files, %.0f MB/s",
                             files_done, files_, rate / 1e6);
  if (length > 0 && rate > 0 && bytes_ >= bytes_done) {
    const auto used = static_cast<std::size_t>(length);
    const int more = std::snprintf(line.data() + used, line.size() - used, ", %.0f s left",
                                   static_cast<double>(bytes_ - bytes_done) / rate);
    length = more > 0 ? length + more : length;
  }
  length = std::min(std::max(length, 0), static_cast<int>(line.size()) - 1);
  // Spaces rather than terminal control codes over the rest of the last line,
  // so that every console shows it alike.
  tapnames::write_text(err_, "\r");
  tapnames::write_text(err_, std::string_view(line.data(), static_cast<std::size_t>(length)));
  write_spaces(drawn_ - length);
  std::fflush(err_);
  drawn_ = length;
}

void Progress::write_spaces(int count) {
  constexpr std::string_view kSpaces = "                                ";
  while (count > 0) {
    const std::size_t now = std::min(static_cast<std::size_t>(count), kSpaces.size());
    tapnames::write_text(err_, kSpaces.substr(0, now));
    count -= static_cast<int>(now);
  }
}

void Progress::clear() {
  if (drawn_ > 0) {
    tapnames::write_text(err_, "\r");
    write_spaces(drawn_);
    tapnames::write_text(err_, "\r");
    drawn_ = 0;
  }
}

}  // namespace catalogue
