// SPDX-License-Identifier: MIT
// Pulse-level tape building for tests, benchmarks, fuzz seeds and the demo.
#include "tape_builder.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <random>

namespace tapes {
namespace {

constexpr std::uint8_t kPilotByte = 0x02;
constexpr std::size_t kNameLength = 16;
constexpr std::array<std::uint8_t, 5> kAddressBytes = {0x01, 0x08, 0x00, 0x10, 0x00};
constexpr std::array<std::uint8_t, 3> kSlowPulses = {0x30, 0x42, 0x56};

}  // namespace

TapeBuilder& TapeBuilder::pulses(std::uint8_t value, std::size_t count) {
  tape_.insert(tape_.end(), count, value);
  return *this;
}

TapeBuilder& TapeBuilder::raw(std::span<const std::uint8_t> pulses) {
  tape_.insert(tape_.end(), pulses.begin(), pulses.end());
  return *this;
}

TapeBuilder& TapeBuilder::byte(std::uint8_t value) {
  for (unsigned bit = 8; bit-- > 0;) {
    tape_.push_back(((unsigned{value} >> bit) & 1U) != 0 ? kOnePulse : kZeroPulse);
  }
  return *this;
}

TapeBuilder& TapeBuilder::bytes(std::span<const std::uint8_t> values) {
  for (const std::uint8_t value : values) {
    byte(value);
  }
  return *this;
}

TapeBuilder& TapeBuilder::pilot(std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    byte(kPilotByte);
  }
  return *this;
}

TapeBuilder& TapeBuilder::sync() {
  for (std::uint8_t value = 9; value >= 1; --value) {
    byte(value);
  }
  return *this;
}

TapeBuilder& TapeBuilder::header_body(std::string_view name, std::uint8_t type) {
  byte(type).bytes(kAddressBytes);
  std::array<std::uint8_t, kNameLength> padded{};
  padded.fill(' ');
  std::copy_n(name.begin(), std::min(name.size(), kNameLength), padded.begin());
  return bytes(padded);
}

TapeBuilder& TapeBuilder::header(std::string_view name, std::uint8_t type,
                                 std::size_t pilot_length) {
  return pilot(pilot_length).sync().header_body(name, type);
}

TapeBuilder& TapeBuilder::data_block(std::size_t length, std::uint_fast32_t seed) {
  std::mt19937 random(seed);
  pilot().sync().byte(0);
  for (std::size_t i = 0; i < length; ++i) {
    byte(static_cast<std::uint8_t>(random()));
  }
  return *this;
}

TapeBuilder& TapeBuilder::slow_pulses(std::size_t count, std::uint_fast32_t seed) {
  std::mt19937 random(seed);
  for (std::size_t i = 0; i < count; ++i) {
    tape_.push_back(kSlowPulses[random() % kSlowPulses.size()]);
  }
  return *this;
}

bool write_tape_file(const char* path, std::span<const std::uint8_t> tape) {
  std::FILE* out = std::fopen(path, "wb");
  if (out == nullptr) {
    return false;
  }
  // An empty span may have no data pointer, which fwrite must not be given.
  const bool written = tape.empty() || std::fwrite(tape.data(), 1, tape.size(), out) == tape.size();
  return std::fclose(out) == 0 && written;
}

}  // namespace tapes
