// SPDX-License-Identifier: MIT
// The command line: banner, option scan, help text, and the run that wires
// the scan to the output and turns failures into messages and exit statuses.
#pragma once

#include "list_names.h"

namespace tapnames {

struct Options {
  ListOptions list;            // -a and -e
  const char* path = nullptr;  // the tape image; null when none was given
};

// Options come before the path; only the second character of an option is
// looked at, and everything after the path is ignored.
Options parse_options(int argc, const char* const* argv) noexcept;

// argv[0], or "tapnames" when the argument vector is empty or argv[0] is "".
const char* program_name(int argc, const char* const* argv) noexcept;

void print_help(const char* program_name) noexcept;

// The whole run. Returns 0 after a scan, 255 on any failure.
int run(int argc, const char* const* argv) noexcept;

}  // namespace tapnames
