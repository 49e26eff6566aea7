// SPDX-License-Identifier: MIT
// The scan core: takes an image in pieces of any size, as they come (reads of
// a file, decompressed blocks, a browser's slices), and hands back the names
// found so far, numbered, with where each header lies and its block type.
// Holds the decoder, the numbering and the first-name stop, and writes result
// lines into buffers. No streams, no allocation: every front end (the
// command line, the catalogue, the web page) puts its own reading and
// writing around it.
//
//   Scanner scanner({.extract_all = true});
//   for each piece:
//     for (std::size_t used = 0; used < piece.size() && !scanner.done();) {
//       used += scanner.feed(piece.subspan(used));
//       ... take scanner.results(), then scanner.clear_results() ...
//     }
//   scanner.finish();  ... take the results once more ...
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "decoder/pulse_classes.h"
#include "decoder/pulse_decoder.h"
#include "render/name_render.h"

namespace tapnames {

// The end of the input reaches the decoder once, as this pulse value, so that
// a name whose last bit is the last byte of the image is still reported.
inline constexpr std::uint8_t kEndOfFilePulse = 255;

// A name is reported on the pulse after the 31 header bytes (sync, block
// type, five bytes, name) that follow the pilot: 248 pulses after the first
// sync byte.
inline constexpr std::uint64_t kReportDistance = std::uint64_t{31} * 8;

struct ScanOptions {
  bool extract_all = false;  // every name, numbered; else stop at the first
  bool escape = false;       // control codes by name
};

struct NameResult {
  std::uint64_t number = 0;  // 1, 2, 3... in the order of the tape
  // The 0-based byte position in the image of the header's first sync byte.
  // A name reported on the end-of-image pulse has offset size - 248.
  std::uint64_t offset = 0;
  std::uint8_t block_type = 0;  // 1 or 2
  TapeName name{};              // the 16 name bytes as on tape; byte 16 is 0
};

// The longest result line: "FOUND (" with 20 digits, "): \"", the longest
// name and "\"\n".
inline constexpr std::size_t kMaxResultLine = 32 + kMaxRenderedName;

// Writes the name as `tapnames` shows it (trailing spaces trimmed, control
// codes dropped or, with `escape`, named). Returns the characters written.
std::size_t format_name(const NameResult& result, bool escape,
                        std::span<char, kMaxRenderedName> out) noexcept;

// Writes the whole result line, "FOUND: \"NAME\"\n" or, in all-names mode,
// "FOUND (001): \"NAME\"\n". Returns the characters written.
std::size_t format_result_line(const NameResult& result, const ScanOptions& options,
                               std::span<char, kMaxResultLine> out) noexcept;

class Scanner {
 public:
  // Results held at most before they must be taken.
  static constexpr std::size_t kMaxResults = 64;

  // Constant when the classifier is given as a constant, so that a scanner
  // in static storage costs nothing at start-up.
  constexpr explicit Scanner(const ScanOptions& options = {},
                             Classifier classifier = best_classifier()) noexcept
      : options_(options), classifier_(classifier) {}

  // Starts a new image with `options`, as a new scanner would, without
  // making one (a scanner is large: front ends keep one and reuse it); the
  // second form also changes the classifier.
  void reset(const ScanOptions& options) noexcept;
  void reset(const ScanOptions& options, Classifier classifier) noexcept {
    classifier_ = classifier;
    reset(options);
  }

  // Scans pulses from the front of `piece` and returns how many it used.
  // That is all of them unless the results are full (take them, then feed
  // the rest) or the scan is done (first-name mode has its name). The piece
  // need not outlive the call.
  std::size_t feed(std::span<const std::uint8_t> piece) noexcept;

  // The end of the image: feeds the end-of-file pulse once. Feeding leaves
  // room for the one result this can add. Calls after the first do nothing.
  void finish() noexcept;

  // The names found since the results were last cleared, in tape order.
  [[nodiscard]] std::span<const NameResult> results() const noexcept {
    return std::span(results_).first(result_count_);
  }
  void clear_results() noexcept { result_count_ = 0; }

  // True once nothing more will be found: first-name mode has its name, or
  // the image has been finished.
  [[nodiscard]] bool done() const noexcept { return done_ || finished_; }

  [[nodiscard]] std::uint64_t pulses_scanned() const noexcept { return position_; }
  [[nodiscard]] std::uint64_t names_found() const noexcept { return names_; }
  [[nodiscard]] const ScanOptions& options() const noexcept { return options_; }

 private:
  // The report came on pulse `report` of the image.
  void add_result(std::uint64_t report) noexcept;
  [[nodiscard]] bool full() const noexcept { return result_count_ + 1 >= kMaxResults; }

  ScanOptions options_;
  Classifier classifier_;
  PulseDecoder decoder_;
  TapeName name_{};
  std::uint64_t position_ = 0;  // pulses of the image scanned so far
  std::uint64_t names_ = 0;
  bool done_ = false;
  bool finished_ = false;
  std::size_t result_count_ = 0;
  std::array<NameResult, kMaxResults> results_{};
  ClassifiedPulses classified_;
};

}  // namespace tapnames
