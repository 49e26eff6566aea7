// Writes the demo tape image: make_demo examples/demo.tap
#include <cstdio>

#include "demo_tape.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_demo OUTPUT.tap\n", stderr);
    return 2;
  }
  const auto tape = tapes::demo_tape();
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  const bool written = std::fwrite(tape.data(), 1, tape.size(), out) == tape.size();
  if (std::fclose(out) != 0 || !written) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
