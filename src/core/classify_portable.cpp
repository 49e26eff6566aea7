// SPDX-License-Identifier: MIT
// The portable classifier: plain 64-bit arithmetic, eight pulses a word, on
// every CPU and in every build.
#include <cstdint>

#include "kernels.h"

namespace tapnames {
namespace {

using kernels::one_pass;
using kernels::one_window;

// Eight pulses, the first lowest, whatever the byte order of the machine.
TAPNAMES_INLINE std::uint64_t load_eight(const std::uint8_t* pulses) {
  std::uint64_t eight = 0;
  for (unsigned i = 0; i < 8; ++i) {
    eight |= std::uint64_t{pulses[i]} << (8 * i);
  }
  return eight;
}

// The top bit of each byte of `flags` gathered into bits 0..7. With m the
// bytes' top bits moved to their bottom, the product adds m's byte i at
// bit 8i + 56 - 7i = 56 + i; the other sums land below bit 56 or above 63.
TAPNAMES_INLINE PulseMask gather_top_bits(std::uint64_t flags) {
  constexpr std::uint64_t kTopBits = 0x8080808080808080ULL;
  constexpr std::uint64_t kGather = 0x0102040810204080ULL;
  constexpr unsigned kShift = 56;
  return (((flags & kTopBits) >> 7U) * kGather) >> kShift;
}

// Eight pulses at a time within one 64-bit word: with v' the low seven bits of
// a byte, v' + 128 - n has its top bit set exactly when v' >= n, and no byte
// carries into the next (127 + 109 < 256). A pulse is a one when it is at
// least 33, below 48 and below 128 (top bit clear). For 0x28: v' + 95 = 0x87,
// v' + 80 = 0x78, so the top bits say >= 33 and < 48: a one.
TAPNAMES_INLINE void classify_eight(std::uint64_t eight, PulseMask& ones, PulseMask& in_range) {
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  const std::uint64_t low = eight & kLow7;
  const std::uint64_t below_128 = ~eight;
  const std::uint64_t at_least_19 = low + (kEveryByte * (128 - kZeroLow));
  const std::uint64_t at_least_33 = low + (kEveryByte * (128 - kOneLow));
  const std::uint64_t below_48 = ~(low + (kEveryByte * (128 - kOneHigh - 1)));
  ones = gather_top_bits(at_least_33 & below_48 & below_128);
  in_range = gather_top_bits(at_least_19 & below_48 & below_128);
}

TAPNAMES_INLINE void classify_sixty_four(const std::uint8_t* window, PulseMask& ones,
                                         PulseMask& in_range) {
  for (unsigned part = 0; part < kMaskWidth / 8; ++part) {
    PulseMask part_ones = 0;
    PulseMask part_in_range = 0;
    classify_eight(load_eight(window + (std::size_t{part} * 8)), part_ones, part_in_range);
    ones |= part_ones << (part * 8);
    in_range |= part_in_range << (part * 8);
  }
}

void classify_portable(const std::uint8_t* pulses, std::size_t windows,
                       const ClassArrays& out) noexcept {
  one_pass(pulses, windows, out, classify_sixty_four);
}

}  // namespace

const Classifier kPortableClassifier{"portable", kernels::always_available, classify_portable,
                                     one_window<classify_sixty_four>};

}  // namespace tapnames
