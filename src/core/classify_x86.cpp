// SPDX-License-Identifier: MIT
// The x86-64 classifiers: SSE2, which every x86-64 CPU has, and AVX2 and
// AVX-512BW, compiled in functions of their own and taken only when the CPU
// has them.
#include "kernels.h"

#if TAPNAMES_X86_64
#include <emmintrin.h>

#include <bit>
#include <cstring>
#endif
#if TAPNAMES_WIDE_VECTORS
#include <immintrin.h>
#if defined(__GLIBC__) && !defined(__clang__) && __has_include(<sys/platform/x86.h>)
// The C library has asked the CPU what it has before the program starts: ask
// it, not the CPU again (each CPUID instruction traps to the hypervisor on a
// virtual machine, tens of microseconds, which start-up would pay). The
// header is C, whose inline functions return _Bool: GCC takes that type in
// C++ too, clang does not, so a clang build asks the CPU.
#include <sys/platform/x86.h>
#define TAPNAMES_CPU_FEATURES_FROM_LIBC 1  // NOLINT(cppcoreguidelines-macro-usage)
#endif
#endif

#if TAPNAMES_X86_64
namespace tapnames {
namespace {

using kernels::kInRangeWidth;
using kernels::one_pass;

// 16 pulses a step, with the same wrap-round test: min(v - low, width) equals
// v - low exactly when v - low <= width. For v = 0x28 and low = 19: 0x28 - 19
// = 21 and min(21, 28) = 21, so the lane is in range; it is a one as well,
// since min(21, 13) = 13 differs (33 - 19 = 14 is the first one). For
// v = 0x10, 0x10 - 19 wraps to 0xFD, min(0xFD, 28) = 28 differs: out of range.
TAPNAMES_INLINE void sse2_window(const std::uint8_t* window, PulseMask& ones, PulseMask& in_range) {
  const __m128i zero_low = _mm_set1_epi8(static_cast<char>(kZeroLow));
  const __m128i range_width = _mm_set1_epi8(static_cast<char>(kInRangeWidth));
  const __m128i zero_width = _mm_set1_epi8(static_cast<char>(kZeroHigh - kZeroLow));
  for (unsigned lane = 0; lane < kMaskWidth / 16; ++lane) {
    const __m128i value =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(window + (lane * 16)));  // NOLINT
    const __m128i shifted = _mm_sub_epi8(value, zero_low);
    const __m128i within = _mm_cmpeq_epi8(_mm_min_epu8(shifted, range_width), shifted);
    const __m128i zero = _mm_cmpeq_epi8(_mm_min_epu8(shifted, zero_width), shifted);
    const auto in_bits = static_cast<std::uint16_t>(_mm_movemask_epi8(within));
    const auto zero_bits = static_cast<std::uint16_t>(_mm_movemask_epi8(zero));
    in_range |= PulseMask{in_bits} << (lane * 16);
    ones |= PulseMask{static_cast<std::uint16_t>(in_bits & ~zero_bits)} << (lane * 16);
  }
}

void classify_sse2(const std::uint8_t* pulses, std::size_t windows,
                   const ClassArrays& out) noexcept {
  one_pass(pulses, windows, out, sse2_window);
}

#if TAPNAMES_WIDE_VECTORS
// The windows from `w` on, past the last whole vector of them, by the scalar
// formula, for the vector lock finders; `busy` holds the summary bits already
// found in w's group of 64 windows.
TAPNAMES_INLINE void lock_tail(std::size_t w, std::size_t windows, PulseMask busy,
                               const ClassArrays& out) {
  for (; w < windows; ++w) {
    const PulseMask locks = lock_candidates(out.ones[w], w == 0 ? 0 : out.ones[w - 1]);
    out.locks[w] = locks;
    busy |= PulseMask{linked_candidates(locks, ~PulseMask{0}) != 0} << (w % kMaskWidth);
  }
  if (windows % kMaskWidth != 0) {
    out.summary[windows / kMaskWidth] = busy;
  }
}

// Shifts of the four 64-bit lanes, and their union, for find_locks_avx2.
template <int By>
__attribute__((target("avx2"), always_inline)) inline __m256i left(__m256i lanes) {
  return _mm256_slli_epi64(lanes, By);
}
template <int By>
__attribute__((target("avx2"), always_inline)) inline __m256i right(__m256i lanes) {
  return _mm256_srli_epi64(lanes, By);
}
__attribute__((target("avx2"), always_inline)) inline __m256i either(__m256i a, __m256i b) {
  return _mm256_or_si256(a, b);
}

// Lock candidates and the summary for four windows at a time, from the ones
// already stored: the doubling of one_pass on the four 64-bit lanes of a
// vector. Each lane loads the window before it as well, and works out the top
// bits of that window's near, four and six from it alone (they depend on its
// top eight bits only), so no lane waits for another.
__attribute__((target("avx2"))) void find_locks_avx2(std::size_t windows, const ClassArrays& out) {
  constexpr std::size_t kLanes = 4;
  const __m256i top_eight = _mm256_set1_epi64x(static_cast<long long>(0xFF00000000000000ULL));
  const __m256i nothing = _mm256_setzero_si256();
  PulseMask busy = 0;
  std::size_t w = 0;
  for (; w + kLanes <= windows; w += kLanes) {
    const __m256i ones =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(out.ones + w));  // NOLINT
    const __m256i before =
        w == 0 ? _mm256_set_epi64x(static_cast<long long>(out.ones[2]),
                                   static_cast<long long>(out.ones[1]),
                                   static_cast<long long>(out.ones[0]), 0)
               : _mm256_loadu_si256(reinterpret_cast<const __m256i*>(out.ones + w - 1));  // NOLINT
    const __m256i near_before = either(before, left<1>(before));
    const __m256i four_before = either(near_before, left<2>(near_before));
    const __m256i six_before = either(four_before, left<2>(four_before));
    const __m256i one_before = either(left<1>(ones), right<63>(before));
    const __m256i near = either(ones, one_before);
    const __m256i four = either(either(near, left<2>(near)), right<62>(near_before));
    const __m256i six = either(either(four, left<2>(four)), right<62>(four_before));
    const __m256i far = either(left<2>(six), right<62>(six_before));
    const __m256i locks = _mm256_andnot_si256(either(ones, far), one_before);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.locks + w), locks);  // NOLINT
    const __m256i linked =
        _mm256_and_si256(locks, either(either(right<7>(locks), right<8>(locks)), top_eight));
    const auto single = static_cast<unsigned>(
        _mm256_movemask_pd(_mm256_castsi256_pd(_mm256_cmpeq_epi64(linked, nothing))));
    busy |= PulseMask{~single & 0xFU} << (w % kMaskWidth);
    if ((w + kLanes) % kMaskWidth == 0) {
      out.summary[w / kMaskWidth] = busy;
      busy = 0;
    }
  }
  lock_tail(w, windows, busy, out);
}

