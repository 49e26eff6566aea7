// SPDX-License-Identifier: MIT
// The scan: reads a tape image in large pieces, hands them to the scan core
// and writes a result line for each name found, in first-name or all-names
// mode. Knows nothing of the command line.
#pragma once

#include <cstddef>
#include <cstdio>

#include "scanner/scanner.h"

namespace tapnames {

// The size of the scan's reads: large, so that the system calls are few; the
// core classifies each in pieces that stay in the cache.
inline constexpr std::size_t kReadSize = std::size_t{128} * 1024;

enum class ScanStatus {
  Complete,    // the whole image, or up to the first name in first-name mode
  ReadError,   // a read failed; names found before it were written
  WriteError,  // `out` failed; the scan stopped reading there
};

// Scans the open image to its end (or its first name), writing
// "FOUND: \"NAME\"\n" or "FOUND (001): \"NAME\"\n"... to `out`.
ScanStatus scan_image(std::FILE* image, const ScanOptions& options, std::FILE* out) noexcept;

}  // namespace tapnames
