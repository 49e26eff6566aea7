// The bulk path against the per-pulse reference: seeded random tapes, fed
// whole through feed_pulse and in random chunks through feed_pulses, must give
// the same names at the same pulses and the same final decoder state.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "decoder/pulse_decoder.h"
#include "decoder/pulse_masks.h"
#include "tape_builder.h"

namespace {

using tapnames::PulseDecoder;
using tapnames::TapeName;
using Report = std::pair<std::size_t, std::string>;  // pulse index, name bytes

std::string name_text(const TapeName& name) {
  return {name.begin(), name.begin() + 16};
}

std::vector<std::uint8_t> random_tape(std::mt19937& random) {
  tapes::TapeBuilder tape;
  const int segments = static_cast<int>(random() % 12) + 1;
  for (int s = 0; s < segments; ++s) {
    const std::string name = "N" + std::to_string(random() % 1000);
    switch (random() % 8) {
      case 0:
        tape.header(name, static_cast<std::uint8_t>(1 + random() % 2));
        break;
      case 1:
        tape.header(name, 1, 955 + random() % 8);
        break;  // around the pilot limit
      case 2:
        tape.pilot(960 + random() % 100).sync().byte(static_cast<std::uint8_t>(random()));
        break;  // any block type, cut after it
      case 3:
        tape.data_block(random() % 300, random());
        break;
      case 4:
        tape.slow_pulses(random() % 2000, random());
        break;
      case 5:  // random pulses near the class boundaries
        for (auto n = random() % 500; n > 0; --n) {
          tape.pulses(static_cast<std::uint8_t>(16 + random() % 36));
        }
        break;
      case 6:  // a header with one pulse damaged
      {
        auto block = tapes::TapeBuilder().header(name).take();
        block[random() % block.size()] = static_cast<std::uint8_t>(random());
        tape.raw(block);
      } break;
      default:
        for (auto n = random() % 500; n > 0; --n) {
          tape.pulses(static_cast<std::uint8_t>(random()));
        }
    }
  }
  return tape.take();
}

TEST(Differential, BulkPathMatchesPerPulseReference) {
  std::size_t reported = 0;
  std::mt19937 random(20261207);  // NOLINT(cert-msc32-c,cert-msc51-cpp): reproducible
  for (int round = 0; round < 400; ++round) {
    const auto tape = random_tape(random);

    PulseDecoder reference;
    TapeName reference_name{};
    std::vector<Report> expected;
    for (std::size_t i = 0; i < tape.size(); ++i) {
      if (reference.feed_pulse(tape[i], reference_name) == 1) {
        expected.emplace_back(i, name_text(reference_name));
      }
    }

    PulseDecoder bulk;
    TapeName bulk_name{};
    std::vector<Report> actual;
    std::size_t position = 0;
    while (position < tape.size()) {
      const std::size_t chunk = std::min<std::size_t>(tape.size() - position, random() % 300);
      std::span<const std::uint8_t> rest(tape.data() + position, chunk);
      while (!rest.empty()) {
        const auto result = bulk.feed_pulses(rest, bulk_name);
        ASSERT_GE(result.consumed, 1U);
        position += result.consumed;
        rest = rest.subspan(result.consumed);
        if (result.found) {
          actual.emplace_back(position - 1, name_text(bulk_name));
        } else {
          ASSERT_TRUE(rest.empty());
        }
      }
    }
    ASSERT_EQ(actual, expected) << "round " << round;
    ASSERT_EQ(bulk.fields(), reference.fields()) << "round " << round;
    reported += expected.size();
  }
  EXPECT_GT(reported, 400U);  // the tapes are not all noise
}

TEST(Differential, VectorMaskMatchesPortableMask) {
  std::mt19937 random(7);
  std::vector<std::uint8_t> pulses(64);
  for (int round = 0; round < 2000; ++round) {
    for (auto& pulse : pulses)
      pulse = static_cast<std::uint8_t>(random());
    const auto low = static_cast<std::uint8_t>(random());
    const auto high = static_cast<std::uint8_t>(low + random() % (256U - low));
    ASSERT_EQ(tapnames::mask_in_range(pulses.data(), low, high),
              tapnames::mask_in_range_portable(pulses.data(), low, high));
  }
}

}  // namespace
