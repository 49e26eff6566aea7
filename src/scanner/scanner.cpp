// SPDX-License-Identifier: MIT
// The scan core: pieces of an image, passed over where no name can begin and
// otherwise taken through the decoder's bulk path a classified read at a
// time, and the results found numbered and placed.
#include "scanner/scanner.h"

#include <algorithm>
#include <cassert>
#include <string_view>

namespace tapnames {
namespace {

// Appends `text` at `at`; returns the new end.
std::size_t put(std::span<char> out, std::size_t at, std::string_view text) {
  std::copy(text.begin(), text.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
  return at + text.size();
}

// Appends `number` in decimal with at least three digits, as "%03llu" would.
std::size_t put_number(std::span<char> out, std::size_t at, std::uint64_t number) {
  constexpr std::size_t kMaxDigits = 20;
  constexpr std::size_t kMinDigits = 3;
  constexpr std::uint64_t kBase = 10;
  std::array<char, kMaxDigits> digits{};
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + (number % kBase));
    number /= kBase;
  } while (number != 0);
  while (count < kMinDigits) {
    digits[count++] = '0';
  }
  while (count > 0) {
    out[at++] = digits[--count];
  }
  return at;
}

}  // namespace

std::size_t format_name(const NameResult& result, bool escape,
                        std::span<char, kMaxRenderedName> out) noexcept {
  TapeName name = result.name;  // rendering trims a copy
  name[kNameLength] = 0;
  return render_name(name, escape, out);
}

std::size_t format_result_line(const NameResult& result, const ScanOptions& options,
                               std::span<char, kMaxResultLine> out) noexcept {
  std::size_t at = 0;
  if (options.extract_all) {
    at = put(out, at, "FOUND (");
    at = put_number(out, at, result.number);
    at = put(out, at, "): \"");
  } else {
    at = put(out, at, "FOUND: \"");
  }
  at += format_name(result, options.escape, out.subspan(at).first<kMaxRenderedName>());
  return put(out, at, "\"\n");
}

void Scanner::reset(const ScanOptions& options) noexcept {
  options_ = options;
  decoder_ = PulseDecoder();
  name_ = TapeName{};
  position_ = 0;
  names_ = 0;
  done_ = false;
  finished_ = false;
  result_count_ = 0;
}

std::size_t Scanner::feed(std::span<const std::uint8_t> piece) noexcept {
  std::size_t used = 0;
  // One classified read at a time; a piece larger than that is taken in
  // several. A read is left early only when a result has to be taken first,
  // and what is left of it is classified again on the next call.
  while (used < piece.size() && !done() && !full()) {
    // Where no name can begin the pulses are passed over unclassified.
    const std::size_t passed = decoder_.pass_search(piece.subspan(used), classifier_);
    used += passed;
    position_ += passed;
    if (used == piece.size()) {
      break;
    }
    const std::span<const std::uint8_t> read =
        piece.subspan(used, std::min(piece.size() - used, kMaxClassifiedPulses));
    classified_.classify(read, classifier_);
    std::size_t at = 0;
    while (at < read.size() && !done() && !full()) {
      const BulkResult step = decoder_.feed_pulses(classified_, at, name_);
      at += step.consumed;
      if (step.found) {
        add_result(position_ + at - 1);
      }
    }
    used += at;
    position_ += at;
  }
  return used;
}

void Scanner::finish() noexcept {
  if (finished_) {
    return;
  }
  finished_ = true;
  if (done_) {
    return;  // first-name mode stopped reading at its name
  }
  assert(result_count_ < kMaxResults);  // feed() leaves room for this one result
  if (decoder_.feed_pulse(kEndOfFilePulse, name_) != 0 && result_count_ < kMaxResults) {
    add_result(position_);
  }
}

void Scanner::add_result(std::uint64_t report) noexcept {
  NameResult& result = results_[result_count_++];
  result.number = ++names_;
  // A report needs the 248 header pulses before it, so this never wraps.
  result.offset = report >= kReportDistance ? report - kReportDistance : 0;
  result.block_type = decoder_.block_type();
  result.name = name_;
  result.name[kNameLength] = 0;
  if (!options_.extract_all) {
    done_ = true;
  }
}

}  // namespace tapnames
