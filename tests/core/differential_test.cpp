// SPDX-License-Identifier: MIT
// The product against the independent model: seeded random tapes, tapes that
// put every change of state on every offset of a 64-pulse window and across
// reads, a header cut at every pulse, the cases the candidate walk turns on,
// and pieces cut at the edges of vectors, windows and summary groups. The
// per-pulse path and the bulk path (in random pieces, with every classifier)
// must report the same names at the same pulses and end in the same state as
// the model.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

#include "decode_support.h"
#include "scanner.h"
#include "tape_builder.h"

namespace {

using support::classifiers;
using support::Decoded;
using tapnames::Classifier;
using tapnames::kMaskWidth;
using tapnames::PulseMask;

// Checks every path of the product against the model on one tape, with the
// bulk path's pieces chosen by `random`.
void expect_all_paths_match(const std::vector<std::uint8_t>& tape, std::mt19937& random,
                            const std::string& what) {
  const Decoded expected = support::model_decode(tape);
  ASSERT_EQ(support::per_pulse_decode(tape), expected) << what;
  for (const Classifier& classifier : classifiers()) {
    const auto piece = [&] { return 1 + random() % 400; };
    ASSERT_EQ(support::bulk_decode(tape, piece, classifier), expected)
        << what << ", classifier " << classifier.name;
    const auto big_piece = [&] { return 1 + random() % 20000; };
    ASSERT_EQ(support::bulk_decode(tape, big_piece, classifier, {}, true), expected)
        << what << ", passing, classifier " << classifier.name;
  }
}

TEST(Differential, RandomTapesMatchTheModel) {
  std::size_t reported = 0;
  std::mt19937 random(20261207);  // NOLINT(cert-msc32-c,cert-msc51-cpp): reproducible
  for (int round = 0; round < 300; ++round) {
    const auto tape = support::random_tape(random);
    expect_all_paths_match(tape, random, "round " + std::to_string(round));
    reported += support::model_decode(tape).reports.size();
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
      for (const Classifier& classifier : classifiers()) {
        const auto piece = [&] { return tapnames::kMaskWidth + offset; };
        ASSERT_EQ(support::bulk_decode(pulses, piece, classifier), expected) << what;
      }
      expect_all_paths_match(pulses, random, what);
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

// The cases the candidate walk turns on, generated rather than left to random
// tapes. After zeros, a lock (a one, then a zero) whose next byte breaks on
// each of its eight pulses, on either side of the range, with a one just
// before the break or not (with a one there and the six before it zeros, a
// candidate falls on the breaking pulse: it must not count); and chains of
// dead locks back to back, each a candidate seven pulses after the one
// before (inside its byte), or eight when that pulse breaks the byte. Then
// a header whose pilot has 958, 959 or 960 bytes, so that a search resumed a
// pulse early or late changes what is found.
std::vector<std::vector<std::uint8_t>> walk_cases() {
  using tapes::kOnePulse;
  using tapes::kZeroPulse;
  constexpr std::array<std::uint8_t, 2> kBreakers = {18, 48};
  std::vector<std::vector<std::uint8_t>> cases;
  for (const std::size_t pilot : {958U, 959U, 960U}) {
    for (unsigned broken = 0; broken < 8; ++broken) {
      for (const std::uint8_t breaker : kBreakers) {
        for (const bool one_before : {false, true}) {
          tapes::TapeBuilder tape;
          tape.pulses(kZeroPulse, 16).pulses(kOnePulse).pulses(kZeroPulse);
          for (unsigned i = 0; i < broken; ++i) {
            tape.pulses(one_before && i + 1 == broken ? kOnePulse : kZeroPulse);
          }
          cases.push_back(tape.pulses(breaker).header("WALK", 1, pilot).byte(0).take());
        }
      }
    }
    for (unsigned chain = 1; chain <= 5; ++chain) {
      for (const bool breaking : {false, true}) {
        tapes::TapeBuilder tape;
        tape.pulses(kZeroPulse, 16).pulses(kOnePulse).pulses(kZeroPulse);
        for (unsigned link = 1; link < chain; ++link) {
          // Six zeros and a one put the next candidate seven pulses on; a
          // breaking pulse after them, eight on.
          tape.pulses(kZeroPulse, 5).pulses(kOnePulse).pulses(breaking ? 0 : kZeroPulse);
          if (breaking) {
            tape.pulses(kZeroPulse);
          }
        }
        cases.push_back(tape.header("CHAIN", 2, pilot).byte(0).take());
      }
    }
  }
  return cases;
}

TEST(Differential, WalkCasesMatchTheModel) {
  std::mt19937 random(17);
  const auto cases = walk_cases();
  std::size_t reported = 0;
  for (std::size_t c = 0; c < cases.size(); ++c) {
    // The prefix moves the lock through a window and its neighbours.
    for (const std::size_t offset :
         {0U, 1U, 2U, 3U, 5U, 8U, 13U, 21U, 34U, 47U, 55U, 56U, 57U, 60U, 62U, 63U}) {
      const auto tape = tapes::TapeBuilder()
                            .pulses(tapes::kZeroPulse, offset)
                            .raw(cases[c])
                            .pulses(tapnames::kEndOfFilePulse)
                            .take();
      const std::string what = "case " + std::to_string(c) + " offset " + std::to_string(offset);
      const Decoded expected = support::model_decode(tape);
      reported += expected.reports.size();
      for (const Classifier& classifier : classifiers()) {
        // Whole, and in pieces that end near the lock and the pilot.
        for (const std::size_t piece : {tapnames::kMaxClassifiedPulses, std::size_t{200}}) {
          ASSERT_EQ(support::bulk_decode(
                        tape, [piece] { return piece; }, classifier),
                    expected)
              << what << ", piece " << piece << ", classifier " << classifier.name;
        }
      }
      expect_all_paths_match(tape, random, what);
    }
  }
  EXPECT_GT(reported, cases.size() * 4);  // 959 and 960 mostly find the name
}

// Checks the bit arrays of `pulses` from `classifier` against the portable
// classifier's, and the summary against the lock words: every window, every
// lock word, and the next linked word from every word.
void expect_same_classes(std::span<const std::uint8_t> pulses, const Classifier& classifier,
                         const std::string& what) {
  static tapnames::ClassifiedPulses portable;
  static tapnames::ClassifiedPulses other;
  portable.classify(pulses, tapnames::kPortableClassifier);
  other.classify(pulses, classifier);
  const std::string who = what + ", classifier " + std::string(classifier.name);
  for (std::size_t at = 0; at + kMaskWidth <= pulses.size(); ++at) {
    ASSERT_EQ(other.ones_window(at), portable.ones_window(at)) << who << " at " << at;
    ASSERT_EQ(other.in_range_window(at), portable.in_range_window(at)) << who << " at " << at;
    // A window on its own, as the pass over the search looks at one.
    const tapnames::WindowClasses alone = classifier.classify_window(&pulses[at]);
    ASSERT_EQ(alone.ones, portable.ones_window(at)) << who << " alone at " << at;
    ASSERT_EQ(alone.in_range, portable.in_range_window(at)) << who << " alone at " << at;
  }
  const std::size_t words = (pulses.size() / kMaskWidth) + 1;
  std::size_t next_linked = words;
  for (std::size_t word = words; word-- > 0;) {
    ASSERT_EQ(other.lock_word(word), portable.lock_word(word)) << who << " word " << word;
    ASSERT_EQ(other.linked_word(word), portable.linked_word(word)) << who << " word " << word;
    if (other.linked_word(word) != 0) {
      next_linked = word;
    }
    // The summary may point at a word whose candidates turn out single, but
    // never past a linked one (past the last word means none), and all
    // classifiers point alike.
    ASSERT_LE(std::min(other.next_linked_word(word), words), next_linked)
        << who << " word " << word;
    ASSERT_EQ(other.next_linked_word(word), portable.next_linked_word(word))
        << who << " word " << word;
  }
}

TEST(Differential, EveryClassifierMatchesThePortableOne) {
  std::mt19937 random(7);
  std::vector<std::uint8_t> pulses(4 * tapnames::kMaskWidth + 17);
  for (int round = 0; round < 200; ++round) {
    for (auto& pulse : pulses) {
      pulse = static_cast<std::uint8_t>(round % 2 == 0 ? random() : 16 + random() % 36);
    }
    for (const Classifier& classifier : classifiers()) {
      expect_same_classes(pulses, classifier, "round " + std::to_string(round));
    }
  }
}

TEST(Differential, EveryClassifierMatchesThePortableOneAtEveryEdge) {
  std::mt19937 random(4096);
  std::vector<std::size_t> sizes;
  for (std::size_t k = 1; k <= 9; ++k) {  // around whole windows and vectors of them
    sizes.insert(sizes.end(), {(k * kMaskWidth) - 1, k * kMaskWidth, (k * kMaskWidth) + 1});
  }
  constexpr std::size_t kGroup = kMaskWidth * kMaskWidth;  // pulses of one summary word
  for (std::size_t n = 1; n * kGroup <= tapnames::kMaxClassifiedPulses; ++n) {
    // The last group starts a window before the partial one, or two.
    sizes.insert(sizes.end(), {(n * kGroup) - 1, ((n - 1) * kGroup) + kMaskWidth + 1,
                               ((n - 1) * kGroup) + (2 * kMaskWidth) - 1});
    for (std::size_t extra = 0;
         extra < kMaskWidth && (n * kGroup) + extra <= tapnames::kMaxClassifiedPulses; ++extra) {
      sizes.push_back((n * kGroup) + extra);
    }
  }
  std::vector<std::uint8_t> pulses;
  for (const std::size_t size : sizes) {
    // Ones, zeros and out-of-range pulses near the class edges, so that lock
    // candidates, linked or single, fall everywhere, up to the last pulse;
    // now and then a few pilot bytes, whose candidates are linked.
    pulses.resize(size);
    for (std::size_t i = 0; i < size; ++i) {
      const auto pick = random() % 16;
      pulses[i] = static_cast<std::uint8_t>(pick < 9    ? 19 + (random() % 14)  // zero
                                            : pick < 14 ? 33 + (random() % 15)  // one
                                                        : random());
      if (random() % 64 == 0) {
        for (const std::size_t stop = std::min(size, i + 24); i < stop; ++i) {
          pulses[i] = (i % 8 == 6) ? tapes::kOnePulse : tapes::kZeroPulse;
        }
      }
    }
    for (const Classifier& classifier : classifiers()) {
      expect_same_classes(pulses, classifier, "size " + std::to_string(size));
    }
  }
}

// Every pulse value on every position of a window, beside every other value,
// is sorted into its class by every classifier, the portable one included:
// 19..32 zero, 33..47 one, the rest out of range.
TEST(Differential, EveryValueOnEveryPositionIsClassified) {
  std::vector<std::uint8_t> pulses(2 * kMaskWidth);
  tapnames::ClassifiedPulses classified;
  for (unsigned value = 0; value < 256; ++value) {
    for (std::size_t i = 0; i < pulses.size(); ++i) {
      pulses[i] = static_cast<std::uint8_t>(i % 2 == 0 ? value : value + i);
    }
    for (const Classifier& classifier : classifiers()) {
      classified.classify(pulses, classifier);
      for (std::size_t i = 0; i < pulses.size(); ++i) {
        const unsigned v = pulses[i];
        const std::size_t at = std::min(i, pulses.size() - kMaskWidth);
        const PulseMask bit = PulseMask{1} << (i - at);
        ASSERT_EQ((classified.ones_window(at) & bit) != 0, v >= 33 && v <= 47)
            << v << " at " << i << ", classifier " << classifier.name;
        ASSERT_EQ((classified.in_range_window(at) & bit) != 0, v >= 19 && v <= 47)
            << v << " at " << i << ", classifier " << classifier.name;
      }
    }
  }
}

// A lock candidate, and a second seven or eight pulses on (linked), on every
// offset of a vector of eight words and across the vectors around it.
TEST(Differential, LockCandidatesOnEveryOffsetOfAVectorOfWords) {
  constexpr std::size_t kVector = 8 * kMaskWidth;
  for (std::size_t at = 0; at < kVector + (2 * kMaskWidth); ++at) {
    for (const std::size_t second : {0U, 7U, 8U}) {
      tapes::TapeBuilder tape;
      tape.pulses(tapes::kZeroPulse, kVector + at).pulses(tapes::kOnePulse);
      if (second != 0) {
        tape.pulses(tapes::kZeroPulse, second - 1).pulses(tapes::kOnePulse);
      }
      const auto pulses = tape.pulses(tapes::kZeroPulse, 2 * kVector).take();
      for (const Classifier& classifier : classifiers()) {
        expect_same_classes(pulses, classifier,
                            "one at " + std::to_string(at) + ", second " + std::to_string(second));
      }
    }
  }
}

}  // namespace
