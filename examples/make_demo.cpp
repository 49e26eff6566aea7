// SPDX-License-Identifier: MIT
// Writes the demo tape image: make_demo examples/demo.tap
#include <cstdio>

#include "demo_tape.h"
#include "tape_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_demo OUTPUT.tap\n", stderr);
    return 2;
  }
  if (!tapes::write_tape_file(argv[1], tapes::demo_tape())) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
