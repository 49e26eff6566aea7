// SPDX-License-Identifier: MIT
// The run: reads the sources on worker threads, one scan core each, and
// writes their records in the order of the sources whatever the number of
// threads. A source's records are written as soon as every source before it
// has been written, so memory holds only the records waiting their turn.
// Records are written whole: a source's at once, and on an interruption
// only those of the sources read to their end before it.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <string_view>
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
  bool images = false;  // a record per image instead of per name
  unsigned jobs = 1;
  bool progress = false;                         // a progress line, if it may be drawn
  Summary walked;                                // the walk's counts, shown from the start
  const std::atomic<bool>* interrupt = nullptr;  // set by a signal: stop, keep what is whole
  Database* database = nullptr;                  // --db: each source's images go to it, no records
};

struct RunResult {
  Summary summary;            // the walk's counts and the run's
  bool write_failed = false;  // `out` failed; the run stopped there (counted as a failure)
  bool interrupted = false;   // the run stopped at `interrupt`; workers may still be reading
};

// When `interrupted` comes back, worker threads may still be blocked in a
// read: the caller ends the process (after writing what it has to) without
// returning from main.
RunResult run_catalogue(const std::vector<Source>& sources, const RunSettings& settings,
                        std::FILE* out, std::FILE* err);

// "tapnames-catalogue: PATH: REASON\n", the path and the reason escaped as
// a TSV field is (tab, newline, carriage return, backslash), so that a
// message is always one line.
void append_message(std::string& text, std::string_view path, std::string_view reason);

// The text for an errno value, safe on any thread.
std::string error_text(int error);

}  // namespace catalogue
