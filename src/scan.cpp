// SPDX-License-Identifier: MIT
// The scan loop: one read loop over a fixed buffer with every read's result
// checked, each piece read handed to the scan core, and the result lines
// written as the core finds names.
#include "scan.h"

#include <array>
#include <cerrno>

namespace tapnames {
namespace {

// The system copies into a buffer that starts on a page fastest.
constexpr std::size_t kPageSize = 4096;

// Writes the result lines of the names found so far and takes them.
void write_results(Scanner& scanner, std::FILE* out) {
  std::array<char, kMaxResultLine> line{};
  for (const NameResult& result : scanner.results()) {
    std::fwrite(line.data(), 1, format_result_line(result, scanner.options(), line), out);
  }
  scanner.clear_results();
}

// How a scan that ends here went: a failed write outranks everything else.
ScanStatus ended(std::FILE* out) {
  return std::ferror(out) != 0 ? ScanStatus::WriteError : ScanStatus::Complete;
}

// The buffer and the core are large, so they live for the run rather than on
// the stack; the scan is not reentrant, like the decoder. Both are set up at
// compile time: the classifier is chosen when the scan starts.
alignas(kPageSize) std::array<std::uint8_t, kReadSize> read_buffer;  // NOLINT: filled by each read
constinit Scanner scanner({}, Classifier::Portable);                 // NOLINT: reset by each scan

}  // namespace

ScanStatus scan_image(std::FILE* image, const ScanOptions& options, std::FILE* out) noexcept {
  scanner.reset(options, best_classifier());
  for (;;) {
    errno = 0;
    const std::size_t got = std::fread(read_buffer.data(), 1, read_buffer.size(), image);
    const bool failed = got < read_buffer.size() && std::ferror(image) != 0;
    const std::span<const std::uint8_t> piece(read_buffer.data(), got);
    for (std::size_t used = 0; used < got && !scanner.done();) {
      used += scanner.feed(piece.subspan(used));
      write_results(scanner, out);
    }
    if (scanner.done()) {
      return ended(out);  // first-name mode has its name
    }
    if (std::ferror(out) != 0) {
      return ScanStatus::WriteError;  // no use reading on
    }
    if (failed) {
      if (errno == EINTR) {  // interrupted, nothing lost: read on
        std::clearerr(image);
        continue;
      }
      return ScanStatus::ReadError;
    }
    if (got < read_buffer.size()) {  // the end of the image
      scanner.finish();
      write_results(scanner, out);
      return ended(out);
    }
  }
}

}  // namespace tapnames
