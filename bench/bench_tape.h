// SPDX-License-Identifier: MIT
// A realistic synthetic tape for benchmarks: a slow-loader stretch, pauses,
// and turbo recordings (header and data blocks) repeated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tape_builder.h"

namespace tapes {

// One "side" of about 1 MiB: what a collection's images mostly hold.
inline std::vector<std::uint8_t> bench_tape_segment(std::uint_fast32_t seed) {
  constexpr std::uint8_t kPause = 0;
  TapeBuilder tape;
  tape.slow_pulses(200000, seed).pulses(kPause, 4000);
  for (std::uint_fast32_t file = 0; file < 8; ++file) {
    tape.header("FILE " + std::to_string(file)).data_block(12000, seed + file).pulses(kPause, 500);
  }
  return tape.take();
}

}  // namespace tapes
