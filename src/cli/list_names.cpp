// SPDX-License-Identifier: MIT
// The read loop: one loop over a fixed buffer, filled by the platform's read
// loop (which takes up interrupted reads), each piece read handed to the scan core, and the result
// lines written as the core finds names.
#include "list_names.h"

#include <array>
#include <cstdint>
#include <span>

#include "name_render.h"
#include "read_loop.h"
#include "scanner.h"

namespace tapnames {
namespace {

// The system copies into a buffer that starts on a page fastest.
constexpr std::size_t kPageSize = 4096;

// How a listing that ends here went: a failed write outranks everything else.
ListStatus ended(std::FILE* out) {
  return std::ferror(out) != 0 ? ListStatus::WriteError : ListStatus::Complete;
}

// The buffer and the core are large, so they live for the run rather than on
// the stack; the loop is not reentrant, like the decoder. Both are set up at
// compile time: the classifier is chosen when the listing starts.
alignas(kPageSize) std::array<std::uint8_t, kReadSize> read_buffer;   // NOLINT: filled by each read
constinit Scanner scanner(ScanMode::FirstName, kPortableClassifier);  // NOLINT: reset each time

}  // namespace

ListStatus list_names(std::FILE* image, const ListOptions& options, std::FILE* out) noexcept {
  scanner.reset(options.extract_all ? ScanMode::AllNames : ScanMode::FirstName, best_classifier());
  const auto write_line = [&options, out](const NameResult& result) {
    std::array<char, kMaxResultLine> line{};
    const std::size_t length =
        render_result_line(options.extract_all, result.number, result.name, options.escape, line);
    std::fwrite(line.data(), 1, length, out);
  };
  for (;;) {
    const ReadResult got = read_full(image, read_buffer);
    scanner.scan(std::span<const std::uint8_t>(read_buffer.data(), got.count), write_line);
    if (scanner.done()) {
      return ended(out);  // first-name mode has its name
    }
    if (std::ferror(out) != 0) {
      return ListStatus::WriteError;  // no use reading on
    }
    if (got.error != 0) {
      return ListStatus::ReadError;
    }
    if (got.count < read_buffer.size()) {  // the end of the image
      scanner.finish(write_line);
      return ended(out);
    }
  }
}

}  // namespace tapnames