// The same test on 32 pulses a step.
__attribute__((target("avx2"))) void classify_avx2(const std::uint8_t* pulses, std::size_t windows,
                                                   const ClassArrays& out) noexcept {
  const __m256i zero_low = _mm256_set1_epi8(static_cast<char>(kZeroLow));
  const __m256i range_width = _mm256_set1_epi8(static_cast<char>(kInRangeWidth));
  const __m256i zero_width = _mm256_set1_epi8(static_cast<char>(kZeroHigh - kZeroLow));
  for (std::size_t w = 0; w < windows; ++w) {
    PulseMask ones = 0;
    PulseMask in_range = 0;
    for (unsigned half = 0; half < 2; ++half) {
      const __m256i value = _mm256_loadu_si256(
          reinterpret_cast<const __m256i*>(pulses + (w * kMaskWidth) + (half * 32)));  // NOLINT
      const __m256i shifted = _mm256_sub_epi8(value, zero_low);
      const __m256i within = _mm256_cmpeq_epi8(_mm256_min_epu8(shifted, range_width), shifted);
      const __m256i zero = _mm256_cmpeq_epi8(_mm256_min_epu8(shifted, zero_width), shifted);
      const auto in_bits = PulseMask{static_cast<std::uint32_t>(_mm256_movemask_epi8(within))};
      const auto zero_bits = PulseMask{static_cast<std::uint32_t>(_mm256_movemask_epi8(zero))};
      in_range |= in_bits << (half * 32);
      ones |= (in_bits & ~zero_bits) << (half * 32);
    }
    out.ones[w] = ones;
    out.in_range[w] = in_range;
  }
  find_locks_avx2(windows, out);
}

