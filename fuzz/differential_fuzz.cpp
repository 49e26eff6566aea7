// Fuzz target: the bulk decode path against the per-pulse reference. The
// input chooses the starting state (including a pilot count near its limit),
// the chunk sizes the bulk path is fed in, and the pulses. Both must report
// the same names at the same pulses and end in the same state.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "decoder/pulse_decoder.h"

namespace {

using tapnames::PulseDecoder;

constexpr std::size_t kStateBytes = 7;
constexpr std::size_t kChunkBytes = 8;

void require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

PulseDecoder::Fields start_fields(const std::uint8_t* data) {
  PulseDecoder::Fields fields;
  fields.state = static_cast<tapnames::DecoderState>(data[0] % 3);
  fields.shift_register = data[1];
  fields.bit_count = static_cast<std::uint8_t>(data[2] % 8);
  std::uint32_t count = 0;
  std::memcpy(&count, data + 3, sizeof count);
  // Either a small count or one close to the saturation limit.
  const auto small = static_cast<std::int32_t>(count % 2048);
  const auto near_limit = std::numeric_limits<std::int32_t>::max() - small;
  fields.byte_count = (count & 0x80000000U) != 0 ? near_limit : small;
  if (fields.state == tapnames::DecoderState::Header) {
    fields.byte_count = 1 + small % 31;  // the header positions that exist
  }
  return fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kStateBytes + kChunkBytes) {
    return 0;
  }
  const PulseDecoder::Fields fields = start_fields(data);
  const std::uint8_t* chunks = data + kStateBytes;
  const std::uint8_t* pulses = chunks + kChunkBytes;
  const std::size_t count = size - kStateBytes - kChunkBytes;

  PulseDecoder reference(fields);
  PulseDecoder bulk(fields);
  tapnames::TapeName reference_name{};
  tapnames::TapeName bulk_name{};

  std::size_t position = 0;  // pulses fed to the bulk path so far
  std::size_t next_report = 0;
  for (std::size_t chunk = 0; position < count; ++chunk) {
    // Chunk sizes up to 4 KiB, so that the 64-pulse paths get long runs.
    const std::size_t length = std::min<std::size_t>(
        count - position, (std::size_t{chunks[chunk % kChunkBytes]} * 16) + 1);
    std::size_t fed = 0;
    while (fed < length) {
      const auto result =
          bulk.feed_pulses(std::span(pulses + position + fed, length - fed), bulk_name);
      require(result.consumed >= 1 && result.consumed <= length - fed);
      fed += result.consumed;
      // The reference catches up pulse by pulse to the same point.
      bool reference_found = false;
      for (; next_report < position + fed; ++next_report) {
        const bool found = reference.feed_pulse(pulses[next_report], reference_name) == 1;
        require(!found || next_report + 1 == position + fed);
        reference_found = found;
      }
      require(reference_found == result.found);
      require(!result.found || reference_name == bulk_name);
      require(result.found || fed == length);
    }
    position += length;
  }
  require(reference.fields() == bulk.fields());
  return 0;
}
