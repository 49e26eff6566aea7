// SPDX-License-Identifier: MIT
// Archives in a build without libarchive (the Windows build): each archive,
// and each image compressed with other than gzip, is named with the reason it
// was not read and counts as a failure, so that a catalogue that leaves them
// out never passes for a whole one. Standard input is told gzipped or plain.
#include <algorithm>
#include <array>

#include "archive_reader.h"

namespace catalogue {

namespace {
constexpr std::string_view kNoArchives =
    "this build of tapnames-catalogue reads no archives (plain and gzipped images only)";
constexpr std::string_view kNoCompression =
    "this build of tapnames-catalogue reads no bzip2, xz or zstd data (plain and gzipped images "
    "only)";
constexpr std::array<std::uint8_t, 2> kGzipMagic = {0x1F, 0x8B};
}  // namespace

bool reads_archives() {
  return false;
}

void read_archive(const Source& /*source*/, ImageSink& sink, std::span<std::uint8_t> /*buffer*/) {
  sink.fail({}, kNoArchives);
}

void read_archive_memory(std::span<const std::uint8_t> /*bytes*/, ImageSink& sink,
                         std::span<std::uint8_t> /*buffer*/) {
  sink.fail({}, kNoArchives);
}

Flow read_packed(ByteSource& /*input*/, SourceKind kind, Chain& chain, ImageSink& sink,
                 std::span<std::uint8_t> /*buffer*/, int /*depth*/, Expansion& /*expansion*/) {
  sink.fail(chain, kind == SourceKind::Archive ? kNoArchives : kNoCompression);
  return Flow::Go;
}

SourceKind kind_by_content(std::span<const std::uint8_t> prefix) {
  return prefix.size() >= kGzipMagic.size() &&
                 std::equal(kGzipMagic.begin(), kGzipMagic.end(), prefix.begin())
             ? SourceKind::Gzip
             : SourceKind::Plain;
}

}  // namespace catalogue
