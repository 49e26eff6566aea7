// SPDX-License-Identifier: MIT
// Writes a synthetic tape image of about the given size for timing runs:
// make_bench_tape OUTPUT.tap MEBIBYTES
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "bench_tape.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: make_bench_tape OUTPUT.tap MEBIBYTES\n", stderr);
    return 2;
  }
  const std::size_t target = std::strtoull(argv[2], nullptr, 10) << 20U;
  std::FILE* out = std::fopen(argv[1], "wb");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  std::size_t written = 0;
  for (std::uint_fast32_t seed = 1; written < target; ++seed) {
    const auto segment = tapes::bench_tape_segment(seed);
    const std::size_t size = std::min(segment.size(), target - written);
    if (std::fwrite(segment.data(), 1, size, out) != size) {
      break;
    }
    written += size;
  }
  if (std::fclose(out) != 0 || written < target) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
