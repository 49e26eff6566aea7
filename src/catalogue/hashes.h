// SPDX-License-Identifier: MIT
// The hashes of an image's bytes, taken in the pieces it is read in:
// XXH3-128 always (libxxhash), and when asked the ones that reference lists
// use: CRC-32 (zlib), MD5 and SHA-1 (libcrypto). All in lower-case hex, as
// xxhsum -H2, crc32, md5sum and sha1sum print them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace catalogue {

// The hashes asked for besides XXH3-128 (--hashes crc32,md5,sha1).
struct HashChoice {
  bool crc32 = false;
  bool md5 = false;
  bool sha1 = false;

  // True when every hash `other` asks for is asked here too.
  [[nodiscard]] bool covers(const HashChoice& other) const {
    return (crc32 || !other.crc32) && (md5 || !other.md5) && (sha1 || !other.sha1);
  }
};

struct HashValues {
  std::string xxh128;
  std::optional<std::string> crc32;
  std::optional<std::string> md5;
  std::optional<std::string> sha1;
};

// One image at a time: start(), add() for each piece, take(). Made once per
// worker; its state lives as long as it does.
class Hasher {
 public:
  Hasher();
  Hasher(const Hasher&) = delete;
  Hasher& operator=(const Hasher&) = delete;
  Hasher(Hasher&&) = delete;
  Hasher& operator=(Hasher&&) = delete;
  ~Hasher();

  void start(const HashChoice& choice);
  void add(std::span<const std::uint8_t> bytes);
  // The values of the bytes added since start().
  HashValues take();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace catalogue
