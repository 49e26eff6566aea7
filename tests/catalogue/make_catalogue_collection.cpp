// SPDX-License-Identifier: MIT
// Writes the small collection that the catalogue's end-to-end cases read on
// every platform: make_catalogue_collection DIR writes DIR/plain.tap,
// DIR/UP.TAP, DIR/sub/g.tap.gz, DIR/z.zip, DIR/x.tap.xz and DIR/nest.zip (a
// zip holding a gzipped image and a tar.gz holding a zip); the last three are
// empty files where this build has no libarchive: a build without it never
// opens them. And two lists of plain.tap and UP.TAP as Windows tools write
// them: DIR/bom.lst (UTF-8 with a byte-order mark) and DIR/utf16.lst
// (UTF-16LE with its mark, CRLF).
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

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
  // The paths as the cases give them, from DIR's parent.
  std::vector<std::uint8_t> bom_list = {0xEF, 0xBB, 0xBF};
  std::vector<std::uint8_t> utf16_list = {0xFF, 0xFE};
  for (const char c : std::string_view("catalogue/plain.tap\r\ncatalogue/UP.TAP\r\n")) {
    bom_list.push_back(static_cast<std::uint8_t>(c));
    utf16_list.insert(utf16_list.end(), {static_cast<std::uint8_t>(c), 0});
  }
  const auto xz = tapes::pack_bytes(tapes::Packing::Xz, {{"", TapeBuilder().header("XZ").take()}});
  const auto nested = tapes::zip_bytes(
      {{"g.TAP.GZ", tapes::gzip_bytes(TapeBuilder().header("GZ IN ZIP").take())},
       {"t.tar.gz", tapes::pack_bytes(tapes::Packing::TarGz, {{"z.zip", zipped}})}});
  const bool written =
      tapes::write_tape_file((dir / "plain.tap").string().c_str(), plain) &&
      tapes::write_tape_file((dir / "UP.TAP").string().c_str(), upper) &&
      tapes::write_tape_file((dir / "sub" / "g.tap.gz").string().c_str(), gzipped) &&
      tapes::write_tape_file((dir / "z.zip").string().c_str(), zipped) &&
      tapes::write_tape_file((dir / "bom.lst").string().c_str(), bom_list) &&
      tapes::write_tape_file((dir / "utf16.lst").string().c_str(), utf16_list) &&
      tapes::write_tape_file((dir / "x.tap.xz").string().c_str(), xz) &&
      tapes::write_tape_file((dir / "nest.zip").string().c_str(), nested);
  if (!written) {
    std::perror("make_catalogue_collection");
    return 1;
  }
  return 0;
}
