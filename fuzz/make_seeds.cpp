// SPDX-License-Identifier: MIT
// Writes seed inputs for the fuzz targets, made with the tape builder:
// make_seeds SCAN_CORPUS_DIR DIFFERENTIAL_CORPUS_DIR [ARCHIVE_CORPUS_DIR]
// The archive seeds (a zip with a folder, a tar, a gzipped tar, a gzipped
// image, and archives and compressed images inside archives) are written
// where the catalogue is built.
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "tape_builder.h"
#if defined(TAPNAMES_ARCHIVE_SEEDS)
#include "archive_writer.h"
#endif

namespace {

std::vector<std::vector<std::uint8_t>> seed_tapes() {
  using tapes::TapeBuilder;
  return {
      TapeBuilder().header("HELLO").byte(0).take(),
      TapeBuilder().header("\x12TITLE\x92 \x1c\x93\xA0\x0D").take(),
      TapeBuilder().header("TYPE TWO", 2, 959).header("BACK TO BACK", 1, 959).take(),
      TapeBuilder().pulses(tapes::kOnePulse).header("EARLY", 1, 960).take(),
      TapeBuilder().pilot().sync().byte(1).header("CUT").take(),
      TapeBuilder().slow_pulses(3000, 1).header("AFTER SLOW").data_block(200, 2).take(),
      TapeBuilder().header("SHORT", 1, 958).header("WRONG", 7).take(),
      // Edges of the rules, each a byte away from a different outcome.
      TapeBuilder().header("TYPE 3", 3).header("TYPE 0", 0).header("TYPE 1", 1).take(),
      TapeBuilder().header("\x5E\x7F\xA1\xC1\xFF\x80\x8F\x01 A ").header("").take(),
      TapeBuilder()
          .pulses(tapes::kZeroPulse, 100)
          .pulses(tapes::kOnePulse)
          .header("F", 1, 959)
          .take(),
  };
}

#if defined(TAPNAMES_ARCHIVE_SEEDS)
bool write_archive_seeds(const std::string& dir) {
  const auto images = seed_tapes();
  const std::vector<tapes::Member> members = {{"games/ONE.TAP", images[0]},
                                              {"../up.tap", images[1]},
                                              {"/abs/two.tap", images[2]},
                                              {"notes.txt", images[3]}};
  using tapes::Packing;
  const std::vector<tapes::Member> packed = {
      {"g.tap.gz", tapes::gzip_bytes(images[5])},
      {"b.tap.bz2", tapes::pack_bytes(Packing::Bzip2, {{"", images[6]}})},
      {"x.TAP.XZ", tapes::pack_bytes(Packing::Xz, {{"", images[7]}})},
      {"z.tap.zst", tapes::pack_bytes(Packing::Zstd, {{"", images[8]}})}};
  const std::vector<std::uint8_t> zip_in_tar_gz =
      tapes::pack_bytes(Packing::TarGz, {{"in.zip", tapes::zip_bytes(members)}});
  const std::vector<std::vector<std::uint8_t>> seeds = {
      tapes::zip_bytes(members),
      tapes::tar_bytes(members),
      tapes::gzip_bytes(tapes::tar_bytes(members)),
      tapes::gzip_bytes(images[4]),
      zip_in_tar_gz,
      tapes::zip_bytes(packed),
      tapes::zip_bytes(
          {{"deep.7z", tapes::pack_bytes(Packing::SevenZip, {{"t.tar.gz", zip_in_tar_gz}})},
           {"c.cpio", tapes::pack_bytes(Packing::Cpio, packed)}})};
  int index = 0;
  for (const auto& seed : seeds) {
    if (!tapes::write_tape_file((dir + "/seed-" + std::to_string(index++)).c_str(), seed)) {
      return false;
    }
  }
  return true;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fputs("usage: make_seeds SCAN_CORPUS_DIR DIFFERENTIAL_CORPUS_DIR [ARCHIVE_CORPUS_DIR]\n",
               stderr);
    return 2;
  }
  // Differential inputs start with the decoder state and the chunk sizes.
  constexpr std::array<std::uint8_t, 15> kPrefix = {0,   0, 0,  0, 0,   0,  0, 3,
                                                    200, 1, 64, 9, 255, 17, 40};
  int index = 0;
  for (const auto& tape : seed_tapes()) {
    std::vector<std::uint8_t> differential(kPrefix.begin(), kPrefix.end());
    differential.insert(differential.end(), tape.begin(), tape.end());
    const std::string name = "/seed-" + std::to_string(index++);
    if (!tapes::write_tape_file((argv[1] + name).c_str(), tape) ||
        !tapes::write_tape_file((argv[2] + name).c_str(), differential)) {
      std::perror("make_seeds");
      return 1;
    }
  }
#if defined(TAPNAMES_ARCHIVE_SEEDS)
  if (argc == 4 && !write_archive_seeds(argv[3])) {
    std::perror("make_seeds");
    return 1;
  }
#endif
  return 0;
}
