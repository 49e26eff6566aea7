// SPDX-License-Identifier: MIT
// Writes a collection of tape images like a collection keeper's, made with the
// tape builder, for bench/catalogue.sh:
//   make_collection DIR [IMAGES] [SEED]
// IMAGES (default 2,000) images of 100 KB to 3 MB (most of them small: about
// 1.3 GB in all), each one to four recordings among slow-loader pulses, in
// nested folders whose names hold spaces, quotes, leading dashes and
// non-ASCII letters. One image in ten is gzipped (.tap.gz), about six in a
// hundred are members of .zip archives (in a folder of the archive), five in
// a hundred are named .TAP; a few are broken: two truncated .tap.gz, a
// .tap.gz that is not gzip, and a truncated .zip, all in the folder
// "Damaged", so that benchmarks can leave them out. Prints its make-up.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "archive_writer.h"
#include "tape_builder.h"

namespace {

namespace fs = std::filesystem;

constexpr std::array<const char*, 12> kFolders = {"Arcade",
                                                  "Arcade/Shoot em up",
                                                  "Puzzle & Logic",
                                                  "-dash folder",
                                                  "It's \"quoted\"",
                                                  "Spiele/Über",
                                                  "Jeux/Été 1985",
                                                  "Sports/1984",
                                                  "Adventure/Side A",
                                                  "Adventure/Side B",
                                                  "Compilations/Hits vol. 3",
                                                  "Demos"};
constexpr std::array<const char*, 10> kWords = {"SPACE",  "RACE",  "CAVE",  "QUEST",  "BALL",
                                                "RUNNER", "TOWER", "STORM", "KNIGHT", "ROBOT"};
constexpr std::size_t kSmallest = 100'000;
constexpr double kSpread = 30;  // the largest image is 30 times the smallest

struct Counts {
  std::size_t plain = 0, upper = 0, gzipped = 0, zipped = 0, zips = 0, broken = 0;
  std::uint64_t bytes = 0;   // on disk
  std::uint64_t pulses = 0;  // of the images, unpacked
};

std::vector<std::uint8_t> make_tape(std::size_t size, std::mt19937& random) {
  tapes::TapeBuilder tape;
  const std::size_t recordings = 1 + random() % 4;
  const std::size_t share = size / recordings;
  for (std::size_t r = 0; r < recordings; ++r) {
    std::string name = kWords[random() % kWords.size()];
    name += ' ';
    name += kWords[random() % kWords.size()];
    tape.slow_pulses(200 + random() % 800, static_cast<std::uint_fast32_t>(random()));
    tape.header(name, static_cast<std::uint8_t>(1 + random() % 2));
    const std::size_t data_pulses = share > 20'000 ? share - 20'000 : 1000;
    tape.data_block(data_pulses / 8, static_cast<std::uint_fast32_t>(random()));
  }
  return tape.take();
}

bool write(const fs::path& path, const std::vector<std::uint8_t>& bytes, Counts& counts) {
  counts.bytes += bytes.size();
  return tapes::write_tape_file(path.c_str(), bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: make_collection DIR [IMAGES] [SEED]\n", stderr);
    return 2;
  }
  const fs::path root = argv[1];
  const std::size_t images = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 2000;
  std::mt19937 random(argc > 3 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)) : 1U);
  std::uniform_real_distribution<double> unit(0, 1);
  Counts counts;
  std::vector<tapes::Member> pending;  // members of the next zip
  bool ok = true;
  for (std::size_t i = 0; i < images && ok; ++i) {
    const bool broken = i == 3 || i == 607 || i == 1205;
    const fs::path folder = root / (broken ? "Damaged" : kFolders[i % kFolders.size()]);
    fs::create_directories(folder);
    const auto size = static_cast<std::size_t>(static_cast<double>(kSmallest) *
                                               std::pow(kSpread, std::pow(unit(random), 1.35)));
    const std::vector<std::uint8_t> tape = make_tape(size, random);
    counts.pulses += tape.size();
    std::string stem = std::string(i % 7 == 0 ? "-" : "") + kWords[i % kWords.size()] + " " +
                       std::to_string(i) + (i % 11 == 0 ? " (it's \"v2\")" : "");
    const std::size_t kind = i % 100;
    if (kind < 10) {  // gzipped; a few broken
      std::vector<std::uint8_t> packed = tapes::gzip_bytes(tape);
      if (broken && i != 607) {
        packed.resize(packed.size() / 2);
        ++counts.broken;
      } else if (broken) {
        packed = tape;  // not gzip at all
        ++counts.broken;
      } else {
        ++counts.gzipped;
      }
      ok = write(folder / (stem + ".tap.gz"), packed, counts);
    } else if (kind < 16) {  // a zip member, ten to an archive
      pending.push_back({"disk " + std::to_string(i % 3) + "/" + stem + ".tap", tape});
      ++counts.zipped;
      if (pending.size() == 10 || i + 100 >= images) {
        std::vector<std::uint8_t> packed = tapes::zip_bytes(pending);
        if (counts.zips == 3) {
          packed.resize(packed.size() * 3 / 4);  // cut: the last members are lost
          ++counts.broken;
        }
        const fs::path zip_folder = counts.zips == 3 ? root / "Damaged" : folder;
        ok = write(zip_folder / ("pack " + std::to_string(counts.zips++) + ".zip"), packed, counts);
        pending.clear();
      }
    } else if (kind < 21) {
      ++counts.upper;
      ok = write(folder / (stem + ".TAP"), tape, counts);
    } else {
      ++counts.plain;
      ok = write(folder / (stem + ".tap"), tape, counts);
    }
  }
  if (!pending.empty() && ok) {
    ok = write(root / ("pack " + std::to_string(counts.zips++) + ".zip"), tapes::zip_bytes(pending),
               counts);
  }
  if (!ok) {
    std::perror("make_collection");
    return 1;
  }
  std::printf(
      "%zu images, %.2f GB (%.2f GB on disk):  %zu .tap, %zu .TAP, %zu .tap.gz, %zu in %zu .zip, "
      "broken: %zu (2 truncated .tap.gz, 1 .tap.gz not gzip, 1 truncated .zip)\n",
      images, static_cast<double>(counts.pulses) / 1e9, static_cast<double>(counts.bytes) / 1e9,
      counts.plain, counts.upper, counts.gzipped, counts.zipped, counts.zips, counts.broken);
  return 0;
}
