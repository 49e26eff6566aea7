// SPDX-License-Identifier: MIT
// A tape whose pulses include 0x1A (every zero bit), 0x0D and 0x0A where one
// pulse more or less changes what is found. Read as text rather than as
// binary, it would end at the first 0x1A, or lose the 0x0D of 0x0D 0x0A and
// report a name that is not there.
#pragma once

#include <cstdint>
#include <vector>

#include "tape_builder.h"

namespace tapes {

inline std::vector<std::uint8_t> special_pulses_tape() {
  // A one, then 0x0D: the search locks on 0x0D (the register reads 0x02) and
  // 0x0A, out of range, breaks that pilot at once. The search locks again at
  // the end of the first pilot byte, so a pilot of 958 bytes counts one short
  // of 959 and the block is dropped. Without the 0x0D the lock on 0x0A would
  // fall just before the pilot and count every byte of it.
  return TapeBuilder()
      .pulses(kOnePulse)
      .pulses(0x0D)
      .pulses(0x0A)
      .header("ONE SHORT", 1, 958)
      .pulses(0x0D)
      .pulses(0x0A)
      .header("AFTER")
      .take();
}

}  // namespace tapes
