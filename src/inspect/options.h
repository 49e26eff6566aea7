// SPDX-License-Identifier: MIT
// The command line of tapnames-inspect: what to read and how to write it.
// Parsing only: no files are opened here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "inspector.h"

namespace inspect {

enum class Format { Text, Jsonl, Tsv };

struct Options {
  std::vector<std::string> paths;  // images, gzipped images, archives, folders
  Format format = Format::Text;
  Settings settings;
  bool escape = false;  // -e: control codes in names by name
};

enum class Action { Run, Help, Version, UsageError };

struct Parsed {
  Action action = Action::Run;
  Options options;
  std::string error;  // for UsageError: what was wrong
};

Parsed parse_options(const std::vector<std::string_view>& args);

std::string_view help_text();

}  // namespace inspect
