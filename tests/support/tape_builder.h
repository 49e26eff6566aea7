// SPDX-License-Identifier: MIT
// A small tape builder: writes pulse lengths for bytes, pilots, sync sequences
// and whole header blocks, so that tests, benchmarks, fuzz seeds and the demo
// image are made from readable steps rather than binary blobs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tapes {

inline constexpr std::uint8_t kZeroPulse = 0x1A;  // a short pulse: bit 0
inline constexpr std::uint8_t kOnePulse = 0x28;   // a long pulse: bit 1
inline constexpr std::size_t kPilotLength = 1000;

class TapeBuilder {
 public:
  TapeBuilder& pulses(std::uint8_t value, std::size_t count = 1);
  TapeBuilder& raw(std::span<const std::uint8_t> pulses);
  // Eight pulses, most significant bit first.
  TapeBuilder& byte(std::uint8_t value);
  TapeBuilder& bytes(std::span<const std::uint8_t> values);
  TapeBuilder& pilot(std::size_t count = kPilotLength);
  TapeBuilder& sync();  // 9 down to 1
  // Block type, five address bytes and the name padded with spaces to 16
  // bytes (longer names are cut): everything of a header after the sync.
  TapeBuilder& header_body(std::string_view name, std::uint8_t type = 1);
  // A whole header block: pilot, sync and header_body.
  TapeBuilder& header(std::string_view name, std::uint8_t type = 1,
                      std::size_t pilot_length = kPilotLength);
  // A data block (pilot, sync, type 0 and `length` pseudo-random bytes).
  TapeBuilder& data_block(std::size_t length, std::uint_fast32_t seed);
  // Pulses of a slower encoding, all out of range for this one.
  TapeBuilder& slow_pulses(std::size_t count, std::uint_fast32_t seed);

  [[nodiscard]] const std::vector<std::uint8_t>& tape() const { return tape_; }
  [[nodiscard]] std::vector<std::uint8_t> take() { return std::move(tape_); }

 private:
  std::vector<std::uint8_t> tape_;
};

// Writes `tape` to the file at `path`; false if it could not be written whole.
bool write_tape_file(const char* path, std::span<const std::uint8_t> tape);

}  // namespace tapes