// GCC 12 warns that the AVX-512 shift and align intrinsics read their own
// undefined placeholder operand (GCC bug 105593, fixed in GCC 13).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// The lanes of the window before each lane's: the last of `previous`, then
// lanes 0..6 of `lanes`.
__attribute__((target("avx512bw"), always_inline)) inline __m512i lanes_before(__m512i lanes,
                                                                               __m512i previous) {
  constexpr int kLastLane = 7;
  return _mm512_alignr_epi64(lanes, previous, kLastLane);
}

// (high << By) | (low >> (64 - By)) on every lane.
template <unsigned By>
__attribute__((target("avx512bw"), always_inline)) inline __m512i joined(__m512i high,
                                                                         __m512i low) {
  return _mm512_or_si512(_mm512_slli_epi64(high, By), _mm512_srli_epi64(low, kMaskWidth - By));
}

// Lock candidates and the summary for eight windows at a time, from the ones
// already stored: the same doubling as one_pass, on the eight 64-bit lanes of
// a vector, each lane taking what it needs of the window before from the lane
// below (the lowest from the last lane of the eight before, kept here).
struct LockLanes {
  __m512i ones;
  __m512i near;
  __m512i four;
  __m512i six;
};

constexpr std::size_t kLockLanes = 8;

__attribute__((target("avx512bw"), always_inline)) inline void lock_lanes(LockLanes& before,
                                                                          std::size_t w,
                                                                          const ClassArrays& out) {
  constexpr int kOr3 = 0xFE;       // a | b | c
  constexpr int kAndNotOr = 0x10;  // a & ~(b | c)
  // Candidates there may be linked to the next word's (linked_candidates).
  const __m512i top_eight = _mm512_set1_epi64(static_cast<long long>(0xFF00000000000000ULL));
  const __m512i ones = _mm512_loadu_si512(out.ones + w);
  const __m512i one_before = joined<1>(ones, lanes_before(ones, before.ones));
  const __m512i near = _mm512_or_si512(ones, one_before);
  const __m512i four = _mm512_ternarylogic_epi64(
      near, _mm512_slli_epi64(near, 2),
      _mm512_srli_epi64(lanes_before(near, before.near), kMaskWidth - 2), kOr3);
  const __m512i six = _mm512_ternarylogic_epi64(
      four, _mm512_slli_epi64(four, 2),
      _mm512_srli_epi64(lanes_before(four, before.four), kMaskWidth - 2), kOr3);
  const __m512i far = joined<2>(six, lanes_before(six, before.six));
  const __m512i locks = _mm512_ternarylogic_epi64(one_before, ones, far, kAndNotOr);
  _mm512_storeu_si512(out.locks + w, locks);
  const __m512i linked = _mm512_ternarylogic_epi64(_mm512_srli_epi64(locks, 7),
                                                   _mm512_srli_epi64(locks, 8), top_eight, kOr3);
  // The eight summary bits of these windows are one byte of the summary (on
  // x86-64, bit 8k of a word lies in its byte k).
  const auto busy = static_cast<std::uint8_t>(_mm512_test_epi64_mask(locks, linked));
  std::memcpy(reinterpret_cast<unsigned char*>(out.summary) + (w / kLockLanes), &busy,  // NOLINT
              sizeof busy);
  before.ones = ones;
  before.near = near;
  before.four = four;
  before.six = six;
}

