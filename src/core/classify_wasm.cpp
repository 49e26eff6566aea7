// SPDX-License-Identifier: MIT
// The WebAssembly SIMD classifier, in a build with -msimd128.
#include "kernels.h"

#if defined(__wasm_simd128__)
#include <wasm_simd128.h>

namespace tapnames {
namespace {

using kernels::kInRangeWidth;
using kernels::kOneWidth;
using kernels::one_pass;
using kernels::one_window;

// WebAssembly SIMD, 16 pulses a step, with the same wrap-round test as SSE2
// but an unsigned compare of its own: v - low <= width. For v = 0x28 and
// low = 33: 0x28 - 33 = 7 <= 14, the lane is all ones and bitmask sets its
// bit; for v = 0x10, 0x10 - 33 wraps to 0xEF > 14, bit clear. Each 16-pulse
// vector is loaded once for both classes.
TAPNAMES_INLINE void wasm_window(const std::uint8_t* window, PulseMask& ones, PulseMask& in_range) {
  constexpr std::size_t kLanes = 16;
  const v128_t one_low = wasm_u8x16_splat(kOneLow);
  const v128_t one_width = wasm_u8x16_splat(kOneWidth);
  const v128_t zero_low = wasm_u8x16_splat(kZeroLow);
  const v128_t range_width = wasm_u8x16_splat(kInRangeWidth);
  for (std::size_t part = 0; part < kMaskWidth / kLanes; ++part) {
    const v128_t value = wasm_v128_load(window + (part * kLanes));
    const v128_t is_one = wasm_u8x16_le(wasm_i8x16_sub(value, one_low), one_width);
    const v128_t is_in = wasm_u8x16_le(wasm_i8x16_sub(value, zero_low), range_width);
    ones |= PulseMask{wasm_i8x16_bitmask(is_one)} << (part * kLanes);
    in_range |= PulseMask{wasm_i8x16_bitmask(is_in)} << (part * kLanes);
  }
}

void classify_wasm_simd128(const std::uint8_t* pulses, std::size_t windows,
                           const ClassArrays& out) noexcept {
  one_pass(pulses, windows, out, wasm_window);
}

}  // namespace

// The module would not have loaded without SIMD.
const Classifier kWasmSimd128Classifier{"wasm-simd128", kernels::always_available,
                                        classify_wasm_simd128, one_window<wasm_window>};

}  // namespace tapnames
#endif
