// SPDX-License-Identifier: MIT
// What the classifier kernels share, inside the scan core: which vector code
// this compiler can build, the one-pass loop of the kernels that classify a
// window at a time, and the kernels of other CPUs, each in a file of its own
// (classify_portable.cpp, classify_x86.cpp, classify_wasm.cpp). Adding a
// kernel is one file and one row of the table in pulse_classes.cpp.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "pulse_classes.h"

// Conditional compilation only: which vector code this compiler can build.
#if defined(__x86_64__) || defined(_M_X64)
#define TAPNAMES_X86_64 1  // NOLINT(cppcoreguidelines-macro-usage)
#else
#define TAPNAMES_X86_64 0  // NOLINT(cppcoreguidelines-macro-usage)
#endif
// GCC and clang compile AVX2 and AVX-512 code in functions of their own,
// taken only when the CPU has them.
#if TAPNAMES_X86_64 && (defined(__GNUC__) || defined(__clang__))
#define TAPNAMES_WIDE_VECTORS 1  // NOLINT(cppcoreguidelines-macro-usage)
#define TAPNAMES_INLINE \
  __attribute__((always_inline)) inline  // NOLINT(cppcoreguidelines-macro-usage)
#else
#define TAPNAMES_WIDE_VECTORS 0  // NOLINT(cppcoreguidelines-macro-usage)
#define TAPNAMES_INLINE inline   // NOLINT(cppcoreguidelines-macro-usage)
#endif

namespace tapnames {

#if TAPNAMES_X86_64
extern const Classifier kSse2Classifier;
#endif
#if TAPNAMES_WIDE_VECTORS
extern const Classifier kAvx2Classifier;
extern const Classifier kAvx512Classifier;
#endif
#if defined(__wasm_simd128__)
extern const Classifier kWasmSimd128Classifier;
#endif

namespace kernels {

// A pulse v lies in low..high exactly when the byte v - low, which wraps
// round below low, is at most high - low.
inline constexpr std::uint8_t kOneWidth = kOneHigh - kOneLow;
inline constexpr std::uint8_t kInRangeWidth = kOneHigh - kZeroLow;

constexpr bool inside(std::uint8_t value, std::uint8_t low, std::uint8_t width) {
  return static_cast<std::uint8_t>(value - low) <= width;
}

// The one pass of the portable, SSE2 and WebAssembly classifiers: `window(pulses, ones,
// in_range)` classifies the 64 pulses of one window, and the lock candidates
// and the summary are worked out from its ones while they are in registers.
// Inlined into each classifier, it is compiled for the same vector width. The
// AVX2 and AVX-512 classifiers do the same doubling on four or eight windows
// at once, in the lanes of a vector (find_locks_avx2, lock_lanes).
//
// A lock at pulse k needs a one at k-1 and none at k or k-7..k-2 (see
// lock_candidates). The ones at k-2..k-7 are gathered by doubling: `near`
// holds a one at k or k-1, `four` at k..k-3, `six` at k..k-5, and `far`, six
// shifted by two, at k-2..k-7. Each shift takes its low bits from the top of
// the same mask of the window before, so no window is classified twice.
// Example: a lone one at pulse 62 of window 0. There near has bits 62-63 and
// locks bit 63 (pulse 63 the zero after the one). Window 1 has no ones; its
// four takes bits 0-1 from window 0's near, its six bits 0-3 (and 0-1 from
// window 0's four), its far bits 0-5: pulses 64..69 see that one two to seven
// pulses back, pulse 70 eight back.
template <typename Window>
TAPNAMES_INLINE void one_pass(const std::uint8_t* pulses, std::size_t windows,
                              const ClassArrays& out, Window window) {
  constexpr unsigned kTop1 = kMaskWidth - 1;
  constexpr unsigned kTop2 = kMaskWidth - 2;
  PulseMask ones_before = 0;
  PulseMask near_before = 0;
  PulseMask four_before = 0;
  PulseMask six_before = 0;
  for (std::size_t first = 0; first < windows; first += kMaskWidth) {
    const std::size_t count = std::min(kMaskWidth, windows - first);
    PulseMask busy = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t w = first + i;
      PulseMask ones = 0;
      PulseMask in_range = 0;
      window(pulses + (w * kMaskWidth), ones, in_range);
      const PulseMask one_before = (ones << 1U) | (ones_before >> kTop1);
      const PulseMask near = ones | one_before;
      const PulseMask four = near | (near << 2U) | (near_before >> kTop2);
      const PulseMask six = four | (four << 2U) | (four_before >> kTop2);
      const PulseMask far = (six << 2U) | (six_before >> kTop2);
      const PulseMask locks = one_before & ~(ones | far);
      out.ones[w] = ones;
      out.in_range[w] = in_range;
      out.locks[w] = locks;
      busy |= PulseMask{linked_candidates(locks, ~PulseMask{0}) != 0} << i;
      ones_before = ones;
      near_before = near;
      four_before = four;
      six_before = six;
    }
    out.summary[first / kMaskWidth] = busy;
  }
}

// The classes of the one window at `pulses`, by a kernel's window step
// `Step(pulses, ones, in_range)`.
template <auto Step>
WindowClasses one_window(const std::uint8_t* pulses) noexcept {
  WindowClasses classes;
  Step(pulses, classes.ones, classes.in_range);
  return classes;
}

// For the kernels that every CPU of their kind runs.
inline bool always_available() noexcept {
  return true;
}

}  // namespace kernels
}  // namespace tapnames