// 64 pulses a step: AVX-512 compares straight into a 64-bit mask, one bit a
// pulse, which is the window itself. The ones are the pulses in range that
// are not zeros, v - 19 > 13, compared under the in-range mask.
__attribute__((target("avx512bw"), always_inline)) inline WindowClasses avx512_window(
    const std::uint8_t* pulses) {
  const __m512i shifted =
      _mm512_sub_epi8(_mm512_loadu_si512(pulses), _mm512_set1_epi8(static_cast<char>(kZeroLow)));
  const __mmask64 within =
      _mm512_cmple_epu8_mask(shifted, _mm512_set1_epi8(static_cast<char>(kInRangeWidth)));
  return {_mm512_mask_cmpgt_epu8_mask(within, shifted,
                                      _mm512_set1_epi8(static_cast<char>(kZeroHigh - kZeroLow))),
          within};
}

// One window on its own, for classify_window, which is not built for
// AVX-512 and so cannot take avx512_window inline.
__attribute__((target("avx512bw"))) WindowClasses avx512_one_window(
    const std::uint8_t* pulses) noexcept {
  return avx512_window(pulses);
}

// The windows of a piece with avx512_window. The lock candidates of each
// eight windows are found while the next eight are loaded, so that the work
// on them hides the wait for the pulses.
__attribute__((target("avx512bw"))) void classify_avx512(const std::uint8_t* pulses,
                                                         std::size_t windows,
                                                         const ClassArrays& out) noexcept {
  const auto classify = [&](std::size_t w) __attribute__((target("avx512bw"), always_inline)) {
    const WindowClasses classes = avx512_window(pulses + (w * kMaskWidth));
    out.in_range[w] = classes.in_range;
    out.ones[w] = classes.ones;
  };
  LockLanes before{_mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512(),
                   _mm512_setzero_si512()};
  // The locks lag this many windows behind, so that the ones they load have
  // been written to the cache, not still waiting to be stored.
  constexpr std::size_t kLag = 4 * kLockLanes;
  std::size_t w = 0;
  std::size_t locked = 0;
  for (; w + kLockLanes <= windows; w += kLockLanes) {
    for (std::size_t i = 0; i < kLockLanes; ++i) {
      classify(w + i);
    }
    if (w >= kLag) {
      lock_lanes(before, locked, out);
      locked += kLockLanes;
    }
  }
  for (std::size_t rest = w; rest < windows; ++rest) {
    classify(rest);
  }
  for (; locked < w; locked += kLockLanes) {
    lock_lanes(before, locked, out);
  }
  // The windows past the last multiple of eight go through the scalar formula;
  // their summary bits join those of the whole bytes before them.
  PulseMask busy = w % kMaskWidth == 0 ? 0 : out.summary[w / kMaskWidth];
  busy &= (PulseMask{1} << (w % kMaskWidth)) - 1;
  lock_tail(w, windows, busy, out);
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif

}  // namespace

// Every x86-64 CPU has SSE2.
const Classifier kSse2Classifier{"sse2", kernels::always_available, classify_sse2,
                                 kernels::one_window<sse2_window>};

#if TAPNAMES_WIDE_VECTORS
namespace {

bool has_avx2() noexcept {
#if defined(TAPNAMES_CPU_FEATURES_FROM_LIBC)
  return CPU_FEATURE_ACTIVE(AVX2);
#else
  return __builtin_cpu_supports("avx2") != 0;
#endif
}

bool has_avx512bw() noexcept {
#if defined(TAPNAMES_CPU_FEATURES_FROM_LIBC)
  return CPU_FEATURE_ACTIVE(AVX512BW);
#else
  return __builtin_cpu_supports("avx512bw") != 0;
#endif
}

}  // namespace

// One window is too few for more than SSE2: AVX2 looks at single windows
// with SSE2's step.
const Classifier kAvx2Classifier{"avx2", has_avx2, classify_avx2, kernels::one_window<sse2_window>};
const Classifier kAvx512Classifier{"avx512bw", has_avx512bw, classify_avx512, avx512_one_window};
#endif

}  // namespace tapnames
#endif
