// SPDX-License-Identifier: MIT
// The product against the independent model: seeded random tapes, tapes that
// put every change of state on every offset of a 64-pulse window and across
// reads, and a header cut at every pulse. The per-pulse path, the bulk path
// (in random pieces, with every classifier) and the whole scan must report
// the same names at the same pulses, end in the same state and write the
// same lines as the model.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "decode_support.h"
#include "tape_builder.h"

namespace {

using support::Decoded;
using tapnames::Classifier;

std::vector<Classifier> classifiers() {
  std::vector<Classifier> available;
  for (const auto c : tapnames::kClassifiers) {
    if (tapnames::classifier_available(c)) {
      available.push_back(c);
    }
  }
  return available;
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

// Checks every path of the product against the model on one tape, with the
// bulk path's pieces chosen by `random`.
void expect_all_paths_match(const std::vector<std::uint8_t>& tape, std::mt19937& random,
                            const std::string& what) {
  const Decoded expected = support::model_decode(tape);
  ASSERT_EQ(support::per_pulse_decode(tape), expected) << what;
  for (const Classifier classifier : classifiers()) {
    const auto piece = [&] { return 1 + random() % 400; };
    ASSERT_EQ(support::bulk_decode(tape, piece, classifier), expected)
        << what << ", classifier " << static_cast<int>(classifier);
  }
}

TEST(Differential, RandomTapesMatchTheModel) {
  std::size_t reported = 0;
  std::mt19937 random(20261207);  // NOLINT(cert-msc32-c,cert-msc51-cpp): reproducible
  for (int round = 0; round < 300; ++round) {
    const auto tape = random_tape(random);
    expect_all_paths_match(tape, random, "round " + std::to_string(round));
    reported += support::model_decode(tape).reports.size();
    if (round % 10 == 0) {  // the whole scan, all four option sets
      for (const bool all : {false, true}) {
        for (const bool escape : {false, true}) {
          ASSERT_EQ(support::scan_text(tape, all, escape), model::scan_output(tape, all, escape))
              << "round " << round << " -a " << all << " -e " << escape;
        }
      }
    }
  }
  EXPECT_GT(reported, 300U);  // the tapes are not all noise
}

// A prefix of 0..127 pulses moves every change of state of a tape - the lock,
// each pilot byte, the end of the pilot, a break, every header byte and the
// report - through every offset of a 64-pulse window; the pieces, of one
// window plus a varying remainder, move them across the ends of reads.
TEST(Differential, EveryChangeOfStateAtEveryWindowOffset) {
  using tapes::TapeBuilder;
  auto damaged_pilot = TapeBuilder().pilot(300).take();
  damaged_pilot[1000] = 0;
  const std::vector<std::vector<std::uint8_t>> bodies = {
      TapeBuilder().header("EDGE").header("NEXT", 2, 959).byte(0).take(),
      TapeBuilder().header("SHORT", 1, 958).header("CUT", 1, 959).take(),
      TapeBuilder().pulses(tapes::kOnePulse).header("EARLY", 1, 959).byte(0x81).take(),
      TapeBuilder().raw(damaged_pilot).pilot(960).sync().header_body("MENDED", 3).take(),
  };
  std::mt19937 random(64);
  for (std::size_t body = 0; body < bodies.size(); ++body) {
    for (std::size_t offset = 0; offset < 2 * tapnames::kMaskWidth; ++offset) {
      TapeBuilder tape;
      for (std::size_t i = 0; i < offset; ++i) {
        tape.pulses(i % 3 == 0 ? tapes::kOnePulse : tapes::kZeroPulse);
      }
      const auto pulses = tape.raw(bodies[body]).take();
      const std::string what = "body " + std::to_string(body) + " offset " + std::to_string(offset);
      const Decoded expected = support::model_decode(pulses);
      for (const Classifier classifier : classifiers()) {
        const auto piece = [&] { return tapnames::kMaskWidth + offset; };
        ASSERT_EQ(support::bulk_decode(pulses, piece, classifier), expected) << what;
      }
      expect_all_paths_match(pulses, random, what);
    }
  }
}

// A header placed across the end of the scan's first read, at many offsets.
TEST(Differential, ScanAcrossReadsMatchesTheModel) {
  const auto header = tapes::TapeBuilder().header("ACROSS").header("AFTER").take();
  for (std::size_t back = 1; back < header.size(); back += 997) {
    tapes::TapeBuilder tape;
    tape.slow_pulses(tapnames::kMaxClassifiedPulses - back, static_cast<std::uint_fast32_t>(back));
    const auto pulses = tape.raw(header).take();
    for (const bool all : {false, true}) {
      ASSERT_EQ(support::scan_text(pulses, all, false), model::scan_output(pulses, all, false))
          << "header starts " << back << " pulses before the end of the first read";
    }
  }
}

TEST(Differential, HeaderCutAtEveryPulse) {
  const auto block = tapes::TapeBuilder().header("CUT").take();
  for (std::size_t length = 0; length <= block.size(); ++length) {
    std::vector<std::uint8_t> cut(block.begin(), block.begin() + static_cast<long>(length));
    cut.push_back(tapnames::kEndOfFilePulse);
    ASSERT_EQ(support::bulk_decode(cut), support::model_decode(cut)) << "cut at " << length;
  }
  std::vector<std::uint8_t> whole = block;
  whole.push_back(tapnames::kEndOfFilePulse);
  EXPECT_EQ(support::model_decode(whole).reports.size(), 1U);  // the end is not lost
}

TEST(Differential, EveryClassifierMatchesThePortableOne) {
  std::mt19937 random(7);
  std::vector<std::uint8_t> pulses(4 * tapnames::kMaskWidth + 17);
  tapnames::ClassifiedPulses portable;
  tapnames::ClassifiedPulses other;
  for (int round = 0; round < 200; ++round) {
    for (auto& pulse : pulses) {
      pulse = static_cast<std::uint8_t>(round % 2 == 0 ? random() : 16 + random() % 36);
    }
    portable.classify(pulses, Classifier::Portable);
    for (const Classifier classifier : classifiers()) {
      other.classify(pulses, classifier);
      for (std::size_t at = 0; at + tapnames::kMaskWidth <= pulses.size(); ++at) {
        ASSERT_EQ(other.ones_window(at), portable.ones_window(at)) << at;
        ASSERT_EQ(other.in_range_window(at), portable.in_range_window(at)) << at;
        ASSERT_EQ(other.lock_word(at / tapnames::kMaskWidth),
                  portable.lock_word(at / tapnames::kMaskWidth));
      }
    }
  }
}

}  // namespace
