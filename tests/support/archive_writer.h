// SPDX-License-Identifier: MIT
// Packs test images the way collections hold them: gzipped (zlib) and, where
// libarchive is found, in zip and tar archives, all in memory. Used by the
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

// Empty when this build has no libarchive.
std::vector<std::uint8_t> zip_bytes(const std::vector<Member>& members);
std::vector<std::uint8_t> tar_bytes(const std::vector<Member>& members);

}  // namespace tapes
