// SPDX-License-Identifier: MIT
// Writes the small collection that the catalogue's end-to-end cases read on
// every platform: make_catalogue_collection DIR writes DIR/plain.tap,
// DIR/UP.TAP, DIR/sub/g.tap.gz, DIR/z.zip, DIR/x.tap.xz and DIR/nest.zip (a
// zip holding a gzipped image and a tar.gz holding a zip); the last three are
// empty files where this build has no libarchive: a build without it never
// opens them.
#include <cstdio>
#include <filesystem>
#include <string>

#include "archive_writer.h"
#include "tape_builder.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: make_catalogue_collection DIR\n", stderr);
    return 2;
  }
  using tapes::TapeBuilder;
  const std::filesystem::path dir = argv[1];
  std::error_code error;
  std::filesystem::create_directories(dir / "sub", error);
  const auto plain = TapeBuilder().header("FIRST").data_block(50, 1).header("SECOND", 2).take();
  const auto upper = TapeBuilder().slow_pulses(100, 2).header("UPPER").take();
  const auto gzipped = tapes::gzip_bytes(TapeBuilder().header("PACKED").take());
  const auto zipped = tapes::zip_bytes({{"in/M.tap", TapeBuilder().header("MEMBER").take()}});
  const auto xz = tapes::pack_bytes(tapes::Packing::Xz, {{"", TapeBuilder().header("XZ").take()}});
  const auto nested = tapes::zip_bytes(
      {{"g.TAP.GZ", tapes::gzip_bytes(TapeBuilder().header("GZ IN ZIP").take())},
       {"t.tar.gz", tapes::pack_bytes(tapes::Packing::TarGz, {{"z.zip", zipped}})}});
  const bool written =
      tapes::write_tape_file((dir / "plain.tap").string().c_str(), plain) &&
      tapes::write_tape_file((dir / "UP.TAP").string().c_str(), upper) &&
      tapes::write_tape_file((dir / "sub" / "g.tap.gz").string().c_str(), gzipped) &&
      tapes::write_tape_file((dir / "z.zip").string().c_str(), zipped) &&
      tapes::write_tape_file((dir / "x.tap.xz").string().c_str(), xz) &&
      tapes::write_tape_file((dir / "nest.zip").string().c_str(), nested);
  if (!written) {
    std::perror("make_catalogue_collection");
    return 1;
  }
  return 0;
}
