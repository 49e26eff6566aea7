// SPDX-License-Identifier: MIT
// The shipped tapes: the demo image is what its recipe makes, and the
// special-pulses tape of the end-to-end tests shows a name that is not there
// if one of its 0x0D pulses is lost, as a text-mode read would lose it.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "demo_tape.h"
#include "model.h"
#include "special_tape.h"

namespace {

TEST(Demo, ShippedImageIsReproducibleFromTheBuilder) {
  std::FILE* file = std::fopen(TAPNAMES_DEMO, "rb");
  ASSERT_NE(file, nullptr);
  std::vector<std::uint8_t> shipped;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
    shipped.push_back(static_cast<std::uint8_t>(c));
  }
  std::fclose(file);
  EXPECT_EQ(shipped, tapes::demo_tape());
}

TEST(Demo, SpecialPulsesTapeDependsOnEveryPulse) {
  auto tape = tapes::special_pulses_tape();
  EXPECT_EQ(model::scan_output(tape, true, false), "FOUND (001): \"AFTER\"\n");
  tape.erase(tape.begin() + 1);  // the first 0x0D, as 0x0D 0x0A read as text
  EXPECT_EQ(model::scan_output(tape, true, false),
            "FOUND (001): \"ONE SHORT\"\nFOUND (002): \"AFTER\"\n");
}

}  // namespace
