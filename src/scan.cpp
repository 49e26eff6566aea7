// SPDX-License-Identifier: MIT
// The scan loop: one read loop over a fixed buffer with every read's result
// checked, the decoder's bulk path over each piece read, and the result line
// written where a name is found.
#include "scan.h"

#include <array>
#include <cerrno>

#include "decoder/pulse_decoder.h"
#include "render/name_render.h"

namespace tapnames {
namespace {

// A whole classified buffer per read keeps the reads large and the bit arrays
// in the cache.
constexpr std::size_t kReadSize = kMaxClassifiedPulses;

// Writes one result line. `number` counts the names in all-names mode.
void write_result(std::FILE* out, TapeName& name, const ScanOptions& options,
                  unsigned long long number) {  // NOLINT(google-runtime-int): %llu
  name[kNameLength] = 0;
  if (options.extract_all) {
    std::fprintf(out, "FOUND (%03llu): \"", number);
  } else {
    std::fputs("FOUND: \"", out);
  }
  print_name(name, options.escape, out);
  std::fputs("\"\n", out);
}

// How a scan that ends here went: a failed write outranks everything else.
ScanStatus ended(std::FILE* out) {
  return std::ferror(out) != 0 ? ScanStatus::WriteError : ScanStatus::Complete;
}

// The buffer and its classification are large, so they live for the run
// rather than on the stack; the scan is not reentrant, like the decoder.
std::array<std::uint8_t, kReadSize> read_buffer;  // NOLINT: filled by each read
ClassifiedPulses classified;                      // NOLINT: refilled for each read

}  // namespace

ScanStatus scan_image(std::FILE* image, const ScanOptions& options, std::FILE* out) noexcept {
  PulseDecoder decoder;
  TapeName name{};
  unsigned long long names = 0;                     // NOLINT(google-runtime-int): printed with %llu
  const Classifier classifier = best_classifier();  // the CPU does not change
  for (;;) {
    errno = 0;
    const std::size_t got = std::fread(read_buffer.data(), 1, read_buffer.size(), image);
    const bool failed = got < read_buffer.size() && std::ferror(image) != 0;
    classified.classify(std::span(read_buffer.data(), got), classifier);
    for (std::size_t at = 0; at < got;) {
      const BulkResult result = decoder.feed_pulses(classified, at, name);
      at += result.consumed;
      if (result.found) {
        write_result(out, name, options, ++names);
        if (!options.extract_all) {
          return ended(out);
        }
      }
    }
    if (std::ferror(out) != 0) {
      return ScanStatus::WriteError;  // no use reading on
    }
    if (failed) {
      if (errno == EINTR) {  // interrupted, nothing lost: read on
        std::clearerr(image);
        continue;
      }
      return ScanStatus::ReadError;
    }
    if (got < read_buffer.size()) {  // the end of the image
      if (decoder.feed_pulse(kEndOfFilePulse, name) != 0) {
        write_result(out, name, options, ++names);
      }
      return ended(out);
    }
  }
}

}  // namespace tapnames
