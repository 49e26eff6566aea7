// SPDX-License-Identifier: MIT
// Compares the WebAssembly SIMD classifier with the portable loop, run in
// node by node_test.js: mismatches(pattern) fills the pulses one way and
// returns the words of the bit arrays and the lock summary in which the two
// differ.
// Pattern 0 walks every byte value through every lane of a window; the
// others are seeded random pulses, weighted towards the class boundaries.
#include <array>
#include <cstddef>
#include <cstdint>

#include "pulse_classes.h"

namespace {

using tapnames::PulseMask;

constexpr std::size_t kWindows = 1024;
constexpr std::size_t kPulses = kWindows * tapnames::kMaskWidth;

struct Classes {
  std::array<PulseMask, kWindows> ones{};
  std::array<PulseMask, kWindows> in_range{};
  std::array<PulseMask, kWindows> locks{};
  std::array<PulseMask, kWindows / tapnames::kMaskWidth> summary{};
};

std::array<std::uint8_t, kPulses> pulses;  // NOLINT: one check at a time
Classes portable;                          // NOLINT
Classes vector;                            // NOLINT
std::uint32_t one_count = 0;               // NOLINT

void classify(const tapnames::Classifier& classifier, Classes& classes) {
  classifier.classify_windows(
      pulses.data(), kWindows,
      {classes.ones.data(), classes.in_range.data(), classes.locks.data(), classes.summary.data()});
}

void fill(std::uint32_t pattern) {
  if (pattern == 0) {
    // Window w holds value (w + i) % 256 in lane i: every value in every lane.
    for (std::size_t i = 0; i < kPulses; ++i) {
      pulses[i] =
          static_cast<std::uint8_t>((i / tapnames::kMaskWidth) + (i % tapnames::kMaskWidth));
    }
    return;
  }
  constexpr std::array<std::uint8_t, 8> kEdges = {18, 19, 32, 33, 47, 48, 0x1A, 0x28};
  std::uint32_t state = pattern * 2654435761U;
  for (std::uint8_t& pulse : pulses) {
    state ^= state << 13U;
    state ^= state >> 17U;
    state ^= state << 5U;
    pulse = (state & 1U) != 0 ? kEdges[(state >> 1U) % kEdges.size()]
                              : static_cast<std::uint8_t>(state >> 8U);
  }
}

template <std::size_t Words>
std::uint32_t differing(const std::array<PulseMask, Words>& a,
                        const std::array<PulseMask, Words>& b) {
  std::uint32_t count = 0;
  for (std::size_t w = 0; w < Words; ++w) {
    count += a[w] != b[w] ? 1 : 0;
  }
  return count;
}

}  // namespace

extern "C" {

__attribute__((export_name("mismatches"))) std::uint32_t mismatches(std::uint32_t pattern) {
  fill(pattern);
  classify(tapnames::kPortableClassifier, portable);
  classify(tapnames::best_classifier(), vector);
  one_count = 0;
  for (const PulseMask ones : portable.ones) {
    one_count += static_cast<std::uint32_t>(__builtin_popcountll(ones));
  }
  return differing(portable.ones, vector.ones) + differing(portable.in_range, vector.in_range) +
         differing(portable.locks, vector.locks) + differing(portable.summary, vector.summary);
}

// The one bits the portable loop found in the last check: not none, or the
// comparison compared nothing.
__attribute__((export_name("ones_found"))) std::uint32_t ones_found() {
  return one_count;
}
}
