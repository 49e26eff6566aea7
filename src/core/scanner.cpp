// SPDX-License-Identifier: MIT
// The scan core: pieces of an image, passed over where no name can begin and
// otherwise taken through the decoder's bulk path a classified read at a
// time, and the results found numbered and placed.
#include "scanner.h"

#include <algorithm>
#include <cassert>

namespace tapnames {

void Scanner::reset(ScanMode mode) noexcept {
  mode_ = mode;
  decoder_ = PulseDecoder();
  name_ = TapeName{};
  position_ = 0;
  names_ = 0;
  done_ = false;
  finished_ = false;
  result_count_ = 0;
}

std::size_t Scanner::feed(std::span<const std::uint8_t> piece) noexcept {
  std::size_t used = 0;
  // One classified read at a time; a piece larger than that is taken in
  // several. A read is left early only when a result has to be taken first,
  // and what is left of it is classified again on the next call.
  while (used < piece.size() && !done() && !full()) {
    // Where no name can begin the pulses are passed over unclassified.
    const std::size_t passed = decoder_.pass_search(piece.subspan(used), *classifier_);
    used += passed;
    position_ += passed;
    if (used == piece.size()) {
      break;
    }
    const std::span<const std::uint8_t> read =
        piece.subspan(used, std::min(piece.size() - used, kMaxClassifiedPulses));
    classified_.classify(read, *classifier_);
    std::size_t at = 0;
    while (at < read.size() && !done() && !full()) {
      const BulkResult step = decoder_.feed_pulses(classified_, at, name_);
      at += step.consumed;
      if (step.found) {
        add_result(position_ + at - 1);
      }
    }
    used += at;
    position_ += at;
  }
  return used;
}

void Scanner::finish() noexcept {
  if (finished_) {
    return;
  }
  finished_ = true;
  if (done_) {
    return;  // first-name mode stopped reading at its name
  }
  assert(result_count_ < kMaxResults);  // feed() leaves room for this one result
  if (decoder_.feed_pulse(kEndOfFilePulse, name_) != 0 && result_count_ < kMaxResults) {
    add_result(position_);
  }
}

void Scanner::add_result(std::uint64_t report) noexcept {
  NameResult& result = results_[result_count_++];
  result.number = ++names_;
  // A report needs the 248 header pulses before it, so this never wraps.
  result.offset = report >= kReportDistance ? report - kReportDistance : 0;
  result.block_type = decoder_.block_type();
  std::copy_n(name_.begin(), kNameLength, result.name.begin());
  if (mode_ == ScanMode::FirstName) {
    done_ = true;
  }
}

}  // namespace tapnames
