// SPDX-License-Identifier: MIT
// Archives in a build without libarchive (a MinGW build configured with
// TAPNAMES_MINGW_DEPS=OFF): each archive is named with the reason it was not
// read, and counts as a failure, so that a catalogue that leaves archives out
// never passes for a whole one.
#include "catalogue/archive_reader.h"

namespace catalogue {

namespace {
constexpr std::string_view kNoArchives =
    "this build of tapnames-catalogue reads no archives (plain and gzipped images only)";
}

bool reads_archives() {
  return false;
}

void read_archive(const Source& /*source*/, ImageSink& sink, std::span<std::uint8_t> /*buffer*/) {
  sink.fail(kNoArchives);
}

void read_archive_memory(std::span<const std::uint8_t> /*bytes*/, ImageSink& sink,
                         std::span<std::uint8_t> /*buffer*/) {
  sink.fail(kNoArchives);
}

}  // namespace catalogue
