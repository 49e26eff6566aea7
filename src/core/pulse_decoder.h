// SPDX-License-Identifier: MIT
// The pulse decoder: turns a stream of pulse lengths into bits and bytes,
// finds the header block of a turbo-loader recording (pilot, sync sequence,
// block type) and copies its 16-byte file name into the caller's buffer.
//
// `feed_pulse` is the reference, one pulse at a time. `feed_pulses` runs the
// same machine over classified pulses (one read of the image), skipping whole
// windows of pulses where the outcome is known, and stops early when a name is complete. Both
// leave the decoder in exactly the same state after the same pulses.
// `observe` is the reference again, telling a DecoderObserver of the
// machine's transitions as it makes them: locks, pilots that end in a header,
// names, and each pilot or header that comes to nothing, with its reason.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "pulse_classes.h"

namespace tapnames {

// The buffer the decoder writes a name into: its 16 bytes as stored on tape
// in bytes 0 to 15, and room for a terminating zero.
inline constexpr std::size_t kTapeNameSize = 17;
inline constexpr std::size_t kNameLength = 16;
using TapeName = std::array<std::uint8_t, kTapeNameSize>;

// The header bytes after the pilot: nine sync bytes, the block type, five
// bytes and the name. The name is reported on the pulse after the last.
inline constexpr std::int32_t kHeaderBytes = 31;

enum class DecoderState : std::int32_t { Searching = 0, Pilot = 1, Header = 2 };

// The pilot bytes a name needs: the lock's byte and 958 more 0x02 bytes
// before the first sync byte.
inline constexpr std::int32_t kNamePilotBytes = 959;

// Why a pilot or a header came to nothing.
//   ShortPilot  a byte other than 0x02 (`got`), or an out-of-range pulse
//               (`got`: its value), ended a pilot of fewer than 959 bytes;
//   Sync        header byte `position` (1 to 9) held `got`, not `want`;
//   BlockType   header byte 10 held `got`, neither 1 nor 2;
//   OutOfRange  an out-of-range pulse (`got`) broke header byte `position`
//               (2 to 31) as it was assembled, or, at position 0, a pilot of
//               959 bytes or more;
//   EndOfImage  the image ended inside the header (at `position`, as
//               above) or inside the pilot (position 0).
enum class NearMiss : std::uint8_t { ShortPilot, Sync, BlockType, OutOfRange, EndOfImage };

struct Miss {
  NearMiss reason = NearMiss::ShortPilot;
  // The pilot's 0x02 bytes, the lock's included, when it ended in the pilot;
  // 0 in the header, whose pilot the observer heard of on entering it.
  std::int32_t pilot_bytes = 0;
  std::int32_t position = 0;
  unsigned got = 0;
  unsigned want = 0;
  friend bool operator==(const Miss&, const Miss&) = default;
};

// Hears the transitions of PulseDecoder::observe. `at` is the index of the
// pulse that made each, in the pulses given to that call.
// Never deleted through this class (the web module has no operator delete).
class DecoderObserver {
 public:
  DecoderObserver() = default;
  DecoderObserver(const DecoderObserver&) = default;
  DecoderObserver& operator=(const DecoderObserver&) = default;
  DecoderObserver(DecoderObserver&&) = default;
  DecoderObserver& operator=(DecoderObserver&&) = default;

  // The search locked on: the register reads 0x02, the pilot's first byte.
  virtual void locked(std::size_t at) = 0;
  // The pilot, of `pilot_bytes` 0x02 bytes, ended in a first sync byte.
  virtual void entered_header(std::size_t at, std::int32_t pilot_bytes) = 0;
  // Header byte `position` (10 to 31, the block type on) was examined and
  // accepted; at 31 the name is complete.
  virtual void accepted(std::size_t at, std::int32_t position, std::uint8_t value) = 0;
  // The pilot or header came to nothing.
  virtual void missed(std::size_t at, const Miss& miss) = 0;

 protected:
  ~DecoderObserver() = default;
};

// Result of a bulk run: how many pulses were used, and whether the last of
// them completed a name.
struct BulkResult {
  std::size_t consumed = 0;
  bool found = false;
};

class PulseDecoder {
 public:
  // The four fields of the decoder; all zero at the start of a run.
  struct Fields {
    DecoderState state = DecoderState::Searching;
    std::uint8_t shift_register = 0;
    std::uint8_t bit_count = 0;  // 0 to 7
    std::int32_t byte_count = 0;
    friend bool operator==(const Fields&, const Fields&) = default;
  };

  PulseDecoder() = default;
  // Starts from given fields (tests use it to reach long pilots quickly);
  // bit_count is taken modulo 8.
  explicit PulseDecoder(const Fields& fields) noexcept;

  // Feeds one pulse (only its low eight bits count). Returns 1 when this pulse
  // completed a name, which is then in bytes 0 to 15 of `name`, otherwise 0.
  int feed_pulse(unsigned pulse, TapeName& name) noexcept;

  // Feeds `pulses` from index `from` on, until they end or a name is completed.
  BulkResult feed_pulses(const ClassifiedPulses& pulses, std::size_t from, TapeName& name) noexcept;

  // While searching, passes over pulses from the front of `pulses` as far as
  // it can show, from a few windows alone, that no name begins there and
  // which state the machine is then in: Searching, the register holding the
  // last eight pulses. Returns the pulses passed over: none when not
  // searching, or when a pilot may begin at once. bit_count and byte_count,
  // which the search never reads, are left as they were. `classifier`
  // classifies the windows it looks at.
  std::size_t pass_search(std::span<const std::uint8_t> pulses,
                          const Classifier& classifier) noexcept;

  // As above, over the first pulses where no pilot of `min_pilot_bytes` or
  // more (nor a name) can lie; the above is this with 959. The pulses passed
  // over hold no lock of such a pilot. Less than 9 passes nothing.
  std::size_t pass_search(std::span<const std::uint8_t> pulses, const Classifier& classifier,
                          std::int32_t min_pilot_bytes) noexcept;

  // Feeds `pulses` one at a time as feed_pulse does, telling `observer` of
  // each transition, until they end or a name is completed, or, once `least`
  // of them have been fed, until the machine searches again. Whole windows
  // of pilot bytes, where nothing happens but the count, are counted at once
  // (`classifier` classifies them). With `end_of_image`, the pulses are the
  // end-of-image pulse alone: what it breaks is the end of the image, not
  // an out-of-range pulse.
  BulkResult observe(std::span<const std::uint8_t> pulses, std::size_t least, TapeName& name,
                     DecoderObserver& observer, const Classifier& classifier,
                     bool end_of_image = false) noexcept;

  [[nodiscard]] const Fields& fields() const noexcept { return fields_; }

  // The block type (1 or 2) of the header whose name was reported last. Kept
  // beside the four fields: it never steers the machine.
  [[nodiscard]] std::uint8_t block_type() const noexcept { return block_type_; }

 private:
  Fields fields_;
  std::uint8_t block_type_ = 0;
};

}  // namespace tapnames
