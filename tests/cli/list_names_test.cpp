// SPDX-License-Identifier: MIT
// The command line's read loop against the independent model: the whole
// listing, from a file to the lines written, on random tapes in all four
// option sets and with headers across the ends of its reads.
#include "list_names.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "decode_support.h"
#include "model.h"
#include "scanner.h"
#include "scratch.h"
#include "tape_builder.h"

namespace {

using support::ScratchFile;

// The whole listing, from a scratch file to the text it writes.
std::string list_text(const std::vector<std::uint8_t>& tape, bool extract_all, bool escape) {
  const ScratchFile image;
  const ScratchFile out;
  if (image.get() == nullptr || out.get() == nullptr ||
      std::fwrite(tape.data(), 1, tape.size(), image.get()) != tape.size()) {
    return "scratch file failed";
  }
  std::rewind(image.get());
  const auto status = tapnames::list_names(image.get(), {extract_all, escape}, out.get());
  std::string text;
  std::rewind(out.get());
  for (int c = std::fgetc(out.get()); c != EOF; c = std::fgetc(out.get())) {
    text.push_back(static_cast<char>(c));
  }
  return status == tapnames::ListStatus::Complete ? text : text + "[listing failed]";
}

TEST(ListNames, RandomTapesMatchTheModel) {
  std::mt19937 random(20261207);  // NOLINT(cert-msc32-c,cert-msc51-cpp): reproducible
  for (int round = 0; round < 30; ++round) {
    const auto tape = support::random_tape(random);
    for (const bool all : {false, true}) {
      for (const bool escape : {false, true}) {
        ASSERT_EQ(list_text(tape, all, escape), model::scan_output(tape, all, escape))
            << "round " << round << " -a " << all << " -e " << escape;
      }
    }
  }
}

// A header placed across the end of the core's first piece and of the first
// read, at many offsets.
TEST(ListNames, AcrossReadsMatchesTheModel) {
  const auto header = tapes::TapeBuilder().header("ACROSS").header("AFTER").take();
  for (const std::size_t boundary : {tapnames::kMaxClassifiedPulses, tapnames::kReadSize}) {
    for (std::size_t back = 1; back < header.size(); back += 997) {
      tapes::TapeBuilder tape;
      tape.slow_pulses(boundary - back, static_cast<std::uint_fast32_t>(back));
      const auto pulses = tape.raw(header).take();
      for (const bool all : {false, true}) {
        ASSERT_EQ(list_text(pulses, all, false), model::scan_output(pulses, all, false))
            << "header starts " << back << " pulses before pulse " << boundary;
      }
    }
  }
}

}  // namespace
