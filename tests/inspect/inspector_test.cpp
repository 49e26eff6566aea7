// SPDX-License-Identifier: MIT
// The event collector against the independent model's reading of the rules:
// one table of images with the event each is about, then random tapes, fed
// in random pieces, with several least pilots; and its histogram against a
// plain count.
#include "inspector.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "decode_support.h"
#include "model.h"
#include "report.h"
#include "tape_builder.h"

namespace {

using tapes::TapeBuilder;

// An event in one line, for comparing and for reading a difference.
std::string line(const model::Event& e) {
  std::string text = e.kind + " pilot " + std::to_string(e.pilot_start) + "+" +
                     std::to_string(e.pilot_bytes) + " at " + std::to_string(e.at);
  if (e.kind == "name") {
    text += " type " + std::to_string(e.block_type) + " [" + e.header_bytes + "] " + e.name;
  } else {
    text += " position " + std::to_string(e.position) + " got " + std::to_string(e.got) + " want " +
            std::to_string(e.want);
  }
  return text;
}

std::vector<std::string> model_events(const std::vector<std::uint8_t>& tape, int min_pilot,
                                      bool all) {
  std::vector<std::string> lines;
  for (const model::Event& e : model::inspect(tape, min_pilot, all)) {
    lines.push_back(line(e));
  }
  return lines;
}

struct Inspected {
  std::vector<std::string> events;
  std::array<std::uint64_t, 256> counts{};
};

// The product's events, the image fed in pieces of the sizes `next_piece`
// gives.
Inspected product_events(const std::vector<std::uint8_t>& tape, int min_pilot, bool all,
                         const std::function<std::size_t()>& next_piece,
                         const tapnames::Classifier& classifier = tapnames::best_classifier()) {
  struct Sink final : inspect::EventSink {
    Inspected out;
    void take(const inspect::Event& event) override {
      model::Event e;
      const bool name = event.kind == inspect::EventKind::Name;
      e.kind = name ? "name" : std::string(inspect::reason_name(event.reason));
      e.pilot_start = event.pilot_start;
      e.pilot_bytes = event.pilot_bytes;
      e.at = event.at;
      if (name) {
        EXPECT_EQ(event.offset + tapnames::kReportDistance, event.at);
        e.block_type = event.block_type;
        e.header_bytes.assign(event.header_bytes.begin(), event.header_bytes.end());
        e.name.assign(event.name.begin(), event.name.end());
      } else {
        e.position = event.position;
        e.got = event.got;
        e.want = event.want;
      }
      out.events.push_back(line(e));
    }
  } sink;
  inspect::Inspector inspector({.min_pilot = min_pilot, .all = all}, classifier);
  Inspected& out = sink.out;
  inspector.start(sink);
  for (std::size_t done = 0; done < tape.size();) {
    const std::size_t piece = std::min(tape.size() - done, std::max<std::size_t>(1, next_piece()));
    inspector.feed(std::span(tape).subspan(done, piece));
    done += piece;
  }
  inspector.finish();
  out.counts = inspector.histogram().counts();
  return out;
}

struct Case {
  const char* what;
  std::vector<std::uint8_t> tape;
  // The event the image is about, as the start of its line: kind, pilot.
  std::string expected;
  int min_pilot = inspect::kDefaultMinPilot;
  bool all = false;
};

std::vector<Case> cases() {
  std::vector<Case> rows;
  const auto wrong_sync = [](int position) {
    TapeBuilder tape;
    tape.pilot();
    for (int k = 1; k <= 9; ++k) {
      tape.byte(static_cast<std::uint8_t>(k == position ? 0 : 10 - k));
    }
    return tape.header_body("HELLO").byte(0).take();
  };
  for (int position = 1; position <= 9; ++position) {
    // The byte is examined on the pulse after it: the first of the next.
    const std::string at = std::to_string(8000 + (8 * position));
    rows.push_back({"wrong sync byte", wrong_sync(position),
                    "sync pilot 0+1000 at " + at + " position " + std::to_string(position) +
                        " got 0 want " + std::to_string(10 - position)});
  }
  // A header whose name's first pulse is out of range (18).
  auto broken_name = TapeBuilder().header("A").byte(0).take();
  broken_name[8000 + (8 * 15)] = 18;
  // Cut inside header byte 12: its third pulse is the last of the image.
  auto cut = TapeBuilder().header("CUT").take();
  cut.resize(8000 + (8 * 11) + 3);
  // The image ends right after a wrong fourth sync byte: the end-of-image
  // pulse examines it first.
  const auto ends_wrong = TapeBuilder().pilot().bytes(std::vector<std::uint8_t>{9, 8, 7, 0}).take();
  const auto pilot_then = [](std::size_t length, std::uint8_t value) {
    return TapeBuilder().pulses(0, 8).pilot(length).pulses(value).take();
  };
  const std::vector<Case> fixed = {
      {"a 959-byte pilot is a name", TapeBuilder().header("HELLO", 1, 959).byte(0).take(),
       "name pilot 0+959 at 7920 type 1"},
      {"a 958-byte pilot is short", TapeBuilder().header("HELLO", 1, 958).byte(0).take(),
       "short-pilot pilot 0+958 at 7671 position 0 got 9"},
      {"a 64-byte pilot is told of", TapeBuilder().pilot(64).byte(9).take(),
       "short-pilot pilot 0+64 at 519 position 0 got 9"},
      {"a 63-byte pilot is not", TapeBuilder().pilot(63).byte(9).take(), ""},
      {"unless with --all", TapeBuilder().pilot(63).byte(9).take(),
       "short-pilot pilot 0+63 at 511 position 0 got 9", 64, true},
      {"a least pilot of 500", TapeBuilder().pilot(499).byte(9).pilot(500).byte(9).take(),
       "short-pilot pilot 4000+500 at 8007", 500},
      {"block type 0", TapeBuilder().header("HELLO", 0).byte(0).take(),
       "block-type pilot 0+1000 at 8080 position 10 got 0"},
      {"block type 3", TapeBuilder().header("HELLO", 3).byte(0).take(),
       "block-type pilot 0+1000 at 8080 position 10 got 3"},
      {"an out-of-range pulse in a name", broken_name,
       "out-of-range pilot 0+1000 at 8120 position 16 got 18"},
      {"an out-of-range pulse after 959 pilot bytes", pilot_then(959, 60),
       "out-of-range pilot 8+959 at 7680 position 0 got 60"},
      {"an out-of-range pulse after 958 pilot bytes", pilot_then(958, 60),
       "short-pilot pilot 8+958 at 7672 position 0 got 60"},
      {"the image cut inside a header", cut, "end-of-image pilot 0+1000 at 8091 position 12 got 0"},
      {"the image cut inside a pilot", TapeBuilder().pilot(100).take(),
       "end-of-image pilot 0+100 at 800 position 0"},
      {"the end pulse examines a wrong sync byte", ends_wrong,
       "sync pilot 0+1000 at 8032 position 4 got 0 want 6"},
      {"back to back headers",
       TapeBuilder().header("FIRST_NAME_ODD_A").header("SECOND", 1, 960).byte(0).take(),
       "name pilot 0+1000 at 8248"},
      {"early lock after 0000001 loses a pilot byte",
       TapeBuilder().pulses(tapes::kOnePulse).header("HELLO", 1, 959).byte(0).take(),
       "short-pilot pilot 9+958 at 7680 position 0 got 9"},
      {"early lock with a 960-byte pilot",
       TapeBuilder().pulses(tapes::kOnePulse).header("HELLO", 1, 960).byte(0).take(),
       "name pilot 9+959 at 7929"},
  };
  rows.insert(rows.end(), fixed.begin(), fixed.end());
  return rows;
}

TEST(Inspector, TellsTheEventsTheRulesGive) {
  std::mt19937 random(7);
  for (const Case& c : cases()) {
    const auto expected = model_events(c.tape, c.min_pilot, c.all);
    const auto got =
        product_events(c.tape, c.min_pilot, c.all, [&random] { return 1 + random() % 3000; });
    EXPECT_EQ(got.events, expected) << c.what;
    const bool told = std::any_of(expected.begin(), expected.end(), [&c](const std::string& e) {
      return !c.expected.empty() && e.starts_with(c.expected);
    });
    EXPECT_TRUE(c.expected.empty() ? expected.empty() || expected[0].starts_with("name") : told)
        << c.what << ": the model tells " << ::testing::PrintToString(expected);
  }
}

TEST(Inspector, TellsWhatTheModelTellsOfRandomTapes) {
  std::mt19937 random(11);
  const auto classifiers = support::classifiers();
  for (std::size_t round = 0; round < 300; ++round) {
    const auto tape = support::random_tape(random);
    const int min_pilot = std::array{9, 64, 64, 300, 959, 2000}[round % 6];
    const bool all = round % 7 == 0;
    const auto& classifier = classifiers[round % classifiers.size()].get();
    const auto got = product_events(
        tape, min_pilot, all, [&random] { return 1 + random() % 20000; }, classifier);
    ASSERT_EQ(got.events, model_events(tape, min_pilot, all))
        << "round " << round << ", least pilot " << min_pilot << (all ? ", all" : "");
    std::array<std::uint64_t, 256> counts{};
    for (const std::uint8_t pulse : tape) {
      ++counts[pulse];
    }
    ASSERT_EQ(got.counts, counts) << "round " << round;
  }
}

TEST(Inspector, FindsAPilotOfTheLeastLengthWhereverItLies) {
  // The pass over the search looks at a row of windows as far apart as a
  // pilot of the least length allows: such a pilot, at any place between
  // two of them, is seen, with the place it starts. The shortest run of
  // pilot pulses such a pilot has: a lock byte of out-of-range pulses but
  // its one, and an out-of-range pulse after the last 0x02 byte.
  constexpr std::uint8_t kSlow = 100;
  for (const int min_pilot : {10, 64, 300}) {
    const std::size_t row = (static_cast<std::size_t>(min_pilot - 1) * 8) - 63;
    for (std::size_t start = 3 * row; start < 5 * row; ++start) {
      const auto tape = TapeBuilder()
                            .pulses(kSlow, start + 6)
                            .pulses(tapes::kOnePulse)
                            .pulses(kSlow)
                            .pilot(static_cast<std::size_t>(min_pilot - 1))
                            .pulses(kSlow, 5 * row)
                            .take();
      const auto got = product_events(tape, min_pilot, false, [&tape] { return tape.size(); });
      ASSERT_EQ(got.events, model_events(tape, min_pilot, false))
          << "least pilot " << min_pilot << ", starting at " << start;
      ASSERT_EQ(got.events.size(), 1U);
    }
  }
}

TEST(Inspector, CountsEveryPulseOfALargeImage) {
  // Long runs of one value (more than a lane counts before it is taken
  // out), two-valued pilots, and noise, across many parts.
  std::mt19937 random(3);
  TapeBuilder builder;
  for (int k = 0; k < 20; ++k) {
    builder.pulses(0, 5000).header("N").slow_pulses(4000, random()).data_block(2000, random());
  }
  const auto tape = builder.take();
  std::array<std::uint64_t, 256> counts{};
  for (const std::uint8_t pulse : tape) {
    ++counts[pulse];
  }
  tapnames::PulseHistogram histogram;
  histogram.add(tape);
  EXPECT_EQ(histogram.counts(), counts);
  EXPECT_EQ(histogram.ones() + histogram.zeros() + histogram.out_of_range(), tape.size());
}

}  // namespace
