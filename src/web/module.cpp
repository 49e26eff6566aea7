// SPDX-License-Identifier: MIT
// The web page's WebAssembly module: the scan core and its renderer behind a
// few C functions. The page's worker copies each slice of an image into the
// input buffer and feeds it; the results found are read one by one (number,
// offset, block type, the 16 name bytes) and cleared. The page keeps each
// name's bytes and has them rendered into text, so that changing -e or -a
// renders again what was read without reading it again. The module has no
// entry point, imports nothing and allocates nothing: its memory is the input
// buffer, one name, one text buffer and one scanner, all static.
//
//   reset(all)                      a new image: every name (1) or the first (0)
//   feed(at, length) -> used        scans input()[at, at + length)
//   result_count(), result_*(i)     the names found since clear_results()
//   finish()                        the end of the image
//   render_line(flags, number)      name() as a result line, into text()
//   render_name(escape)             name() as between the quotes, into text()
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "name_render.h"
#include "scanner.h"
#include "version.h"

namespace {

using tapnames::NameResult;
using tapnames::ScanMode;
using tapnames::Scanner;

// The most the worker copies in at once: eight classified reads of the core.
constexpr std::size_t kInputSize = std::size_t{1} << 20;
// The flags of render_line().
constexpr std::uint32_t kNumbered = 1;
constexpr std::uint32_t kEscape = 2;

alignas(16) std::array<std::uint8_t, kInputSize> input;  // NOLINT: filled by the worker
std::array<char, tapnames::kMaxResultLine> text;         // NOLINT: read by the page
std::array<std::uint8_t, tapnames::kNameLength> name;    // NOLINT: the name to render

// Made on first use (no global constructors to run: the module has no entry).
Scanner& scanner() {
  static Scanner instance;
  return instance;
}

// The result `index` of those held, or the last one if `index` is too large.
const NameResult& result(std::uint32_t index) {
  const std::span<const NameResult> results = scanner().results();
  return results[index < results.size() ? index : results.size() - 1];
}

std::uint32_t length_of(std::size_t length) {
  return static_cast<std::uint32_t>(length);
}

}  // namespace

extern "C" {

__attribute__((export_name("input"))) std::uint8_t* input_buffer() {
  return input.data();
}
__attribute__((export_name("input_size"))) std::uint32_t input_size() {
  return kInputSize;
}
__attribute__((export_name("text"))) const char* text_buffer() {
  return text.data();
}
__attribute__((export_name("name"))) std::uint8_t* name_buffer() {
  return name.data();
}

// Writes the banner line the command-line tool starts with; returns its length.
__attribute__((export_name("banner"))) std::uint32_t banner() {
  constexpr std::string_view kName = "tapnames rel ";
  std::size_t at = 0;
  for (const std::string_view part : {kName, tapnames::kRelease, std::string_view("\n")}) {
    for (const char c : part) {
      text[at++] = c;
    }
  }
  return length_of(at);
}

// 1 when this module classifies with WebAssembly SIMD.
__attribute__((export_name("simd"))) std::uint32_t simd() {
  return &tapnames::best_classifier() != &tapnames::kPortableClassifier ? 1 : 0;
}

__attribute__((export_name("reset"))) void reset(std::uint32_t all) {
  scanner().reset(all != 0 ? ScanMode::AllNames : ScanMode::FirstName);
}

// Scans input[at, at + length) and returns the pulses used: all of them
// unless the results must be taken first or the scan is done.
__attribute__((export_name("feed"))) std::uint32_t feed(std::uint32_t at, std::uint32_t length) {
  if (at > kInputSize || length > kInputSize - at) {
    return 0;
  }
  return length_of(scanner().feed(std::span<const std::uint8_t>(input).subspan(at, length)));
}

__attribute__((export_name("finish"))) void finish() {
  scanner().finish();
}
__attribute__((export_name("done"))) std::uint32_t done() {
  return scanner().done() ? 1 : 0;
}

__attribute__((export_name("result_count"))) std::uint32_t result_count() {
  return length_of(scanner().results().size());
}
__attribute__((export_name("clear_results"))) void clear_results() {
  scanner().clear_results();
}

// Copies the name bytes of result `index` into name().
__attribute__((export_name("result_name"))) void result_name(std::uint32_t index) {
  if (!scanner().results().empty()) {
    name = result(index).name;
  }
}

// name() as the command-line tool's result line, numbered `number` when
// flags has kNumbered, into text(); returns its length.
__attribute__((export_name("render_line"))) std::uint32_t render_line(std::uint32_t flags,
                                                                      double number) {
  const std::uint64_t whole =
      number >= 0 && number < 0x1p64 ? static_cast<std::uint64_t>(number) : 0;
  return length_of(tapnames::render_result_line((flags & kNumbered) != 0, whole, name,
                                                (flags & kEscape) != 0, text));
}

// name() as it stands between the quotes of the result line, into text().
__attribute__((export_name("render_name"))) std::uint32_t render_name(std::uint32_t escape) {
  return length_of(tapnames::render_name(name, escape != 0,
                                         std::span(text).first<tapnames::kMaxRenderedName>()));
}

// Numbers and offsets as doubles, exact up to 2^53 (an image of 8 PiB).
__attribute__((export_name("result_number"))) double result_number(std::uint32_t index) {
  return scanner().results().empty() ? 0 : static_cast<double>(result(index).number);
}
__attribute__((export_name("result_offset"))) double result_offset(std::uint32_t index) {
  return scanner().results().empty() ? 0 : static_cast<double>(result(index).offset);
}
__attribute__((export_name("result_block_type"))) std::uint32_t result_block_type(
    std::uint32_t index) {
  return scanner().results().empty() ? 0 : result(index).block_type;
}
}
