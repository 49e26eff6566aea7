// SPDX-License-Identifier: MIT
// Writes the tapes of the web page's tests, made with the tape builder:
//   make_web_tapes DIR               small tapes and a folder of them in DIR
//   make_web_tapes --large FILE MIB  a FILE of MIB MiB: a 4 MiB stretch of
//                                    recordings repeated, cut at the end
//   make_web_tapes --many DIR COUNT  a collection: COUNT small tapes in DIR,
//                                    with none to three names each
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "special_tape.h"
#include "tape_builder.h"

namespace {

using tapes::TapeBuilder;

// Names that exercise the rendering: control codes, a backslash (escaped in
// the TSV), codes dropped or dotted, a trailing shifted space, a zero byte,
// and a name of spaces alone.
constexpr std::array<std::string_view, 8> kOddNames = {
    "\x12TITLE\x92 \x1cRED",
    "BACK\\SLASH",
    std::string_view("A\x5e\x93\xc1 \x0d\x01", 7),
    "TRAILING\xa0",
    std::string_view("ZERO\0AFTER", 10),
    "                ",
    "\x85\x8c\x8d\x8e\x90\x91\x92\x93\x94\x9c\x9d\x9e\x9f\xa0\x05\x08",
    "LAST ONE",
};

std::vector<std::uint8_t> mixed_tape() {
  TapeBuilder tape;
  tape.slow_pulses(5000, 1).header("FIRST").data_block(700, 2);
  std::uint8_t type = 1;
  for (const std::string_view name : kOddNames) {
    tape.header(name, type).data_block(300, type);
    type = type == 1 ? 2 : 1;
  }
  // Not reported: a pilot one byte short, and block types 0 and 3.
  tape.slow_pulses(100, 3).header("SHORT PILOT", 1, 958);
  tape.slow_pulses(100, 4).header("TYPE THREE", 3).header("TYPE ZERO", 0);
  return tape.slow_pulses(1000, 5).take();
}

// More names than the scan core holds before they must be taken.
std::vector<std::uint8_t> many_names_tape() {
  TapeBuilder tape;
  constexpr unsigned kNames = 150;
  for (unsigned i = 1; i <= kNames; ++i) {
    const std::string name = "NAME " + std::to_string(i);
    tape.header(name, static_cast<std::uint8_t>(1 + (i % 2))).slow_pulses(10, i);
  }
  return tape.take();
}

// The last name's last bit is the image's last byte: it is reported on the
// end-of-image pulse.
std::vector<std::uint8_t> name_at_end_tape() {
  return TapeBuilder().slow_pulses(3000, 6).header("AT THE END", 2).take();
}

// The stretch the large image repeats: 4 MiB of data blocks and slow pulses
// with three headers.
std::vector<std::uint8_t> large_stretch() {
  constexpr std::size_t kStretch = std::size_t{4} << 20;
  TapeBuilder tape;
  tape.header("LARGE ONE").data_block(100000, 9).slow_pulses(200000, 10);
  tape.header("\x12LARGE\x92 TWO", 2).data_block(150000, 11);
  tape.header("LARGE THREE");
  std::vector<std::uint8_t> stretch = tape.take();
  const std::vector<std::uint8_t> filler = TapeBuilder().data_block(1000, 12).take();
  while (stretch.size() < kStretch) {
    stretch.insert(stretch.end(), filler.begin(), filler.end());
  }
  stretch.resize(kStretch);
  return stretch;
}

bool write_large(const char* path, std::uint64_t mib) {
  const std::vector<std::uint8_t> stretch = large_stretch();
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    return false;
  }
  const std::uint64_t size = mib << 20;
  bool ok = true;
  for (std::uint64_t written = 0; ok && written < size; written += stretch.size()) {
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(stretch.size(), size - written));
    ok = std::fwrite(stretch.data(), 1, count, file) == count;
  }
  return std::fclose(file) == 0 && ok;
}

// Tape `index` of a collection: a few kB, with index % 4 names, the first its
// number and the others odd names, so that every image's output differs.
std::vector<std::uint8_t> collection_tape(unsigned index) {
  TapeBuilder tape;
  tape.slow_pulses(200 + (index % 7) * 50, index);
  for (unsigned i = 0; i < index % 4; ++i) {
    const std::string name = i == 0 ? "TAPE " + std::to_string(index)
                                    : std::string(kOddNames[(index + i) % kOddNames.size()]);
    tape.header(name, static_cast<std::uint8_t>(1 + ((index + i) % 2))).data_block(40, index + i);
  }
  return tape.slow_pulses(100, index + 7).take();
}

bool write_many(const std::string& dir, unsigned count) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  bool ok = !error;
  for (unsigned index = 1; ok && index <= count; ++index) {
    std::array<char, 32> name{};
    std::snprintf(name.data(), name.size(), "/tape %04u.tap", index);
    ok = tapes::write_tape_file((dir + name.data()).c_str(), collection_tape(index));
  }
  return ok;
}

bool write_small(const std::string& dir) {
  std::error_code error;
  std::filesystem::create_directories(dir + "/folder/sub dir/deeper", error);
  if (error) {
    return false;
  }
  const std::vector<std::uint8_t> readme = {'n', 'o', 't', ' ', 'a', ' ', 't', 'a', 'p', 'e'};
  return tapes::write_tape_file((dir + "/mixed.tap").c_str(), mixed_tape()) &&
         tapes::write_tape_file((dir + "/many names.tap").c_str(), many_names_tape()) &&
         tapes::write_tape_file((dir + "/at_end.tap").c_str(), name_at_end_tape()) &&
         tapes::write_tape_file((dir + "/empty.tap").c_str(), {}) &&
         tapes::write_tape_file((dir + "/special.tap").c_str(), tapes::special_pulses_tape()) &&
         tapes::write_tape_file((dir + "/folder/one.tap").c_str(), mixed_tape()) &&
         tapes::write_tape_file((dir + "/folder/sub dir/two.TAP").c_str(), name_at_end_tape()) &&
         tapes::write_tape_file((dir + "/folder/sub dir/deeper/three.tap").c_str(),
                                many_names_tape()) &&
         tapes::write_tape_file((dir + "/folder/readme.txt").c_str(), readme);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "--large") {
    const std::uint64_t mib = std::strtoull(argv[3], nullptr, 10);
    if (mib == 0 || !write_large(argv[2], mib)) {
      std::fprintf(stderr, "make_web_tapes: cannot write %s\n", argv[2]);
      return 1;
    }
    return 0;
  }
  if (args.size() == 3 && args[0] == "--many") {
    const unsigned long count = std::strtoul(argv[3], nullptr, 10);
    if (count == 0 || count > 9999 || !write_many(argv[2], static_cast<unsigned>(count))) {
      std::fprintf(stderr, "make_web_tapes: cannot write %s\n", argv[2]);
      return 1;
    }
    return 0;
  }
  if (args.size() != 1) {
    std::fputs(
        "usage: make_web_tapes DIR | make_web_tapes --large FILE MIB | "
        "make_web_tapes --many DIR COUNT\n",
        stderr);
    return 2;
  }
  if (!write_small(argv[1])) {
    std::fprintf(stderr, "make_web_tapes: cannot write to %s\n", argv[1]);
    return 1;
  }
  return 0;
}
