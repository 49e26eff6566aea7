// SPDX-License-Identifier: MIT
// What the user sees on standard error besides the messages: a one-line
// status that updates (files done of all, the counts, MB/s, time left), and
// the summary at the end, both with the same words for the counts. The line
// is drawn only when standard error is a terminal and standard output is not:
// when both are the same terminal, the records are the progress.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace catalogue {

struct Summary {
  std::uint64_t images = 0;         // images read, whole or in part
  std::uint64_t names = 0;          // records with a name
  std::uint64_t without_names = 0;  // images read whole that hold no name
  std::uint64_t skipped = 0;        // entries skipped with a message (FIFOs, link loops, ...)
  std::uint64_t failures = 0;       // images, archives, folders and output that failed
  std::uint64_t bytes = 0;          // of images read
};

void add(Summary& total, const Summary& part);

// "tapnames-catalogue: 2000 images, 5123 names, 12 images without names,
//  0 skipped, 3 failures, 52428800 bytes read in 0.42 s"
void print_summary(const Summary& summary, double seconds, std::FILE* err);

class Progress {
 public:
  // Draws nothing unless `enabled`, `err` is a terminal and `out` is not.
  Progress(bool enabled, std::FILE* out, std::FILE* err, std::uint64_t files, std::uint64_t bytes);

  // Redraws the line, at most a few times a second. Never called with a
  // lock held that the workers need: a stopped terminal stops only this.
  void update(std::uint64_t files_done, std::uint64_t bytes_done, const Summary& counts);
  // Erases the line, before a message or at the end.
  void clear();

 private:
  void write_spaces(int count);

  bool enabled_;
  std::FILE* err_;
  std::uint64_t files_;
  std::uint64_t bytes_;
  int drawn_ = 0;  // the length of the line on screen
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_;
};

}  // namespace catalogue
