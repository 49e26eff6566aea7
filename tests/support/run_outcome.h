// SPDX-License-Identifier: MIT
// What a program run by the end-to-end tests left: its standard output and
// standard error, captured in temporary files, and its exit status.
#pragma once

#include <cstdio>
#include <string>

namespace support {

struct Outcome {
  std::string out;
  std::string err;
  int status = -1;
};

// The whole of `file`, read from its start; the file is closed.
inline std::string slurp(std::FILE* file) {
  std::string text;
  std::rewind(file);
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
    text.push_back(static_cast<char>(c));
  }
  std::fclose(file);
  return text;
}

}  // namespace support
