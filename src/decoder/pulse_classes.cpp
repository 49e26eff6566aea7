// SPDX-License-Identifier: MIT
// Classification of pulses into the one-bit, in-range and lock-candidate bit
// arrays: a portable loop, and vector versions for x86-64 chosen at run time.
#include "decoder/pulse_classes.h"

#include <algorithm>
#include <bit>
#include <cassert>

// Conditional compilation only: which vector code this compiler can build.
#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#define TAPNAMES_X86_64 1  // NOLINT(cppcoreguidelines-macro-usage)
#else
#define TAPNAMES_X86_64 0  // NOLINT(cppcoreguidelines-macro-usage)
#endif
#if TAPNAMES_X86_64 && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
// GCC and clang compile AVX2 and AVX-512 code in functions of their own,
// taken only when the CPU has them.
#define TAPNAMES_WIDE_VECTORS 1  // NOLINT(cppcoreguidelines-macro-usage)
#else
#define TAPNAMES_WIDE_VECTORS 0  // NOLINT(cppcoreguidelines-macro-usage)
#endif
#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif

namespace tapnames {
namespace {

// A pulse v lies in low..high exactly when the byte v - low, which wraps
// round below low, is at most high - low.
constexpr std::uint8_t kOneWidth = kOneHigh - kOneLow;
constexpr std::uint8_t kInRangeWidth = kOneHigh - kZeroLow;

constexpr bool inside(std::uint8_t value, std::uint8_t low, std::uint8_t width) {
  return static_cast<std::uint8_t>(value - low) <= width;
}

// Lock candidates for whole words, each with the word before as history
// (see lock_candidates). Inlined into each classifier, it is compiled for the
// same vector width.
#if TAPNAMES_WIDE_VECTORS
__attribute__((always_inline))
#endif
inline void
find_locks(const PulseMask* ones, std::size_t words, PulseMask* locks, PulseMask first_before = 0) {
  for (std::size_t w = 0; w < words; ++w) {
    locks[w] = lock_candidates(ones[w], w == 0 ? first_before : ones[w - 1]);
  }
}

// One window, pulse by pulse; `count` below kMaskWidth for the last, partial
// window of a read, whose missing pulses count as neither class.
void classify_one_window(const std::uint8_t* pulses, std::size_t count, PulseMask& ones,
                         PulseMask& in_range) {
  ones = 0;
  in_range = 0;
  for (std::size_t i = 0; i < count; ++i) {
    ones |= PulseMask{inside(pulses[i], kOneLow, kOneWidth)} << i;
    in_range |= PulseMask{inside(pulses[i], kZeroLow, kInRangeWidth)} << i;
  }
}

void classify_portable(const std::uint8_t* pulses, std::size_t windows, PulseMask* ones,
                       PulseMask* in_range, PulseMask* locks) {
  for (std::size_t w = 0; w < windows; ++w) {
    classify_one_window(pulses + (w * kMaskWidth), kMaskWidth, ones[w], in_range[w]);
  }
  find_locks(ones, windows, locks);
}

#if TAPNAMES_X86_64
// 16 pulses a step, with the same wrap-round test: min(v - low, width) equals
// v - low exactly when v - low <= width. For v = 0x28 and low = 33: 0x28 - 33
// = 7 and min(7, 14) = 7, so the lane is all ones and movemask sets its bit;
// for v = 0x10, 0x10 - 33 wraps to 0xEF, min(0xEF, 14) = 14 differs, bit clear.
PulseMask sse2_lanes(const std::uint8_t* pulses, std::uint8_t low, std::uint8_t width) {
  const __m128i offset = _mm_set1_epi8(static_cast<char>(low));
  const __m128i limit = _mm_set1_epi8(static_cast<char>(width));
  PulseMask mask = 0;
  for (std::size_t lane = 0; lane < kMaskWidth / 16; ++lane) {
    const __m128i value =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(pulses + (lane * 16)));  // NOLINT
    const __m128i shifted = _mm_sub_epi8(value, offset);
    const __m128i within = _mm_cmpeq_epi8(_mm_min_epu8(shifted, limit), shifted);
    mask |= PulseMask{static_cast<std::uint16_t>(_mm_movemask_epi8(within))} << (lane * 16);
  }
  return mask;
}

void classify_sse2(const std::uint8_t* pulses, std::size_t windows, PulseMask* ones,
                   PulseMask* in_range, PulseMask* locks) {
  for (std::size_t w = 0; w < windows; ++w) {
    const std::uint8_t* window = pulses + (w * kMaskWidth);
    ones[w] = sse2_lanes(window, kOneLow, kOneWidth);
    in_range[w] = sse2_lanes(window, kZeroLow, kInRangeWidth);
  }
  find_locks(ones, windows, locks);
}
#endif

#if TAPNAMES_WIDE_VECTORS
// The same test on 32 pulses a step; each window is loaded once for both classes.
__attribute__((target("avx2"))) void classify_avx2(const std::uint8_t* pulses, std::size_t windows,
                                                   PulseMask* ones, PulseMask* in_range,
                                                   PulseMask* locks) {
  const __m256i one_low = _mm256_set1_epi8(static_cast<char>(kOneLow));
  const __m256i one_width = _mm256_set1_epi8(static_cast<char>(kOneWidth));
  const __m256i zero_low = _mm256_set1_epi8(static_cast<char>(kZeroLow));
  const __m256i range_width = _mm256_set1_epi8(static_cast<char>(kInRangeWidth));
  for (std::size_t w = 0; w < windows; ++w) {
    PulseMask one_bits = 0;
    PulseMask range_bits = 0;
    for (std::size_t half = 0; half < 2; ++half) {
      const __m256i value = _mm256_loadu_si256(
          reinterpret_cast<const __m256i*>(pulses + (w * kMaskWidth) + (half * 32)));  // NOLINT
      const __m256i as_one = _mm256_sub_epi8(value, one_low);
      const __m256i as_range = _mm256_sub_epi8(value, zero_low);
      const __m256i is_one = _mm256_cmpeq_epi8(_mm256_min_epu8(as_one, one_width), as_one);
      const __m256i is_in = _mm256_cmpeq_epi8(_mm256_min_epu8(as_range, range_width), as_range);
      one_bits |= PulseMask{static_cast<std::uint32_t>(_mm256_movemask_epi8(is_one))}
                  << (half * 32);
      range_bits |= PulseMask{static_cast<std::uint32_t>(_mm256_movemask_epi8(is_in))}
                    << (half * 32);
    }
    ones[w] = one_bits;
    in_range[w] = range_bits;
  }
  find_locks(ones, windows, locks);
}

// The same test on 64 pulses a step: AVX-512 compares straight into a 64-bit
// mask, one bit a pulse, which is the window itself.
__attribute__((target("avx512bw"))) void classify_avx512(const std::uint8_t* pulses,
                                                         std::size_t windows, PulseMask* ones,
                                                         PulseMask* in_range, PulseMask* locks) {
  const __m512i one_low = _mm512_set1_epi8(static_cast<char>(kOneLow));
  const __m512i one_width = _mm512_set1_epi8(static_cast<char>(kOneWidth));
  const __m512i zero_low = _mm512_set1_epi8(static_cast<char>(kZeroLow));
  const __m512i range_width = _mm512_set1_epi8(static_cast<char>(kInRangeWidth));
  for (std::size_t w = 0; w < windows; ++w) {
    const __m512i value = _mm512_loadu_si512(pulses + (w * kMaskWidth));
    ones[w] = _mm512_cmple_epu8_mask(_mm512_sub_epi8(value, one_low), one_width);
    in_range[w] = _mm512_cmple_epu8_mask(_mm512_sub_epi8(value, zero_low), range_width);
  }
  find_locks(ones, windows, locks);
}
#endif

#if defined(__wasm_simd128__)
// WebAssembly SIMD, 16 pulses a step, with the same wrap-round test as SSE2
// but an unsigned compare of its own: v - low <= width. For v = 0x28 and
// low = 33: 0x28 - 33 = 7 <= 14, the lane is all ones and bitmask sets its
// bit; for v = 0x10, 0x10 - 33 wraps to 0xEF > 14, bit clear. Each 16-pulse
// vector is loaded once for both classes.
void classify_wasm_simd128(const std::uint8_t* pulses, std::size_t windows, PulseMask* ones,
                           PulseMask* in_range, PulseMask* locks) {
  constexpr std::size_t kLanes = 16;
  const v128_t one_low = wasm_u8x16_splat(kOneLow);
  const v128_t one_width = wasm_u8x16_splat(kOneWidth);
  const v128_t zero_low = wasm_u8x16_splat(kZeroLow);
  const v128_t range_width = wasm_u8x16_splat(kInRangeWidth);
  for (std::size_t w = 0; w < windows; ++w) {
    PulseMask one_bits = 0;
    PulseMask range_bits = 0;
    for (std::size_t part = 0; part < kMaskWidth / kLanes; ++part) {
      const v128_t value = wasm_v128_load(pulses + (w * kMaskWidth) + (part * kLanes));
      const v128_t is_one = wasm_u8x16_le(wasm_i8x16_sub(value, one_low), one_width);
      const v128_t is_in = wasm_u8x16_le(wasm_i8x16_sub(value, zero_low), range_width);
      one_bits |= PulseMask{wasm_i8x16_bitmask(is_one)} << (part * kLanes);
      range_bits |= PulseMask{wasm_i8x16_bitmask(is_in)} << (part * kLanes);
    }
    ones[w] = one_bits;
    in_range[w] = range_bits;
  }
  find_locks(ones, windows, locks);
}
#endif

}  // namespace

