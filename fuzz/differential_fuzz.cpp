// SPDX-License-Identifier: MIT
// Fuzz target: the decoder against the independent model. The input chooses
// the starting state (including a pilot count near its limit), the sizes of
// the pieces the bulk path is fed in, the classifier, and the pulses. The
// per-pulse path and the bulk path, also with the pass over the search, must
// report the same names at the same pulses as the model and end in the same
// fields (but for the counts the pass leaves while searching).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <span>

#include "decode_support.h"

namespace {

constexpr std::size_t kStateBytes = 7;
constexpr std::size_t kPieceBytes = 8;

void require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

model::Decoder start_fields(const std::uint8_t* data) {
  model::Decoder fields;
  fields.state = data[0] % 3;
  fields.shift_register = data[1];
  fields.bit_count = data[2] % 8U;
  std::uint32_t count = 0;
  std::memcpy(&count, data + 3, sizeof count);
  // Either a small count or one close to the saturation limit.
  const auto small = static_cast<std::int32_t>(count % 2048);
  const auto near_limit = std::numeric_limits<std::int32_t>::max() - small;
  fields.byte_count = (count & 0x80000000U) != 0 ? near_limit : small;
  if (fields.state == 2) {
    fields.byte_count = 1 + small % 31;  // the header positions that exist
  }
  return fields;
}

// One of the classifiers this CPU runs, as the input chooses.
const tapnames::Classifier& classifier(std::uint8_t choice) {
  static const auto available = support::classifiers();
  return available[choice % available.size()];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kStateBytes + kPieceBytes) {
    return 0;
  }
  const model::Decoder start = start_fields(data);
  const std::uint8_t* pieces = data + kStateBytes;
  const std::span<const std::uint8_t> pulses(pieces + kPieceBytes,
                                             size - kStateBytes - kPieceBytes);

  const support::Decoded expected = support::model_decode(pulses, start);
  require(support::per_pulse_decode(pulses, start) == expected);
  // Pieces of 1 to 16 321 pulses (the core classifies at most 16 KiB at
  // once), so that the window kernels get long runs and the pieces end at
  // any offset of a window.
  std::size_t next = 0;
  const auto piece = [&] {
    const std::size_t windows = pieces[next % kPieceBytes];
    const std::size_t extra = pieces[(next + 3) % kPieceBytes] % 64;
    ++next;
    return (windows * 64) + 1 + extra;
  };
  require(support::bulk_decode(pulses, piece, classifier(data[2] / 8U), start) == expected);
  // And with the pass over the search before each piece, as the scan core does.
  require(support::bulk_decode(pulses, piece, classifier(data[2] / 8U), start, true) == expected);
  return 0;
}
