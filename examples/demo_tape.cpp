// SPDX-License-Identifier: MIT
// The demo tape image, built from readable steps.
#include "demo_tape.h"

#include "tape_builder.h"

namespace tapes {

std::vector<std::uint8_t> demo_tape() {
  return TapeBuilder()
      .slow_pulses(20000, 1)
      .header("SPACE RACE")
      .data_block(3000, 2)
      .slow_pulses(2000, 3)
      .header("\x12TITLE\x92 \x1cRED")
      .data_block(1000, 4)
      .header("HIGH SCORES", 2)
      .data_block(500, 5)
      .take();
}

}  // namespace tapes
