// SPDX-License-Identifier: MIT
// The progress line and the summary.
#include "catalogue/progress.h"

#include <cinttypes>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace catalogue {
namespace {

bool is_terminal(std::FILE* stream) {
#if defined(_WIN32)
  return _isatty(_fileno(stream)) != 0;
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
  std::fprintf(err,
               "tapnames-catalogue: %" PRIu64 " image%s, %" PRIu64 " name%s, %" PRIu64
               " image%s without names, %" PRIu64 " failure%s\n",
               summary.images, plural(summary.images), summary.names, plural(summary.names),
               summary.without_names, plural(summary.without_names), summary.failures,
               plural(summary.failures));
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
  std::fprintf(err_, "\r%" PRIu64 "/%" PRIu64 " files, %.0f MB/s", files_done, files_, rate / 1e6);
  if (rate > 0 && bytes_ >= bytes_done) {
    std::fprintf(err_, ", %.0f s left", static_cast<double>(bytes_ - bytes_done) / rate);
  }
  std::fputs("\x1b[K", err_);
  std::fflush(err_);
  drawn_ = true;
}

void Progress::clear() {
  if (drawn_) {
    std::fputs("\r\x1b[K", err_);
    drawn_ = false;
  }
}

}  // namespace catalogue