bool classifier_available(Classifier classifier) noexcept {
  switch (classifier) {
    case Classifier::Portable:
      return true;
    case Classifier::Sse2:
      return TAPNAMES_X86_64 != 0;  // every x86-64 CPU has SSE2
#if TAPNAMES_WIDE_VECTORS
    case Classifier::Avx2:
      return __builtin_cpu_supports("avx2") != 0;
    case Classifier::Avx512:
      return __builtin_cpu_supports("avx512bw") != 0;
#else
    case Classifier::Avx2:
    case Classifier::Avx512:
      return false;
#endif
#if defined(__wasm_simd128__)
    case Classifier::WasmSimd128:
      return true;  // the module would not have loaded without SIMD
#endif
  }
  return false;
}

Classifier best_classifier() noexcept {
#if defined(__wasm_simd128__)
  return Classifier::WasmSimd128;
#endif
  if (classifier_available(Classifier::Avx512)) {
    return Classifier::Avx512;
  }
  if (classifier_available(Classifier::Avx2)) {
    return Classifier::Avx2;
  }
  if (classifier_available(Classifier::Sse2)) {
    return Classifier::Sse2;
  }
  return Classifier::Portable;
}

void classify_windows(Classifier classifier, const std::uint8_t* pulses, std::size_t windows,
                      PulseMask* ones, PulseMask* in_range, PulseMask* locks) noexcept {
  switch (classifier) {
#if TAPNAMES_WIDE_VECTORS
    case Classifier::Avx512:
      classify_avx512(pulses, windows, ones, in_range, locks);
      return;
    case Classifier::Avx2:
      classify_avx2(pulses, windows, ones, in_range, locks);
      return;
#endif
#if TAPNAMES_X86_64
    case Classifier::Sse2:
      classify_sse2(pulses, windows, ones, in_range, locks);
      return;
#endif
#if defined(__wasm_simd128__)
    case Classifier::WasmSimd128:
      classify_wasm_simd128(pulses, windows, ones, in_range, locks);
      return;
#endif
    default:
      classify_portable(pulses, windows, ones, in_range, locks);
      return;
  }
}

