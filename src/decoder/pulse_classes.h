// SPDX-License-Identifier: MIT
// Pulse classes, and the classification of one read of the image into bit
// arrays (bit i of word w stands for pulse 64w+i): the pulses that are one
// bits, the pulses that are in range at all, and the pulses after which the
// search would lock on. The decoder's bit-parallel kernels read 64-pulse
// windows of these arrays at any pulse offset.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tapnames {

// Pulse lengths: 19..32 is a zero bit, 33..47 a one bit, anything else is out
// of range.
inline constexpr std::uint8_t kZeroLow = 19;
inline constexpr std::uint8_t kZeroHigh = 32;
inline constexpr std::uint8_t kOneLow = 33;
inline constexpr std::uint8_t kOneHigh = 47;

// One word of a bit array holds the classes of this many pulses: a window.
using PulseMask = std::uint64_t;
inline constexpr std::size_t kMaskWidth = 64;

// The pulses after which the search, shifting every pulse in, locks on: bit k
// is set when the register then reads 0x02, that is pulse k is not a one,
// pulse k-1 is, and pulses k-7..k-2 are not. `ones` holds the one bits of a
// window, bit k for pulse k; `ones_before` those of the window before it, of
// which only the top seven bits (pulses -7..-1) are looked at.
constexpr PulseMask lock_candidates(PulseMask ones, PulseMask ones_before) {
  constexpr unsigned kBitsPerByte = 8;
  // Bit k of earlier(d): the one bit of pulse k-d.
  const auto earlier = [&](unsigned distance) {
    return (ones << distance) | (ones_before >> (kMaskWidth - distance));
  };
  PulseMask one_before = 0;  // bit k: a one among pulses k-7..k-2
  for (unsigned distance = 2; distance < kBitsPerByte; ++distance) {
    one_before |= earlier(distance);
  }
  return ~ones & earlier(1) & ~one_before;
}

// The most pulses one read of the image can bring: all are classified at once.
inline constexpr std::size_t kMaxClassifiedPulses = std::size_t{128} * 1024;

// The ways of classifying whole windows. Portable runs everywhere; the others
// only where `classifier_available` says so. All give the same bits.
// WasmSimd128 exists only in a WebAssembly build with SIMD (-msimd128).
enum class Classifier {
  Portable,
  Sse2,
  Avx2,
  Avx512,
#if defined(__wasm_simd128__)
  WasmSimd128,
#endif
};
inline constexpr Classifier kClassifiers[] = {
    Classifier::Portable,    Classifier::Sse2, Classifier::Avx2, Classifier::Avx512,
#if defined(__wasm_simd128__)
    Classifier::WasmSimd128,
#endif
};

[[nodiscard]] bool classifier_available(Classifier classifier) noexcept;
// The fastest available on this CPU; the scan asks once.
[[nodiscard]] Classifier best_classifier() noexcept;

// Fills ones[w], in_range[w] and locks[w] (see lock_word) for the `windows`
// whole windows at `pulses`.
void classify_windows(Classifier classifier, const std::uint8_t* pulses, std::size_t windows,
                      PulseMask* ones, PulseMask* in_range, PulseMask* locks) noexcept;

// The pulses of one read and their bit arrays. Big (48 KiB of arrays): the
// scan keeps one for the whole run.
class ClassifiedPulses {
 public:
  // Classifies `pulses` (at most kMaxClassifiedPulses; the span must outlive
  // this object's use) with `classifier`.
  void classify(std::span<const std::uint8_t> pulses, Classifier classifier) noexcept;

  [[nodiscard]] std::span<const std::uint8_t> pulses() const noexcept { return pulses_; }

  // The classes of pulses at..at+63, bit k for pulse at+k. Needs a whole
  // window: at + kMaskWidth <= pulses().size().
  [[nodiscard]] PulseMask ones_window(std::size_t at) const noexcept { return window(ones_, at); }
  [[nodiscard]] PulseMask in_range_window(std::size_t at) const noexcept {
    return window(in_range_, at);
  }
  // Bit i of word w is set when the one bits of pulses 64w+i-7 .. 64w+i read
  // 0000_0010: the search, its register holding those pulses, locks on after
  // pulse 64w+i. Pulses before this read count as zeros, so bits 0..6 of word
  // 0 are not to be trusted.
  [[nodiscard]] PulseMask lock_word(std::size_t word) const noexcept { return locks_[word]; }
  // The first word at or after `word` that holds a lock candidate, or a word
  // past the end of the read. Long stretches without candidates (pauses,
  // slow-loader pulses) are crossed 64 words at a step.
  [[nodiscard]] std::size_t next_lock_word(std::size_t word) const noexcept;

 private:
  // One spare word so that a window ending in the last word can read one past.
  static constexpr std::size_t kWords = kMaxClassifiedPulses / kMaskWidth + 1;
  using Bits = std::array<PulseMask, kWords>;

  // Bits at..at+63 of the array: the top of word w shifted down, the bottom of
  // word w+1 shifted up. For at = 70: w = 1, s = 6, so bits 6..63 of word 1
  // become bits 0..57 and bits 0..5 of word 2 become bits 58..63.
  static PulseMask window(const Bits& bits, std::size_t at) noexcept {
    const std::size_t word = at / kMaskWidth;
    const std::size_t shift = at % kMaskWidth;
    if (shift == 0) {
      return bits[word];
    }
    return (bits[word] >> shift) | (bits[word + 1] << (kMaskWidth - shift));
  }

  std::span<const std::uint8_t> pulses_;
  Bits ones_{};
  Bits in_range_{};
  Bits locks_{};
  // Bit i of word v: locks_[64v+i] is not zero.
  std::array<PulseMask, (kWords / kMaskWidth) + 1> lock_summary_{};
};

}  // namespace tapnames
