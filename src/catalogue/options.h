// SPDX-License-Identifier: MIT
// The command line of tapnames-catalogue: what to read and how to write it.
// Parsing only: no files are opened here.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "database.h"
#include "records.h"

namespace catalogue {

struct Options {
  std::vector<std::string> paths;       // folders, images and archives, in any mix
  std::vector<std::string> files_from;  // lists of paths; "-" is standard input
  bool null_separated = false;          // -0: the lists are separated by NUL
  bool escape = false;                  // -e: control codes by name
  unsigned jobs = 0;                    // -j N; 0 until resolved: one per CPU
  bool follow = false;                  // --follow: follow links met while walking
  bool one_file_system = false;         // --one-file-system
  std::optional<unsigned> max_depth;    // --max-depth N
  std::vector<std::string> excludes;    // --exclude GLOB, each
  Format format = Format::Tsv;
  bool all_images = false;  // a record for every image without names too
  bool images = false;      // --images: a record per image instead of per name
  bool quiet = false;       // no progress line, no summary
  // The collection kept in a database (database.h).
  std::string database;                // --db FILE
  HashChoice hashes;                   // --hashes crc32,md5,sha1
  Question question = Question::None;  // --duplicates, --search TEXT, --stats
  std::string search;                  // the TEXT of --search
};

enum class Action { Run, Help, Version, UsageError };

struct Parsed {
  Action action = Action::Run;
  Options options;
  std::string error;  // for UsageError: what was wrong
};

Parsed parse_options(const std::vector<std::string_view>& args);

// The help text, for --help.
std::string_view help_text();

}  // namespace catalogue
