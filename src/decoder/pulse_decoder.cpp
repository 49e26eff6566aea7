// The header block decoder: a three-state machine over pulse lengths, with a
// bulk path that skips whole runs of pulses where the outcome is known.
#include "decoder/pulse_decoder.h"

#include <bit>
#include <limits>

#include "decoder/pulse_masks.h"

namespace tapnames {
namespace {

using State = DecoderState;

constexpr std::uint8_t kPilotByte = 0x02;
// The byte that ends the pilot is counted too, so 960 means 959 pilot bytes.
constexpr std::int32_t kMinPilotCount = 960;
constexpr std::int32_t kSyncLength = 9;
constexpr std::int32_t kBlockTypePosition = 10;
constexpr std::int32_t kFirstNamePosition = 16;
constexpr std::int32_t kLastNamePosition = 31;
constexpr unsigned kBitsPerByte = 8;

enum class PulseClass : std::uint8_t { Zero, One, OutOfRange };

constexpr std::array<PulseClass, 256> make_pulse_classes() {
  std::array<PulseClass, 256> table{};
  for (std::size_t value = 0; value < table.size(); ++value) {
    if (value >= kOneLow && value <= kOneHigh) {
      table[value] = PulseClass::One;
    } else if (value >= kZeroLow && value <= kZeroHigh) {
      table[value] = PulseClass::Zero;
    } else {
      table[value] = PulseClass::OutOfRange;
    }
  }
  return table;
}

constexpr std::array<std::uint8_t, 256> make_reversed_bits() {
  std::array<std::uint8_t, 256> table{};
  for (unsigned value = 0; value < table.size(); ++value) {
    unsigned reversed = 0;
    for (unsigned bit = 0; bit < kBitsPerByte; ++bit) {
      reversed |= ((value >> bit) & 1U) << (kBitsPerByte - 1 - bit);
    }
    table[value] = static_cast<std::uint8_t>(reversed);
  }
  return table;
}

constexpr std::array<PulseClass, 256> kPulseClasses = make_pulse_classes();
constexpr std::array<std::uint8_t, 256> kReversedBits = make_reversed_bits();

constexpr std::int32_t saturating_add(std::int32_t count, std::int32_t amount) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  return count > kMax - amount ? kMax : count + amount;
}

constexpr std::uint8_t shifted_in(std::uint8_t shift_register, bool one) {
  return static_cast<std::uint8_t>((unsigned{shift_register} << 1U) | (one ? 1U : 0U));
}

// Shifts a pulse in as a bit of the current block. An out-of-range pulse
// abandons the block (the register keeps the shifted value). Returns true when
// the pulse completed a byte.
inline bool shift_in_block(PulseDecoder::Fields& f, PulseClass pulse_class) {
  f.shift_register = shifted_in(f.shift_register, pulse_class == PulseClass::One);
  if (pulse_class == PulseClass::OutOfRange) {
    f.state = State::Searching;
    return false;
  }
  if (++f.bit_count < kBitsPerByte) {
    return false;
  }
  f.bit_count = 0;
  f.byte_count = saturating_add(f.byte_count, 1);
  return true;
}

// A completed byte that is not a pilot byte ends the pilot: it is the first
// sync byte if the pilot was long enough, else the search starts again.
inline void end_pilot(PulseDecoder::Fields& f) {
  if (f.byte_count >= kMinPilotCount) {
    f.byte_count = 1;
    f.state = State::Header;
  } else {
    f.state = State::Searching;
  }
}

// One pulse through the machine. Shared by the reference and the bulk path so
// that the two cannot drift apart.
inline int step(PulseDecoder::Fields& f, std::uint8_t pulse, TapeName& name) {
  const PulseClass pulse_class = kPulseClasses[pulse];
  switch (f.state) {
    case State::Searching:
      // Out-of-range pulses count as zero bits while searching.
      f.shift_register = shifted_in(f.shift_register, pulse_class == PulseClass::One);
      if (f.shift_register == kPilotByte) {
        f.bit_count = 0;
        f.byte_count = 1;
        f.state = State::Pilot;
      }
      return 0;

    case State::Pilot:
      if (shift_in_block(f, pulse_class) && f.shift_register != kPilotByte) {
        end_pilot(f);
      }
      return 0;

    case State::Header:
      // A completed byte is examined on the pulse after its last bit, and the
      // pulses that end the block are consumed without being shifted in.
      if (f.bit_count == 0) {
        const std::int32_t position = f.byte_count;
        const std::uint8_t value = f.shift_register;
        if (position >= 1 && position <= kSyncLength && value != kSyncLength + 1 - position) {
          f.state = State::Searching;
          return 0;
        }
        if (position == kBlockTypePosition && value != 1 && value != 2) {
          f.state = State::Searching;
          return 0;
        }
        if (position >= kFirstNamePosition && position <= kLastNamePosition) {
          name[static_cast<std::size_t>(position - kFirstNamePosition)] = value;
        }
        if (position == kLastNamePosition) {
          f.state = State::Searching;
          return 1;
        }
      }
      shift_in_block(f, pulse_class);
      return 0;
  }
  // Only reachable from a state value outside the enumeration: treat it as
  // searching so that the machine recovers.
  f.state = State::Searching;
  return 0;
}

// The bits of the last eight pulses of a 64-pulse mask, in shift register order.
constexpr std::uint8_t register_after(std::uint64_t ones) {
  return kReversedBits[static_cast<std::size_t>(ones >> (64 - kBitsPerByte))];
}

// Searching, 64 pulses at a time. The register becomes 0x02 after pulse i
// exactly when pulse i-1 is a one and pulses i-7..i-2 and i are not. Returns
// the number of pulses consumed; if the last of them locked on, the state is
// Pilot.
std::size_t search_block(PulseDecoder::Fields& f, const std::uint8_t* pulses) {
  const std::uint64_t ones = mask_in_range(pulses, kOneLow, kOneHigh);
  // Bit t of `history` is the one-bit of pulse t-8 (the pulses before the block).
  const std::uint64_t history = kReversedBits[f.shift_register];
  const auto earlier = [&](unsigned distance) {
    return (ones << distance) | (history >> (kBitsPerByte - distance));
  };
  std::uint64_t not_one_before = 0;
  for (unsigned distance = 2; distance < kBitsPerByte; ++distance) {
    not_one_before |= earlier(distance);
  }
  const std::uint64_t locks = ~ones & earlier(1) & ~not_one_before;
  if (locks == 0) {
    f.shift_register = register_after(ones);
    return kMaskWidth;
  }
  f.shift_register = kPilotByte;
  f.bit_count = 0;
  f.byte_count = 1;
  f.state = State::Pilot;
  return static_cast<std::size_t>(std::countr_zero(locks)) + 1;
}

// Pilot on a byte boundary: counts the whole pilot bytes among the next 64
// pulses and, if one of them is not a pilot byte, settles it too: the pilot
// either ends there (into Header or back to Searching) or is broken by an
// out-of-range pulse. Returns the number of pulses consumed (at least one).
std::size_t pilot_block(PulseDecoder::Fields& f, const std::uint8_t* pulses) {
  constexpr std::uint64_t kPilotOnes = 0x4040404040404040ULL;  // 0x02, MSB first
  constexpr std::uint64_t kByteMask = 0xFF;
  const std::uint64_t ones = mask_in_range(pulses, kOneLow, kOneHigh);
  const std::uint64_t in_range = mask_in_range(pulses, kZeroLow, kOneHigh);
  const std::uint64_t mismatch = (ones ^ kPilotOnes) | ~in_range;
  // Eight when all 64 pulses are pilot bytes.
  const unsigned good_bytes = static_cast<unsigned>(std::countr_zero(mismatch)) / kBitsPerByte;
  const unsigned good_pulses = good_bytes * kBitsPerByte;
  if (good_bytes != 0) {
    f.shift_register = kPilotByte;
    f.byte_count = saturating_add(f.byte_count, static_cast<std::int32_t>(good_bytes));
  }
  if (good_pulses == kMaskWidth) {
    return kMaskWidth;
  }
  // The next byte is not a pilot byte. Pulse t of it has its bit at register
  // position 7 - t once the byte is complete.
  const auto byte_ones = static_cast<std::uint8_t>((ones >> good_pulses) & kByteMask);
  const auto byte_in_range = static_cast<std::uint8_t>((in_range >> good_pulses) & kByteMask);
  if (byte_in_range == kByteMask) {
    f.shift_register = kReversedBits[byte_ones];
    f.byte_count = saturating_add(f.byte_count, 1);
    end_pilot(f);
    return good_pulses + kBitsPerByte;
  }
  // Pulse `broken` is out of range: pulses 0..broken are shifted in (the last
  // as a zero), only those before it are counted as bits.
  const auto broken = static_cast<unsigned>(std::countr_one(byte_in_range));
  const unsigned shifted = broken + 1;
  f.shift_register =
      static_cast<std::uint8_t>((unsigned{f.shift_register} << shifted) |
                                (unsigned{kReversedBits[byte_ones]} >> (kBitsPerByte - shifted)));
  f.bit_count = static_cast<std::uint8_t>(broken);
  f.state = State::Searching;
  return good_pulses + shifted;
}

}  // namespace

