// SPDX-License-Identifier: MIT
// The scan: reads a tape image in large pieces, runs the decoder over every
// pulse, and writes a result line for each name found, in first-name or
// all-names mode. Knows nothing of the command line.
#pragma once

#include <cstdint>
#include <cstdio>

namespace tapnames {

// The end of the input reaches the decoder once, as this pulse value, so that
// a name whose last bit is the last byte of the file is still reported.
inline constexpr std::uint8_t kEndOfFilePulse = 255;

struct ScanOptions {
  bool extract_all = false;  // every name, numbered; else stop at the first
  bool escape = false;       // control codes by name
};

enum class ScanStatus {
  Complete,    // the whole image, or up to the first name in first-name mode
  ReadError,   // a read failed; names found before it were written
  WriteError,  // `out` failed; the scan stopped reading there
};

// Scans the open image to its end (or its first name), writing
// "FOUND: \"NAME\"\n" or "FOUND (001): \"NAME\"\n"... to `out`.
ScanStatus scan_image(std::FILE* image, const ScanOptions& options, std::FILE* out) noexcept;

}  // namespace tapnames
