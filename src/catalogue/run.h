// SPDX-License-Identifier: MIT
// The run: reads the sources on worker threads, one scan core each, and
// writes their records in the order of the sources whatever the number of
// threads. A source's records are written as soon as every source before it
// has been written, so memory holds only the records waiting their turn.
#pragma once

#include <cstdio>
#include <vector>

#include "database.h"
#include "progress.h"
#include "records.h"
#include "source.h"

namespace catalogue {

struct RunSettings {
  Format format = Format::Tsv;
  bool escape = false;
  bool all_images = false;
  unsigned jobs = 1;
  bool progress = false;         // a progress line, if `err` is a terminal
  Database* database = nullptr;  // --db: each source's images go to it, no records to `out`
};

struct RunResult {
  Summary summary;
  bool write_failed = false;  // `out` failed; the run stopped there
};

RunResult run_catalogue(const std::vector<Source>& sources, const RunSettings& settings,
                        std::FILE* out, std::FILE* err);

// "tapnames-catalogue: PATH: REASON\n"
void append_message(std::string& text, std::string_view path, std::string_view reason);

}  // namespace catalogue
