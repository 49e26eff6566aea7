// SPDX-License-Identifier: MIT
// The progress line and the summary.
#include "progress.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <span>
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

// "N images, N names, N skipped, N failures", and after the names, in the
// summary, "N images without names".
int print_counts(std::span<char> line, const Summary& summary, bool without_names) {
  std::array<char, 64> without{};
  if (without_names) {
    std::snprintf(without.data(), without.size(), ", %" PRIu64 " image%s without names",
                  summary.without_names, plural(summary.without_names));
  }
  return std::snprintf(line.data(), line.size(),
                       "%" PRIu64 " image%s, %" PRIu64 " name%s%s, %" PRIu64 " skipped, %" PRIu64
                       " failure%s",
                       summary.images, plural(summary.images), summary.names, plural(summary.names),
                       without.data(), summary.skipped, summary.failures, plural(summary.failures));
}

}  // namespace

void add(Summary& total, const Summary& part) {
  total.images += part.images;
  total.names += part.names;
  total.without_names += part.without_names;
  total.skipped += part.skipped;
  total.failures += part.failures;
  total.bytes += part.bytes;
}

void print_summary(const Summary& summary, double seconds, std::FILE* err) {
  std::array<char, 256> counts{};
  print_counts(counts, summary, true);
  std::array<char, 384> line{};
  const int length = std::snprintf(line.data(), line.size(),
                                   "tapnames-catalogue: %s, %" PRIu64 " byte%s read in %.2f s\n",
                                   counts.data(), summary.bytes, plural(summary.bytes), seconds);
  if (length > 0) {
    tapnames::write_text(
        err,
        std::string_view(line.data(), std::min(static_cast<std::size_t>(length), line.size() - 1)));
  }
}

Progress::Progress(bool enabled, std::FILE* out, std::FILE* err, std::uint64_t files,
                   std::uint64_t bytes)
    : enabled_(enabled && is_terminal(err) && !is_terminal(out)),
      err_(err),
      files_(files),
      bytes_(bytes),
      start_(std::chrono::steady_clock::now()),
      last_(start_) {}

void Progress::update(std::uint64_t files_done, std::uint64_t bytes_done, const Summary& counts) {
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
  std::array<char, 256> line{};
  int length = std::snprintf(line.data(), line.size(), "%" PRIu64 "/%" PRIu64 " files, ",
                             files_done, files_);
  if (length > 0) {
    const auto used = static_cast<std::size_t>(length);
    const int more = print_counts(std::span(line).subspan(used), counts, false);
    length = more > 0 ? length + more : length;
  }
  if (length > 0 && static_cast<std::size_t>(length) < line.size()) {
    const auto used = static_cast<std::size_t>(length);
    const int more =
        std::snprintf(line.data() + used, line.size() - used, ", %.0f MB/s", rate / 1e6);
    length = more > 0 ? length + more : length;
  }
  if (length > 0 && static_cast<std::size_t>(length) < line.size() && rate > 0 &&
      bytes_ >= bytes_done) {
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