PulseDecoder::PulseDecoder(const Fields& fields) noexcept : fields_(fields) {
  fields_.bit_count = static_cast<std::uint8_t>(fields_.bit_count % kBitsPerByte);
}

int PulseDecoder::feed_pulse(unsigned pulse, TapeName& name) noexcept {
  return step(fields_, static_cast<std::uint8_t>(pulse & 0xFFU), name);
}

BulkResult PulseDecoder::feed_pulses(std::span<const std::uint8_t> pulses,
                                     TapeName& name) noexcept {
  Fields f = fields_;
  const std::uint8_t* const begin = pulses.data();
  const std::uint8_t* const end = begin + pulses.size();
  const std::uint8_t* p = begin;
  bool found = false;
  while (p != end && !found) {
    const auto left = static_cast<std::size_t>(end - p);
    if (left >= kMaskWidth && f.state == State::Searching) {
      p += search_block(f, p);
      continue;
    }
    if (left >= kMaskWidth && f.state == State::Pilot && f.bit_count == 0) {
      p += pilot_block(f, p);
      continue;
    }
    // One pulse at a time until the next byte boundary or change of state.
    const State before = f.state;
    do {
      found = step(f, *p++, name) != 0;
    } while (p != end && !found && f.state == before && f.bit_count != 0);
  }
  fields_ = f;
  return {static_cast<std::size_t>(p - begin), found};
}

}  // namespace tapnames
