// SPDX-License-Identifier: MIT
// Fuzz target: the whole scan (reads, decoder, result lines and name
// rendering) over arbitrary bytes, in every combination of -a and -e, must
// write exactly what the independent model writes; so must the scan core with
// each classifier the CPU has, fed the image in pieces.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "model.h"
#include "scan.h"
#include "scanner/scanner.h"

namespace {

void require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

// support::scan_text does the same through scratch files, which Windows needs;
// memory streams here give the fuzzer 15 to 30 % more runs in its time.
std::string scan(const std::uint8_t* data, std::size_t size, bool extract_all, bool escape) {
  // fmemopen rejects a zero size; an empty image is a file with no bytes.
  std::FILE* image =
      size == 0 ? std::tmpfile() : fmemopen(const_cast<std::uint8_t*>(data), size, "rb");  // NOLINT
  char* text = nullptr;
  std::size_t length = 0;
  std::FILE* out = open_memstream(&text, &length);
  require(image != nullptr && out != nullptr);
  require(tapnames::scan_image(image, {extract_all, escape}, out) ==
          tapnames::ScanStatus::Complete);
  require(std::fclose(out) == 0 && std::fclose(image) == 0);
  std::string result(text, length);
  std::free(text);  // NOLINT(cppcoreguidelines-no-malloc): from open_memstream
  return result;
}

// The scan core with `classifier`, all names, fed pieces of 1 to 4 096 pulses
// whose sizes come from the image itself.
std::string scan_core(const std::uint8_t* data, std::size_t size, tapnames::Classifier classifier) {
  static tapnames::Scanner scanner;  // large: one for the run
  scanner = tapnames::Scanner({.extract_all = true}, classifier);
  std::string text;
  std::array<char, tapnames::kMaxResultLine> line{};
  const auto take = [&] {
    for (const auto& result : scanner.results()) {
      text.append(line.data(), tapnames::format_result_line(result, scanner.options(), line));
    }
    scanner.clear_results();
  };
  constexpr std::size_t kMaxPiece = 4096;
  for (std::size_t at = 0; at < size;) {
    const std::size_t piece = std::min(size - at, 1 + ((data[at] * std::size_t{31}) % kMaxPiece));
    const std::span<const std::uint8_t> bytes(data + at, piece);
    for (std::size_t used = 0; used < piece;) {
      used += scanner.feed(bytes.subspan(used));
      take();
    }
    at += piece;
  }
  scanner.finish();
  take();
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> tape(data, data + size);
  for (const bool extract_all : {false, true}) {
    for (const bool escape : {false, true}) {
      require(scan(data, size, extract_all, escape) ==
              model::scan_output(tape, extract_all, escape));
    }
  }
  const std::string all_names = model::scan_output(tape, true, false);
  for (const auto classifier : tapnames::kClassifiers) {
    if (tapnames::classifier_available(classifier)) {
      require(scan_core(data, size, classifier) == all_names);
    }
  }
  return 0;
}
