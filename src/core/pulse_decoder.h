// SPDX-License-Identifier: MIT
// The pulse decoder: turns a stream of pulse lengths into bits and bytes,
// finds the header block of a turbo-loader recording (pilot, sync sequence,
// block type) and copies its 16-byte file name into the caller's buffer.
//
// `feed_pulse` is the reference, one pulse at a time. `feed_pulses` runs the
// same machine over classified pulses (one read of the image), skipping whole
// windows of pulses where the outcome is known, and stops early when a name is complete. Both
// leave the decoder in exactly the same state after the same pulses.
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

  [[nodiscard]] const Fields& fields() const noexcept { return fields_; }

  // The block type (1 or 2) of the header whose name was reported last. Kept
  // beside the four fields: it never steers the machine.
  [[nodiscard]] std::uint8_t block_type() const noexcept { return block_type_; }

 private:
  Fields fields_;
  std::uint8_t block_type_ = 0;
};

}  // namespace tapnames
