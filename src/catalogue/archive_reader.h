// SPDX-License-Identifier: MIT
// Reading archives: hands each member whose name ends in ".tap" (in any case,
// in any folder of the archive) to the sink, read in place. Two builds of it:
// with libarchive (zip, 7z, tar and every other format and filter it reads)
// and, where there is no libarchive (a MinGW build without its libraries),
// one that says per archive that this build reads none.
#pragma once

#include <cstdint>
#include <span>

#include "catalogue/reader.h"

namespace catalogue {

// True when this build reads archives.
bool reads_archives();

void read_archive(const Source& source, ImageSink& sink, std::span<std::uint8_t> buffer);

// An archive held in memory, for the fuzz target.
void read_archive_memory(std::span<const std::uint8_t> bytes, ImageSink& sink,
                         std::span<std::uint8_t> buffer);

}  // namespace catalogue
