// SPDX-License-Identifier: MIT
// The scan core: takes an image in pieces of any size, as they come (reads of
// a file, decompressed blocks, a browser's slices), and hands back the names
// found, numbered, with where each header lies and its block type. Holds the
// decoder, the numbering and the first-name stop. Pulses in, results out: no
// streams, no text, no allocation. Every front end (the command line, the
// catalogue, the web page) puts its own reading and writing around it.
//
//   Scanner scanner(ScanMode::AllNames);
//   for each piece:  scanner.scan(piece, [](const NameResult& result) { ... });
//   at the end:      scanner.finish([](const NameResult& result) { ... });
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "pulse_classes.h"
#include "pulse_decoder.h"

namespace tapnames {

// The end of the input reaches the decoder once, as this pulse value, so that
// a name whose last bit is the last byte of the image is still reported.
inline constexpr std::uint8_t kEndOfFilePulse = 255;

// A name is reported on the pulse after the header bytes (sync, block
// type, five bytes, name) that follow the pilot: 248 pulses after the first
// sync byte.
inline constexpr std::uint64_t kReportDistance = std::uint64_t{kHeaderBytes} * 8;

// The size of the pieces front ends read an image in: large, so that the
// system calls are few; the core classifies each in parts that stay in the
// cache.
inline constexpr std::size_t kReadSize = std::size_t{128} * 1024;

// Whether the scan stops at the first name or goes on to the end.
enum class ScanMode { FirstName, AllNames };

struct NameResult {
  std::uint64_t number = 0;  // 1, 2, 3... in the order of the tape
  // The 0-based byte position in the image of the header's first sync byte.
  // A name reported on the end-of-image pulse has offset size - 248.
  std::uint64_t offset = 0;
  std::uint8_t block_type = 0;                   // 1 or 2
  std::array<std::uint8_t, kNameLength> name{};  // as on tape
};

class Scanner {
 public:
  // Results held at most before they must be taken.
  static constexpr std::size_t kMaxResults = 64;

  explicit Scanner(ScanMode mode = ScanMode::AllNames,
                   const Classifier& classifier = best_classifier()) noexcept
      : mode_(mode), classifier_(&classifier) {}

  // A scanner with no classifier yet, all zero, so that one in static
  // storage costs nothing at start-up (it lies in memory the system hands
  // over zeroed, not in the program file); reset() it with a classifier
  // before feeding it.
  struct Unstarted {};
  constexpr explicit Scanner(Unstarted /*tag*/) noexcept
      : mode_(ScanMode::FirstName), classifier_(nullptr) {}

  // Starts a new image in `mode`, as a new scanner would, without making one
  // (a scanner is large: front ends keep one and reuse it); the second form
  // also changes the classifier.
  void reset(ScanMode mode) noexcept;
  void reset(ScanMode mode, const Classifier& classifier) noexcept {
    classifier_ = &classifier;
    reset(mode);
  }

  // Scans the whole of `piece`, or up to the first name in first-name mode,
  // handing each name found to `take(const NameResult&)`, in tape order.
  // Returns the pulses used.
  template <typename Take>
  std::size_t scan(std::span<const std::uint8_t> piece, Take&& take) {
    std::size_t used = 0;
    while (used < piece.size() && !done()) {
      used += feed(piece.subspan(used));
      hand_over(take);
    }
    return used;
  }

  // The end of the image, as finish() below; hands over what it finds.
  template <typename Take>
  void finish(Take&& take) {
    finish();
    hand_over(take);
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
  [[nodiscard]] ScanMode mode() const noexcept { return mode_; }

 private:
  template <typename Take>
  void hand_over(Take& take) {
    for (const NameResult& result : results()) {
      take(result);
    }
    clear_results();
  }

  // The report came on pulse `report` of the image.
  void add_result(std::uint64_t report) noexcept;
  [[nodiscard]] bool full() const noexcept { return result_count_ + 1 >= kMaxResults; }

  ScanMode mode_;
  const Classifier* classifier_;
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
