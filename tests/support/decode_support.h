// SPDX-License-Identifier: MIT
// Test helpers: run a tape through the product's per-pulse path, its bulk
// path in chosen pieces, its whole scan, or the independent model, and
// collect what each reports in one comparable form.
#pragma once

#include <array>
#include <cstdio>
#include <functional>
#include <ostream>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "model.h"
#include "name_render.h"
#include "pulse_decoder.h"
#include "scanner.h"
#include "tape_builder.h"

namespace support {

// The classifiers this CPU can run, best first; the first call says on
// standard error which of the build's it runs and which it skips.
inline std::vector<std::reference_wrapper<const tapnames::Classifier>> classifiers() {
  std::vector<std::reference_wrapper<const tapnames::Classifier>> available;
  std::string runs;
  std::string skips;
  for (const tapnames::Classifier* classifier : tapnames::all_classifiers()) {
    std::string& list = classifier->available() ? runs : skips;
    list += list.empty() ? "" : ", ";
    list += classifier->name;
    if (classifier->available()) {
      available.emplace_back(*classifier);
    }
  }
  static const bool said = [&] {
    std::fprintf(stderr, "classifiers run: %s; skipped on this CPU: %s\n", runs.c_str(),
                 skips.empty() ? "none" : skips.c_str());
    return true;
  }();
  static_cast<void>(said);
  return available;
}

// A tape of a few random segments: headers (some with pilots around the
// limit, some damaged, some cut after their block type), data blocks, slow
// pulses and noise near the class boundaries.
inline std::vector<std::uint8_t> random_tape(std::mt19937& random) {
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

struct Report {
  std::size_t pulse;  // index of the pulse that completed the name
  std::string name;   // the 16 name bytes
  friend bool operator==(const Report&, const Report&) = default;
};

inline std::ostream& operator<<(std::ostream& out, const Report& report) {
  return out << "{" << report.pulse << ", \"" << report.name << "\"}";
}

struct Decoded {
  std::vector<Report> reports;
  // The final fields, as state, register, bit count, byte count.
  int state = 0;
  unsigned shift_register = 0;
  unsigned bit_count = 0;
  std::int32_t byte_count = 0;
  // The same names at the same pulses, the same state and register, and the
  // same counts unless searching: the search never reads them (a lock sets
  // both), so while searching they serve no output and are free.
  friend bool operator==(const Decoded& a, const Decoded& b) {
    constexpr int kSearching = 0;
    const bool counts =
        a.state == kSearching || (a.bit_count == b.bit_count && a.byte_count == b.byte_count);
    return a.reports == b.reports && a.state == b.state && a.shift_register == b.shift_register &&
           counts;
  }
};

inline std::string name_bytes(const std::uint8_t* name) {
  return {name, name + 16};
}

inline Decoded finish(std::vector<Report> reports, const tapnames::PulseDecoder& decoder) {
  const auto& f = decoder.fields();
  return {std::move(reports), static_cast<int>(f.state), f.shift_register, f.bit_count,
          f.byte_count};
}

inline tapnames::PulseDecoder::Fields to_fields(const model::Decoder& d) {
  return {static_cast<tapnames::DecoderState>(d.state), static_cast<std::uint8_t>(d.shift_register),
          static_cast<std::uint8_t>(d.bit_count), d.byte_count};
}

// The model, one pulse at a time, from the given start.
inline Decoded model_decode(std::span<const std::uint8_t> tape, model::Decoder start = {}) {
  model::Decoder decoder = start;
  unsigned char name[17] = {};
  std::vector<Report> reports;
  for (std::size_t i = 0; i < tape.size(); ++i) {
    if (model::feed_pulse(decoder, tape[i], name) == 1) {
      reports.push_back({i, name_bytes(name)});
    }
  }
  return {reports, decoder.state, decoder.shift_register, decoder.bit_count, decoder.byte_count};
}

// The product's reference path, feed_pulse for every pulse.
inline Decoded per_pulse_decode(std::span<const std::uint8_t> tape, model::Decoder start = {}) {
  tapnames::PulseDecoder decoder(to_fields(start));
  tapnames::TapeName name{};
  std::vector<Report> reports;
  for (std::size_t i = 0; i < tape.size(); ++i) {
    if (decoder.feed_pulse(tape[i], name) == 1) {
      reports.push_back({i, name_bytes(name.data())});
    }
  }
  return finish(std::move(reports), decoder);
}

// The product's bulk path, fed in pieces whose sizes `next_piece` chooses (as
// the reads of the scan would be), each classified with `classifier`; with
// `pass`, each piece goes first through the pass over the search, as in the
// scan core.
inline Decoded bulk_decode(std::span<const std::uint8_t> tape,
                           const std::function<std::size_t()>& next_piece,
                           const tapnames::Classifier& classifier, model::Decoder start = {},
                           bool pass = false) {
  static tapnames::ClassifiedPulses classified;  // large: one for all tests
  tapnames::PulseDecoder decoder(to_fields(start));
  tapnames::TapeName name{};
  std::vector<Report> reports;
  std::size_t done = 0;
  while (done < tape.size()) {
    std::size_t piece = std::min(next_piece(), tape.size() - done);
    piece = std::max<std::size_t>(1, std::min(piece, tapnames::kMaxClassifiedPulses));
    if (pass) {
      const std::size_t passed = decoder.pass_search(tape.subspan(done, piece), classifier);
      done += passed;
      piece -= passed;
      if (piece == 0) {
        continue;
      }
    }
    classified.classify(tape.subspan(done, piece), classifier);
    for (std::size_t at = 0; at < piece;) {
      const auto result = decoder.feed_pulses(classified, at, name);
      if (result.consumed == 0) {
        return {};  // would loop for ever: reported as a mismatch
      }
      at += result.consumed;
      if (result.found) {
        reports.push_back({done + at - 1, name_bytes(name.data())});
      }
    }
    done += piece;
  }
  return finish(std::move(reports), decoder);
}

inline Decoded bulk_decode(std::span<const std::uint8_t> tape) {
  return bulk_decode(
      tape, [] { return tapnames::kMaxClassifiedPulses; }, tapnames::best_classifier());
}

// What the scan core says of one name.
struct CoreResult {
  std::uint64_t number;
  std::uint64_t offset;
  unsigned block_type;
  std::string name;  // the 16 name bytes
  friend bool operator==(const CoreResult&, const CoreResult&) = default;
};

inline std::ostream& operator<<(std::ostream& out, const CoreResult& r) {
  return out << "{" << r.number << " @" << r.offset << " type " << r.block_type << " \"" << r.name
             << "\"}";
}

struct CoreScan {
  std::vector<CoreResult> results;
  std::string lines;  // the result lines, as the tool writes them
};

inline CoreResult core_result(const tapnames::NameResult& result) {
  return {result.number, result.offset, result.block_type, name_bytes(result.name.data())};
}

// The model's names as the core gives them: each placed 248 pulses before
// the pulse that reported it (the end-of-image pulse counts as pulse
// `size`), its block type read from the tape itself (the tenth header byte,
// its pulses' one bits most significant first); in first-name mode the first.
inline std::vector<CoreResult> model_core_results(std::span<const std::uint8_t> tape,
                                                  bool extract_all) {
  constexpr std::size_t kBlockTypeAt = 9 * 8;  // after the nine sync bytes
  std::vector<std::uint8_t> with_end(tape.begin(), tape.end());
  with_end.push_back(tapnames::kEndOfFilePulse);
  std::vector<CoreResult> found;
  for (const auto& report : model_decode(with_end).reports) {
    const std::uint64_t offset = report.pulse - tapnames::kReportDistance;
    unsigned type = 0;
    for (std::size_t i = 0; i < 8; ++i) {
      const std::uint8_t pulse = tape[offset + kBlockTypeAt + i];
      type = (type << 1U) | (pulse >= tapnames::kOneLow && pulse <= tapnames::kOneHigh ? 1U : 0U);
    }
    found.push_back({found.size() + 1, offset, type, report.name});
    if (!extract_all) {
      break;
    }
  }
  return found;
}

// The scan core over `tape` in pieces whose sizes `next_piece` chooses (as a
// front end's reads or slices would be), then the end of the image; in
// first-name mode it stops at the name.
inline CoreScan core_scan(std::span<const std::uint8_t> tape,
                          const std::function<std::size_t()>& next_piece, bool extract_all,
                          bool escape, const tapnames::Classifier& classifier) {
  static tapnames::Scanner scanner;  // large: one for the run
  scanner = tapnames::Scanner(
      extract_all ? tapnames::ScanMode::AllNames : tapnames::ScanMode::FirstName, classifier);
  CoreScan out;
  const auto take = [&](const tapnames::NameResult& result) {
    std::array<char, tapnames::kMaxResultLine> line{};
    out.results.push_back(core_result(result));
    out.lines.append(line.data(), tapnames::render_result_line(extract_all, result.number,
                                                               result.name, escape, line));
  };
  for (std::size_t done = 0; done < tape.size() && !scanner.done();) {
    const auto piece = tape.subspan(done, std::min(tape.size() - done, next_piece()));
    scanner.scan(piece, take);
    done += piece.size();
  }
  scanner.finish(take);
  return out;
}

}  // namespace support
