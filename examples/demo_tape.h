// SPDX-License-Identifier: MIT
// The recipe of the demo tape image shipped as examples/demo.tap.
#pragma once

#include <cstdint>
#include <vector>

namespace tapes {

// Three recordings (header and data block each) among slow-loader pulses;
// the second name holds control codes that -e shows by name.
std::vector<std::uint8_t> demo_tape();

}  // namespace tapes
