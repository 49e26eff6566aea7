// SPDX-License-Identifier: MIT
// What the user sees on standard error besides the messages: a one-line
// status that updates (files done of all, MB/s, time left), drawn only when
// standard error is a terminal, and the summary at the end.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace catalogue {

struct Summary {
  std::uint64_t images = 0;         // images read, whole or in part
  std::uint64_t names = 0;          // records with a name
  std::uint64_t without_names = 0;  // images read whole that hold no name
  std::uint64_t failures = 0;       // images, archives, folders that failed
};

// "tapnames-catalogue: 2000 images, 5123 names, 12 images without names, 3 failures"
void print_summary(const Summary& summary, std::FILE* err);

class Progress {
 public:
  // Draws nothing unless `enabled` and `err` is a terminal.
  Progress(bool enabled, std::FILE* err, std::uint64_t files, std::uint64_t bytes);

  // Redraws the line, at most a few times a second.
  void update(std::uint64_t files_done, std::uint64_t bytes_done);
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
