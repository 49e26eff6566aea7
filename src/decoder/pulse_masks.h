// Pulse classes and a bit-parallel classifier: 64 pulses become a 64-bit mask
// (bit i for pulse i) of those whose value lies in a closed range. SSE2 where
// the target has it, a portable loop elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tapnames {

// Pulse lengths: 19..32 is a zero bit, 33..47 a one bit, anything else is out
// of range.
inline constexpr std::uint8_t kZeroLow = 19;
inline constexpr std::uint8_t kZeroHigh = 32;
inline constexpr std::uint8_t kOneLow = 33;
inline constexpr std::uint8_t kOneHigh = 47;

inline constexpr std::size_t kMaskWidth = 64;

// Portable version; also the reference the vector version is tested against.
inline std::uint64_t mask_in_range_portable(const std::uint8_t* pulses, std::uint8_t low,
                                            std::uint8_t high) {
  std::uint64_t mask = 0;
  for (std::size_t i = 0; i < kMaskWidth; ++i) {
    const bool inside = pulses[i] >= low && pulses[i] <= high;
    mask |= static_cast<std::uint64_t>(inside) << i;
  }
  return mask;
}

#if defined(__SSE2__)
inline std::uint64_t mask_in_range(const std::uint8_t* pulses, std::uint8_t low,
                                   std::uint8_t high) {
  // value - low <= high - low, compared unsigned through the minimum.
  const __m128i offset = _mm_set1_epi8(static_cast<char>(low));
  const __m128i width = _mm_set1_epi8(static_cast<char>(high - low));
  std::uint64_t mask = 0;
  for (std::size_t lane = 0; lane < kMaskWidth / 16; ++lane) {
    const __m128i value =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(pulses + lane * 16));  // NOLINT
    const __m128i shifted = _mm_sub_epi8(value, offset);
    const __m128i inside = _mm_cmpeq_epi8(_mm_min_epu8(shifted, width), shifted);
    const auto bits = static_cast<std::uint32_t>(_mm_movemask_epi8(inside));
    mask |= static_cast<std::uint64_t>(bits) << (lane * 16);
  }
  return mask;
}
#else
inline std::uint64_t mask_in_range(const std::uint8_t* pulses, std::uint8_t low,
                                   std::uint8_t high) {
  return mask_in_range_portable(pulses, low, high);
}
#endif

}  // namespace tapnames
