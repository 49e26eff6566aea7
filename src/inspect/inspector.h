// SPDX-License-Identifier: MIT
// The event collector: takes an image in pieces, as the scan core does, and
// tells of its names with their pilots, of the pilots that came to nothing
// and why, in tape order, and counts its pulse values. The events are the
// decoder's own transitions (PulseDecoder::observe); where no pilot of
// interest can lie, the pulses are passed over as the scan passes them.
//
//   Inspector inspector({.min_pilot = 64});
//   inspector.start(sink);  // sink.take(const Event&) for each event
//   for each piece: inspector.feed(piece);
//   at the end:     inspector.finish();  then histogram(), counts
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "pulse_classes.h"
#include "pulse_decoder.h"
#include "pulse_histogram.h"

namespace inspect {

inline constexpr std::int32_t kDefaultMinPilot = 64;
inline constexpr std::size_t kHeaderBytesShown = 5;  // the header bytes after the block type

struct Settings {
  // Pilots that came to nothing are told of from this many bytes on.
  std::int32_t min_pilot = kDefaultMinPilot;
  // Every pilot, however short (every pulse then goes through the decoder).
  bool all = false;
};

enum class EventKind { Name, NearMiss };

struct Event {
  EventKind kind = EventKind::Name;
  // Byte position of the first pulse of the byte the search locked on (the
  // lock pulse - 7, at least 0), and the pilot's 0x02 bytes, the lock's
  // included.
  std::uint64_t pilot_start = 0;
  std::int32_t pilot_bytes = 0;
  // A name: where its header's first sync byte lies, as the catalogue gives
  // it, and the pulse that completed it.
  std::uint64_t offset = 0;
  std::uint64_t at = 0;  // a near miss: the pulse on which it was abandoned
  tapnames::NearMiss reason = tapnames::NearMiss::ShortPilot;
  std::int32_t position = 0;
  unsigned got = 0;
  unsigned want = 0;
  std::uint8_t block_type = 0;
  std::array<std::uint8_t, kHeaderBytesShown> header_bytes{};
  std::array<std::uint8_t, tapnames::kNameLength> name{};
};

// Takes the events of an image, in tape order.
// Never deleted through this class (the web module has no operator delete).
class EventSink {
 public:
  EventSink() = default;
  EventSink(const EventSink&) = default;
  EventSink& operator=(const EventSink&) = default;
  EventSink(EventSink&&) = default;
  EventSink& operator=(EventSink&&) = default;
  virtual void take(const Event& event) = 0;

 protected:
  ~EventSink() = default;
};

// No allocation: the web page's module is made of it too.
class Inspector final : private tapnames::DecoderObserver {
 public:
  explicit Inspector(Settings settings,
                     const tapnames::Classifier& classifier = tapnames::best_classifier());

  // Starts an image whose events go to `sink`, which must outlive it.
  void start(EventSink& sink);
  void feed(std::span<const std::uint8_t> piece);
  // The end of the image.
  void finish();

  [[nodiscard]] const tapnames::PulseHistogram& histogram() const noexcept { return histogram_; }
  [[nodiscard]] std::uint64_t size() const noexcept { return position_; }
  [[nodiscard]] std::uint64_t names() const noexcept { return names_; }
  [[nodiscard]] std::uint64_t near_misses() const noexcept { return near_misses_; }

 private:
  void locked(std::size_t at) override;
  void entered_header(std::size_t at, std::int32_t pilot_bytes) override;
  void accepted(std::size_t at, std::int32_t position, std::uint8_t value) override;
  void missed(std::size_t at, const tapnames::Miss& miss) override;
  // Feeds pulses from `from` through the observed step; returns the next.
  std::size_t observe(std::span<const std::uint8_t> piece, std::size_t from, bool end_of_image);

  Settings settings_;
  const tapnames::Classifier* classifier_;
  EventSink* sink_ = nullptr;
  tapnames::PulseDecoder decoder_;
  tapnames::TapeName name_{};
  tapnames::PulseHistogram histogram_;
  std::uint64_t position_ = 0;  // pulses of the image fed so far
  std::uint64_t base_ = 0;      // the image position of the pulses being observed
  Event current_;               // the pilot and header being read
  std::uint64_t names_ = 0;
  std::uint64_t near_misses_ = 0;
};

}  // namespace inspect
