// SPDX-License-Identifier: MIT
// Pulse classes, and the classification of one piece of the image into bit
// arrays (bit i of word w stands for pulse 64w+i): the pulses that are one
// bits, the pulses that are in range at all, and the pulses after which the
// search would lock on. The decoder's bit-parallel kernels read 64-pulse
// windows of these arrays at any pulse offset.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

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

// Bit 0 of every byte of a word (times n: n in every byte).
inline constexpr PulseMask kEveryByte = 0x0101010101010101ULL;
// The ones of pilot bytes, 0x02 sent most significant bit first, in window
// order from a byte boundary: the seventh pulse of every byte.
inline constexpr unsigned kPilotOneAt = 6;
inline constexpr PulseMask kPilotOnes = kEveryByte << kPilotOneAt;

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

// The candidates of a lock word that can matter beyond the byte after them:
// those with another candidate seven or eight pulses on. Only such a one can
// be followed by 0x02 (pulses k+1..k+8 reading 0000_0010 make k+8 a
// candidate too), and only such a one can hide a later candidate inside its
// byte (candidates lie at least seven pulses apart). `next` is the lock word
// after, of which bits 0 and 1 count; all ones when it is not known.
constexpr PulseMask linked_candidates(PulseMask locks, PulseMask next) {
  constexpr unsigned kSeven = 7;
  constexpr unsigned kEight = 8;
  return locks & ((locks >> kSeven) | (locks >> kEight) | (next << (kMaskWidth - kSeven)) |
                  (next << (kMaskWidth - kEight)));
}

// The most pulses classified at once. The scan reads more than this and
// classifies each read in pieces of this size, so that the bit arrays (2 KiB
// each) and the pulses they describe stay in the first-level cache while the
// decoder walks them.
inline constexpr std::size_t kMaxClassifiedPulses = std::size_t{16} * 1024;

// The classes of the 64 pulses at a pointer, bit k for pulse k, on their own:
// for looking at a window here and there rather than classifying a piece.
struct WindowClasses {
  PulseMask ones = 0;
  PulseMask in_range = 0;
};

// Where one pass over whole windows writes: ones[w], in_range[w] and locks[w]
// (see lock_word) for each window w, and bit w % 64 of summary[w / 64], set
// when linked_candidates(locks[w], ~0) is not zero (the next word is not
// looked at). Pulses before the first window count as zeros.
struct ClassArrays {
  PulseMask* ones;
  PulseMask* in_range;
  PulseMask* locks;
  PulseMask* summary;
};

// A way of classifying pulses: a kernel for one kind of CPU. Every kernel
// gives the same bits; they differ only in speed and in where they run.
struct Classifier {
  std::string_view name;  // "portable", "sse2", "avx2", "avx512bw", "wasm-simd128"
  // Whether this CPU can run it; asked once, when a scan chooses.
  bool (*available)() noexcept;
  // Classifies the `windows` whole windows at `pulses` in one pass.
  void (*classify_windows)(const std::uint8_t* pulses, std::size_t windows,
                           const ClassArrays& out) noexcept;
  // The classes of the one window at `pulses`.
  WindowClasses (*classify_window)(const std::uint8_t* pulses) noexcept;
};

// Runs everywhere; the others only where their `available` says so.
extern const Classifier kPortableClassifier;

// The classifiers this build holds, best first.
[[nodiscard]] std::span<const Classifier* const> all_classifiers() noexcept;
// The first of them that this CPU can run; the scan asks once.
[[nodiscard]] const Classifier& best_classifier() noexcept;

// The pulses of one piece and their bit arrays (6 KiB): the scan keeps one
// for the whole run.
class ClassifiedPulses {
 public:
  // Classifies `pulses` (at most kMaxClassifiedPulses; the span must outlive
  // this object's use) with `classifier`.
  void classify(std::span<const std::uint8_t> pulses, const Classifier& classifier) noexcept;

  [[nodiscard]] std::span<const std::uint8_t> pulses() const noexcept { return pulses_; }

  // The classes of pulses at..at+63, bit k for pulse at+k. Needs a whole
  // window: at + kMaskWidth <= pulses().size().
  [[nodiscard]] PulseMask ones_window(std::size_t at) const noexcept { return window(ones_, at); }
  [[nodiscard]] PulseMask in_range_window(std::size_t at) const noexcept {
    return window(in_range_, at);
  }
  // Bit i of word w is set when the one bits of pulses 64w+i-7 .. 64w+i read
  // 0000_0010: the search, its register holding those pulses, locks on after
  // pulse 64w+i. Pulses before this piece count as zeros, so bits 0..6 of
  // word 0 are not to be trusted.
  [[nodiscard]] PulseMask lock_word(std::size_t word) const noexcept { return locks_[word]; }
  // How far pilot bytes (0x02, every pulse in range) go from `at` on, in
  // whole windows, while a whole window is left before pulse `end`: the
  // pulses of those windows. Each word is compared once with the pilot
  // pattern in its own alignment, so a long pilot costs two words a window.
  [[nodiscard]] std::size_t pilot_windows(std::size_t at, std::size_t end) const noexcept {
    // A pilot byte 0x02 starting at `at` has its one on its seventh pulse:
    // in every byte of a word, the bit (at + 6) % 8.
    constexpr unsigned kBitsPerByte = 8;
    const auto shift = static_cast<unsigned>(at % kMaskWidth);
    const PulseMask expected = kEveryByte << ((at + kPilotOneAt) % kBitsPerByte);
    const auto mismatch = [&](std::size_t word) {
      return (ones_[word] ^ expected) | ~in_range_[word];
    };
    std::size_t word = at / kMaskWidth;
    std::size_t covered = 0;
    PulseMask current = mismatch(word);
    while (end - (at + covered) >= kMaskWidth) {
      const PulseMask next = mismatch(word + 1);
      const PulseMask both =
          shift == 0 ? current : (current >> shift) | (next << (kMaskWidth - shift));
      if (both != 0) {
        break;
      }
      covered += kMaskWidth;
      ++word;
      current = next;
    }
    return covered;
  }

  // The linked candidates (see linked_candidates) of a word; it needs the
  // word after, so not for the last.
  [[nodiscard]] PulseMask linked_word(std::size_t word) const noexcept {
    return linked_candidates(locks_[word], locks_[word + 1]);
  }
  // The first word at or after `word` that may hold a linked candidate, or a
  // word past the end of the piece. Long stretches without them (pauses,
  // slow-loader pulses, data whose candidates are all single) are crossed 64
  // words at a step.
  [[nodiscard]] std::size_t next_linked_word(std::size_t word) const noexcept {
    std::size_t group = word / kMaskWidth;
    if (group >= summary_words_) {
      return kWords;
    }
    PulseMask busy = lock_summary_[group] & (~PulseMask{0} << (word % kMaskWidth));
    while (busy == 0) {
      if (++group == summary_words_) {
        return kWords;
      }
      busy = lock_summary_[group];
    }
    return (group * kMaskWidth) + static_cast<std::size_t>(std::countr_zero(busy));
  }

 private:
  // Spare words: a window ending in the last word reads one past it, and so
  // does linked_word.
  static constexpr std::size_t kWords = kMaxClassifiedPulses / kMaskWidth + 2;
  static constexpr std::size_t kSummaryWords = (kWords + kMaskWidth - 1) / kMaskWidth;
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
  // Bit i of word v: locks_[64v+i] may hold a linked candidate. Only the
  // first summary_words_ are of this piece.
  std::array<PulseMask, kSummaryWords> lock_summary_{};
  std::size_t summary_words_ = 0;
};

}  // namespace tapnames
