// SPDX-License-Identifier: MIT
// Writes the tapes of the end-to-end tests into a folder, made with the tape
// builder: make_e2e_tapes DIR
#include <cstdio>
#include <filesystem>
#include <string>

#include "special_tape.h"
#include "tape_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_e2e_tapes DIR\n", stderr);
    return 2;
  }
  std::error_code error;
  std::filesystem::create_directories(argv[1], error);
  const std::string dir = argv[1];
  if (error || !tapes::write_tape_file((dir + "/empty.tap").c_str(), {}) ||
      !tapes::write_tape_file((dir + "/special.tap").c_str(), tapes::special_pulses_tape())) {
    std::fprintf(stderr, "make_e2e_tapes: cannot write to %s\n", argv[1]);
    return 1;
  }
  return 0;
}