void ClassifiedPulses::classify(std::span<const std::uint8_t> pulses,
                                Classifier classifier) noexcept {
  assert(pulses.size() <= kMaxClassifiedPulses);
  if (pulses.size() > kMaxClassifiedPulses) {
    pulses = pulses.first(kMaxClassifiedPulses);
  }
  pulses_ = pulses;
  const std::size_t whole = pulses.size() / kMaskWidth;
  classify_windows(classifier, pulses.data(), whole, ones_.data(), in_range_.data(), locks_.data());
  classify_one_window(pulses.data() + (whole * kMaskWidth), pulses.size() % kMaskWidth,
                      ones_[whole], in_range_[whole]);
  find_locks(ones_.data() + whole, 1, locks_.data() + whole, whole == 0 ? 0 : ones_[whole - 1]);
  lock_summary_.fill(0);
  for (std::size_t first = 0; first <= whole; first += kMaskWidth) {
    const std::size_t count = std::min(kMaskWidth, whole + 1 - first);
    PulseMask busy = 0;
    for (std::size_t i = 0; i < count; ++i) {
      busy |= PulseMask{locks_[first + i] != 0} << i;
    }
    lock_summary_[first / kMaskWidth] = busy;
  }
}

std::size_t ClassifiedPulses::next_lock_word(std::size_t word) const noexcept {
  std::size_t group = word / kMaskWidth;
  if (group >= lock_summary_.size()) {
    return kWords;
  }
  PulseMask busy = lock_summary_[group] & (~PulseMask{0} << (word % kMaskWidth));
  while (busy == 0) {
    if (++group == lock_summary_.size()) {
      return kWords;
    }
    busy = lock_summary_[group];
  }
  return (group * kMaskWidth) + static_cast<std::size_t>(std::countr_zero(busy));
}

}  // namespace tapnames
