// SPDX-License-Identifier: MIT
// Packs test images the way collections hold them: gzipped (zlib) and, where
// libarchive is found, compressed with bzip2, xz or zstd and in zip, tar,
// compressed tar, 7z, cpio and ISO archives, all in memory. Used by the
// catalogue's tests, its benchmark collection and the archive fuzz seeds.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tapes {

struct Member {
  std::string name;  // path inside the archive, "/" between folders
  std::vector<std::uint8_t> bytes;
};

std::vector<std::uint8_t> gzip_bytes(std::span<const std::uint8_t> bytes);

// The ways an archive or a single image is packed.
enum class Packing { Zip, Tar, TarGz, TarXz, SevenZip, Cpio, Iso, Bzip2, Xz, Zstd };

// Members packed so (one member's bytes alone for Bzip2, Xz and Zstd, which
// compress one image); empty when this build has no libarchive.
std::vector<std::uint8_t> pack_bytes(Packing packing, const std::vector<Member>& members);
std::vector<std::uint8_t> zip_bytes(const std::vector<Member>& members);
std::vector<std::uint8_t> tar_bytes(const std::vector<Member>& members);

}  // namespace tapes
