// SPDX-License-Identifier: MIT
// The command line's read loop: reads a tape image in large pieces, hands
// them to the scan core and writes a result line for each name found, in
// first-name or all-names mode. Knows nothing of the command line.
#pragma once

#include <cstdio>

namespace tapnames {

struct ListOptions {
  bool extract_all = false;  // -a: every name, numbered; else the first
  bool escape = false;       // -e: control codes by name
};

enum class ListStatus {
  Complete,    // the whole image, or up to the first name in first-name mode
  ReadError,   // a read failed; names found before it were written
  WriteError,  // `out` failed; the reading stopped there
};

// Reads the open image to its end (or its first name), writing
// "FOUND: \"NAME\"\n" or "FOUND (001): \"NAME\"\n"... to `out`.
ListStatus list_names(std::FILE* image, const ListOptions& options, std::FILE* out) noexcept;

}  // namespace tapnames
