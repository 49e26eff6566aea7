// SPDX-License-Identifier: MIT
// Behaviour of the header block decoder: pilot length, sync, block type, pulse
// classes, report timing and the format's odd corners, through the scan.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "decode_support.h"
#include "tape_builder.h"

namespace {

using tapes::TapeBuilder;
using tapnames::DecoderState;
using tapnames::PulseDecoder;
using tapnames::TapeName;

// The names the bulk path and the per-pulse path find, with the end-of-file
// pulse after the tape as the scan feeds it; the two must agree.
std::vector<std::string> all_names(std::vector<std::uint8_t> tape) {
  tape.push_back(tapnames::kEndOfFilePulse);
  const support::Decoded bulk = support::bulk_decode(tape);
  EXPECT_EQ(bulk, support::per_pulse_decode(tape));
  std::vector<std::string> names;
  for (const auto& report : bulk.reports) {
    names.push_back(report.name);
  }
  return names;
}

std::string padded(std::string name) {
  name.resize(16, ' ');
  return name;
}

// A header with one pulse of the name (bit 0 of 'A', a one) replaced.
std::vector<std::uint8_t> name_pulse_replaced(std::uint8_t value) {
  auto tape = TapeBuilder().header("A").byte(0).take();
  const std::size_t name_start = tape.size() - 8 * 17;
  tape[name_start + 7] = value;
  return tape;
}

// A header with one zero pulse in the middle of the pilot replaced.
std::vector<std::uint8_t> pilot_pulse_replaced(std::uint8_t value) {
  auto tape = TapeBuilder().pilot(500).take();
  tape.back() = value;
  return tape;
}

struct Case {
  const char* what;
  std::vector<std::uint8_t> tape;
  std::vector<std::string> names;
};

std::vector<Case> cases() {
  const std::string hello = padded("HELLO");
  const std::string cut_name = "ABC" + std::string(13, '\x02');
  const auto wrong_sync = [](int position) {
    TapeBuilder tape;
    tape.pilot();
    for (int k = 1; k <= 9; ++k) {
      tape.byte(static_cast<std::uint8_t>(k == position ? 0 : 10 - k));
    }
    return tape.header_body("HELLO").byte(0).take();
  };
  // A pilot of `length` bytes whose first pulse was already a one before it.
  const auto with_prefix = [](std::uint8_t pulse, std::size_t length) {
    return TapeBuilder().pulses(pulse).header("HELLO", 1, length).byte(0).take();
  };
  // A false lock (a one, then a zero: the register reads 0x02) after a long
  // stretch of zeros, whose byte is not a pilot byte. Either a one at its
  // sixth pulse makes a lock inside that byte, which does not count, or its
  // byte reads 0x01 and the lock on the next pulse does; both fall a pulse
  // off the pilot, which then needs one byte more or fewer.
  const auto after_false_lock = [](bool lock_inside, std::size_t pilot) {
    TapeBuilder tape;
    tape.pulses(tapes::kZeroPulse, 200).pulses(tapes::kOnePulse).pulses(tapes::kZeroPulse);
    if (lock_inside) {
      tape.pulses(tapes::kZeroPulse, 5).pulses(tapes::kOnePulse).pulses(tapes::kZeroPulse);
    } else {
      tape.pulses(tapes::kZeroPulse, 7).pulses(tapes::kOnePulse);
    }
    return tape.header("HELLO", 1, pilot).byte(0).take();
  };
  return {
      {"a lock inside a false lock's byte does not count", after_false_lock(true, 958), {}},
      {"a false lock's byte, then a 959-byte pilot", after_false_lock(true, 959), {hello}},
      {"after a false lock, a lock on the next pulse counts", after_false_lock(false, 959), {}},
      {"a false lock reading 0x01, then a 960-byte pilot", after_false_lock(false, 960), {hello}},
      {"959-byte pilot is enough", TapeBuilder().header("HELLO", 1, 959).byte(0).take(), {hello}},
      {"958-byte pilot is too short", TapeBuilder().header("HELLO", 1, 958).byte(0).take(), {}},
      {"block type 1", TapeBuilder().header("HELLO", 1).byte(0).take(), {hello}},
      {"block type 2", TapeBuilder().header("HELLO", 2).byte(0).take(), {hello}},
      {"block type 0", TapeBuilder().header("HELLO", 0).byte(0).take(), {}},
      {"block type 3", TapeBuilder().header("HELLO", 3).byte(0).take(), {}},
      {"block type 255", TapeBuilder().header("HELLO", 255).byte(0).take(), {}},
      {"wrong first sync byte", wrong_sync(1), {}},
      {"wrong fifth sync byte", wrong_sync(5), {}},
      {"wrong last sync byte", wrong_sync(9), {}},
      {"32 is a zero", name_pulse_replaced(32), {padded("@")}},  // 'A' becomes '@'
      {"19 is a zero", name_pulse_replaced(19), {padded("@")}},
      {"33 is a one", name_pulse_replaced(33), {padded("A")}},
      {"47 is a one", name_pulse_replaced(47), {padded("A")}},
      {"18 breaks the name", name_pulse_replaced(18), {}},
      {"48 breaks the name", name_pulse_replaced(48), {}},
      {"out-of-range pulse breaks the pilot",
       TapeBuilder().raw(pilot_pulse_replaced(0)).pilot(500).sync().header_body("X").byte(0).take(),
       {}},
      {"a zero-class pulse keeps the pilot",
       TapeBuilder()
           .raw(pilot_pulse_replaced(19))
           .pilot(500)
           .sync()
           .header_body("X")
           .byte(0)
           .take(),
       {padded("X")}},
      {"early lock after 0000001 loses a pilot byte", with_prefix(tapes::kOnePulse, 959), {}},
      {"early lock with a 960-byte pilot", with_prefix(tapes::kOnePulse, 960), {hello}},
      {"a zero before the pilot does not lock early", with_prefix(tapes::kZeroPulse, 959), {hello}},
      {"a cut block is completed from the next pilot",
       TapeBuilder()
           .pilot()
           .sync()
           .byte(1)
           .bytes(std::vector<std::uint8_t>(5, 0))
           .bytes(std::vector<std::uint8_t>{'A', 'B', 'C'})
           .header("NEXT")
           .byte(0)
           .take(),
       {cut_name, padded("NEXT")}},
      {"back to back, 960-byte second pilot",
       TapeBuilder().header("FIRST_NAME_ODD_A").header("SECOND", 1, 960).byte(0).take(),
       {"FIRST_NAME_ODD_A", padded("SECOND")}},
      {"back to back, 959-byte pilot after an even last byte",
       TapeBuilder().header("FIRST").header("SECOND", 1, 959).byte(0).take(),
       {padded("FIRST"), padded("SECOND")}},
      {"back to back, 959-byte pilot after an odd last byte",
       TapeBuilder().header("FIRST_NAME_ODD_A").header("SECOND", 1, 959).byte(0).take(),
       {"FIRST_NAME_ODD_A"}},
      {"zero bytes in a name are kept",
       TapeBuilder().header(std::string_view("AB\0D", 4)).byte(0).take(),
       {padded(std::string("AB\0D", 4))}},
      {"slow pulses and data blocks hide no names",
       TapeBuilder()
           .slow_pulses(5000, 1)
           .data_block(2000, 2)
           .header("HELLO")
           .data_block(500, 3)
           .take(),
       {hello}},
  };
}

TEST(Decoder, ReportsNamesAsTheFormatDefines) {
  for (const Case& c : cases()) {
    EXPECT_EQ(all_names(c.tape), c.names) << c.what;
  }
}

TEST(Decoder, ReportsOnThePulseAfterTheLastNameBit) {
  const auto tape = TapeBuilder().header("END").take();
  PulseDecoder decoder;
  TapeName name{};
  int reports = 0;
  for (const std::uint8_t pulse : tape) {
    reports += decoder.feed_pulse(pulse, name);
  }
  EXPECT_EQ(reports, 0);
  EXPECT_EQ(decoder.feed_pulse(tapnames::kEndOfFilePulse, name), 1);
  EXPECT_EQ(std::string(name.begin(), name.begin() + 16), padded("END"));
  // The end-of-file pulse is what brings the report of a name at the very end.
  EXPECT_EQ(all_names(tape), std::vector<std::string>{padded("END")});
}

TEST(Decoder, PilotCountSaturatesInsteadOfOverflowing) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  const auto pilot = TapeBuilder().pilot(100).take();
  const auto rest = TapeBuilder().sync().header_body("LONG").byte(0).take();
  for (const bool bulk : {false, true}) {
    PulseDecoder decoder({DecoderState::Pilot, 0x02, 0, kMax - 3});
    TapeName name{};
    if (bulk) {
      tapnames::ClassifiedPulses classified;
      classified.classify(pilot, tapnames::best_classifier());
      EXPECT_EQ(decoder.feed_pulses(classified, 0, name).consumed, pilot.size());
    } else {
      for (const std::uint8_t pulse : pilot) {
        decoder.feed_pulse(pulse, name);
      }
    }
    EXPECT_EQ(decoder.fields(), (PulseDecoder::Fields{DecoderState::Pilot, 0x02, 0, kMax}));
    int reports = 0;
    for (const std::uint8_t pulse : rest) {
      reports += decoder.feed_pulse(pulse, name);
    }
    EXPECT_EQ(reports, 1) << (bulk ? "bulk" : "per pulse");
  }
}

}  // namespace
