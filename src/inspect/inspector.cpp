// SPDX-License-Identifier: MIT
// The event collector: the pass over the search where no pilot of
// --min-pilot bytes can begin, the observed per-pulse step everywhere else.
#include "inspector.h"

#include <algorithm>

#include "scanner.h"

namespace inspect {
namespace {

// Pulses stepped at least before the pass is tried again: a little more
// than the pass's row at the default least pilot, so that noise, where the
// pass finds little, costs a pass for every few hundred pulses.
constexpr std::size_t kLeastObserved = 512;
// The pass is asked about at most this many of its rows' windows at once,
// so that a pass that finds little costs little before the step takes over.
constexpr std::size_t kPassWindows = 64;
// Below this least pilot the pass's windows lie so close that stepping every
// pulse costs less.
constexpr std::int32_t kLeastPassedPilot = 16;
constexpr std::size_t kLockByte = 7;  // the lock pulse is the eighth of its byte
constexpr std::int32_t kBlockTypePosition = 10;
constexpr std::int32_t kFirstNamePosition = 16;
constexpr std::int32_t kNamePilot = tapnames::kNamePilotBytes;

}  // namespace

Inspector::Inspector(Settings settings, const tapnames::Classifier& classifier)
    : settings_(settings), classifier_(&classifier) {}

void Inspector::start(EventSink& sink) {
  sink_ = &sink;
  decoder_ = tapnames::PulseDecoder();
  name_ = {};
  histogram_.clear();
  position_ = 0;
  current_ = {};
  names_ = 0;
  near_misses_ = 0;
}

void Inspector::feed(std::span<const std::uint8_t> piece) {
  histogram_.add(piece);
  const bool pass = !settings_.all && settings_.min_pilot >= kLeastPassedPilot;
  // About kPassWindows windows of the pass's row: a pilot of the least
  // length spans a row's spacing and a window.
  const std::size_t pass_reach =
      kPassWindows * 8 * static_cast<std::size_t>(std::min(settings_.min_pilot, kNamePilot));
  std::size_t at = 0;
  while (at < piece.size()) {
    while (pass && at < piece.size()) {
      const std::size_t passed =
          decoder_.pass_search(piece.subspan(at, std::min(pass_reach, piece.size() - at)),
                               *classifier_, settings_.min_pilot);
      at += passed;
      if (passed == 0) {
        break;
      }
    }
    if (at < piece.size()) {
      at = observe(piece, at, false);
    }
  }
  position_ += piece.size();
}

void Inspector::finish() {
  const std::array<std::uint8_t, 1> end{tapnames::kEndOfFilePulse};
  observe(end, 0, true);
}

std::size_t Inspector::observe(std::span<const std::uint8_t> piece, std::size_t from,
                               bool end_of_image) {
  base_ = position_ + from;
  const tapnames::BulkResult result = decoder_.observe(piece.subspan(from), kLeastObserved, name_,
                                                       *this, *classifier_, end_of_image);
  if (result.found) {
    const std::uint64_t report = base_ + result.consumed - 1;
    Event event = current_;
    event.kind = EventKind::Name;
    event.at = report;
    event.offset = report - tapnames::kReportDistance;  // 248 header pulses lie before it
    std::copy_n(name_.begin(), tapnames::kNameLength, event.name.begin());
    ++names_;
    sink_->take(event);
  }
  return from + result.consumed;
}

void Inspector::locked(std::size_t at) {
  const std::uint64_t lock = base_ + at;
  current_ = {};
  current_.pilot_start = lock >= kLockByte ? lock - kLockByte : 0;
}

void Inspector::entered_header(std::size_t /*at*/, std::int32_t pilot_bytes) {
  current_.pilot_bytes = pilot_bytes;
}

void Inspector::accepted(std::size_t /*at*/, std::int32_t position, std::uint8_t value) {
  if (position == kBlockTypePosition) {
    current_.block_type = value;
  } else if (position > kBlockTypePosition && position < kFirstNamePosition) {
    current_.header_bytes[static_cast<std::size_t>(position - kBlockTypePosition - 1)] = value;
  }
}

void Inspector::missed(std::size_t at, const tapnames::Miss& miss) {
  Event event = current_;
  event.kind = EventKind::NearMiss;
  if (miss.position == 0) {
    event.pilot_bytes = miss.pilot_bytes;  // in the pilot; else the header's pilot
  }
  if (!settings_.all && event.pilot_bytes < settings_.min_pilot) {
    return;
  }
  event.at = base_ + at;
  event.reason = miss.reason;
  event.position = miss.position;
  event.got = miss.got;
  event.want = miss.want;
  ++near_misses_;
  sink_->take(event);
}

}  // namespace inspect
