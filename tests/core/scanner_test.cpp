// SPDX-License-Identifier: MIT
// The scan core against the independent model: fed in pieces of every size
// class (single pulses, the edges of a 64-pulse window, of a 4,096-pulse lock
// summary group and of a classified read, and random sizes), it must report
// the names the model reports, numbered, placed and typed, and write the
// model's result lines; and it must hand results over when they fill up.
#include "scanner.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "decode_support.h"
#include "tape_builder.h"

namespace {

using tapes::TapeBuilder;
using tapnames::kMaskWidth;
using tapnames::kMaxClassifiedPulses;
using tapnames::ScanMode;
using tapnames::Scanner;

using support::CoreResult;

// Several headers of both types among noise, spread over many summary groups,
// the last ending the image so that the end-of-image pulse reports it.
std::vector<std::uint8_t> mixed_tape(unsigned seed) {
  std::mt19937 random(seed);
  TapeBuilder tape;
  for (int i = 0; i < 6; ++i) {
    tape.slow_pulses(random() % 5000, random());
    for (auto n = random() % 300; n > 0; --n) {
      tape.pulses(static_cast<std::uint8_t>(16 + random() % 36));
    }
    tape.header("NAME " + std::to_string(i) + "\x93", static_cast<std::uint8_t>(1 + i % 2),
                959 + random() % 3);
    if (i % 3 == 1) {
      tape.data_block(random() % 200, random());
    }
  }
  return tape.header("LAST", 2).take();
}

TEST(Scanner, PiecesOfEverySizeMatchTheModel) {
  // Each size class puts the ends of pieces at another edge of the bulk path.
  constexpr std::size_t kRead = tapnames::kReadSize;  // the command line's reads
  std::vector<std::size_t> sizes = {1, 2, 7, 8, 9, kRead - 1, kRead, kRead + 1};
  for (const std::size_t size : {kMaxClassifiedPulses - 1, kMaxClassifiedPulses,
                                 kMaxClassifiedPulses + 1, 3 * kMaxClassifiedPulses}) {
    sizes.push_back(size);
  }
  for (std::size_t k = 1; k <= 3; ++k) {
    for (const std::size_t size : {k * kMaskWidth - 1, k * kMaskWidth, k * kMaskWidth + 1}) {
      sizes.push_back(size);
    }
  }
  constexpr std::size_t kGroup = kMaskWidth * kMaskWidth;  // pulses under one summary word
  for (std::size_t n = 1; n <= 3; ++n) {
    for (const std::size_t extra : {0UL, 1UL, 31UL, 63UL, 64UL, 65UL}) {
      sizes.push_back(n * kGroup + extra);
    }
    sizes.push_back(n * kGroup - 1);
  }
  for (unsigned seed = 1; seed <= 3; ++seed) {
    const auto tape = mixed_tape(seed);
    for (const bool all : {false, true}) {
      const auto want = support::model_core_results(tape, all);
      ASSERT_EQ(want.size(), all ? 7U : 1U);
      for (const bool escape : {false, true}) {
        const std::string lines = model::scan_output(tape, all, escape);
        std::mt19937 random(seed);
        std::vector<std::function<std::size_t()>> pieces;
        for (const std::size_t size : sizes) {
          pieces.emplace_back([size] { return size; });
        }
        pieces.emplace_back([&random] { return 1 + random() % 9000; });
        for (const auto& piece : pieces) {
          for (const auto classifier : support::classifiers()) {
            const support::CoreScan got = support::core_scan(tape, piece, all, escape, classifier);
            ASSERT_EQ(got.results, want) << "seed " << seed << " first piece " << piece();
            ASSERT_EQ(got.lines, lines) << "seed " << seed << " -a " << all << " -e " << escape;
          }
        }
      }
    }
  }
}

// Where no pilot can lie the core passes over pulses undecoded, looking at a
// row of windows. The shortest pilot that counts must be found wherever it
// falls against that row, behind pulses that settle the state (slow ones)
// and behind data that leaves it open, and one a byte shorter found nowhere.
// The lock's own byte ends on an out-of-range pulse, so that only the pilot
// bytes after it are in range: the least the row may count on.
TEST(Scanner, ShortestPilotsWhereverTheyFall) {
  constexpr std::uint8_t kOutOfRange = 0;
  std::mt19937 random(7);
  std::vector<std::uint8_t> data;  // in range, with lock candidates here and there
  for (int i = 0; i < 1200; ++i) {
    data.push_back(static_cast<std::uint8_t>(random() % 4 == 0 ? 0x02 : random()));
  }
  static Scanner scanner;
  for (const bool behind_data : {false, true}) {
    // Past 8,000 every place of the pilot against the row has been met.
    for (std::size_t before = 0; before <= 8000; before += behind_data ? 7 : 1) {
      for (const std::size_t pilot_bytes : {957U, 958U}) {
        TapeBuilder builder;
        builder.slow_pulses(before, static_cast<std::uint_fast32_t>(before));
        if (behind_data) {
          builder.bytes(data);
        }
        const auto tape = builder
                              .pulses(kOutOfRange, 6)  // the lock's byte: 0x02
                              .pulses(tapes::kOnePulse)
                              .pulses(kOutOfRange)
                              .pilot(pilot_bytes)
                              .sync()
                              .header_body("EDGE")
                              .slow_pulses(100, 1)
                              .take();
        scanner = Scanner(ScanMode::AllNames);
        ASSERT_EQ(scanner.feed(tape), tape.size());
        scanner.finish();
        ASSERT_EQ(scanner.results().size(), pilot_bytes == 958 ? 1U : 0U)
            << before << " pulses before, behind data " << behind_data;
        if (before % 500 == 0 || behind_data) {
          ASSERT_EQ(support::model_core_results(tape, true).size(), scanner.results().size())
              << before;
        }
      }
    }
  }
}

// A pilot of exactly 958 bytes after the lock, ended by a byte that is not a
// sync byte, reads as a pilot for only 7,664 pulses: the row of windows can
// miss it, and the machine then enters Header inside a window the pass goes
// over, leaving it on the next pulse without shifting that pulse in. The
// piece ends at several places after it, so that this falls in the piece's
// clamped last window too, and a header follows in the next piece straight
// away, whose lock depends on the register the pass leaves.
TEST(Scanner, WrongSyncAfterTheShortestPilotWhereverItFalls) {
  constexpr std::uint8_t kOutOfRange = 0;
  static Scanner scanner;
  const auto next = TapeBuilder().header("NEXT", 1, 959).take();
  for (const std::size_t after : {0U, 9U, 30U, 55U}) {
    for (std::size_t before = 0; before <= 8000; before += 3) {
      const auto first = TapeBuilder()
                             .slow_pulses(before, static_cast<std::uint_fast32_t>(before))
                             .pulses(kOutOfRange, 6)  // the lock's byte: 0x02
                             .pulses(tapes::kOnePulse)
                             .pulses(kOutOfRange)
                             .pilot(958)
                             .byte(0x81)
                             .slow_pulses(after, 1)
                             .take();
      std::vector<std::uint8_t> tape = first;
      tape.insert(tape.end(), next.begin(), next.end());
      std::vector<CoreResult> got;
      const auto take = [&got](const tapnames::NameResult& r) {
        got.push_back(support::core_result(r));
      };
      scanner.reset(ScanMode::AllNames);
      scanner.scan(first, take);
      scanner.scan(next, take);
      scanner.finish(take);
      ASSERT_EQ(got, support::model_core_results(tape, true)) << before << " before, " << after;
    }
  }
}

// More names than the core holds at once: it stops early, hands them over,
// and goes on from where it stopped, the last name still arriving on the
// end-of-image pulse.
TEST(Scanner, HandsOverResultsWhenFull) {
  TapeBuilder builder;
  constexpr std::size_t kNames = Scanner::kMaxResults * 2 + 3;
  for (std::size_t i = 0; i < kNames; ++i) {
    builder.header("N" + std::to_string(i), 1, 959);
  }
  const auto tape = builder.take();
  const auto want = support::model_core_results(tape, true);
  ASSERT_EQ(want.size(), kNames);
  static Scanner scanner;
  scanner = Scanner(ScanMode::AllNames);
  std::vector<CoreResult> got;
  std::size_t calls = 0;
  for (std::size_t used = 0; used < tape.size(); ++calls) {
    used += scanner.feed(std::span(tape).subspan(used));
    EXPECT_LT(scanner.results().size(), Scanner::kMaxResults);  // room left for the end
    for (const auto& r : scanner.results()) {
      got.push_back(support::core_result(r));
    }
    scanner.clear_results();
  }
  scanner.finish();
  ASSERT_EQ(scanner.results().size(), 1U);
  EXPECT_EQ(scanner.results()[0].offset, tape.size() - tapnames::kReportDistance);
  got.push_back(support::core_result(scanner.results()[0]));
  EXPECT_EQ(got, want);
  EXPECT_GE(calls, 3U);
  EXPECT_EQ(scanner.pulses_scanned(), tape.size());
}

// First-name mode stops on the pulse that reports the name, takes nothing
// more, and finishing adds nothing; a new image starts from a fresh decoder.
TEST(Scanner, FirstNameModeStopsAtItsName) {
  const auto tape = TapeBuilder().header("ONE").header("TWO").take();
  static Scanner scanner;
  scanner = Scanner(ScanMode::FirstName);
  const std::size_t used = scanner.feed(tape);
  ASSERT_TRUE(scanner.done());
  ASSERT_EQ(scanner.results().size(), 1U);
  EXPECT_EQ(used, scanner.results()[0].offset + tapnames::kReportDistance + 1);
  EXPECT_EQ(scanner.feed(tape), 0U);
  scanner.clear_results();
  scanner.finish();
  EXPECT_TRUE(scanner.results().empty());

  scanner.reset(ScanMode::AllNames);
  const auto half = std::span(tape).first(tape.size() / 2 + 100);
  EXPECT_EQ(scanner.feed(half), half.size());
  scanner.finish();
  EXPECT_EQ(scanner.names_found(), 1U);  // the second header was cut
}

}  // namespace
