// SPDX-License-Identifier: MIT
// The hashes through their libraries: XXH3-128 with libxxhash's streaming
// state, CRC-32 with zlib, MD5 and SHA-1 with libcrypto's EVP digests.
#include "hashes.h"

#include <openssl/evp.h>
#include <xxhash.h>
#include <zlib.h>

#include <array>
#include <limits>
#include <new>

namespace catalogue {
namespace {

struct XxhFree {
  void operator()(XXH3_state_t* state) const { XXH3_freeState(state); }
};
struct DigestFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestPtr = std::unique_ptr<EVP_MD_CTX, DigestFree>;

std::string hex(std::span<const std::uint8_t> bytes) {
  constexpr std::string_view kHex = "0123456789abcdef";
  std::string text;
  text.reserve(2 * bytes.size());
  for (const std::uint8_t byte : bytes) {
    text += kHex[byte >> 4U];
    text += kHex[byte & 0xFU];
  }
  return text;
}

DigestPtr new_digest() {
  DigestPtr context(EVP_MD_CTX_new());
  if (!context) {
    throw std::bad_alloc();
  }
  return context;
}

void start_digest(EVP_MD_CTX* context, const EVP_MD* type) {
  if (EVP_DigestInit_ex(context, type, nullptr) != 1) {
    throw std::bad_alloc();  // the only way a built-in digest fails to start
  }
}

std::string digest_hex(EVP_MD_CTX* context) {
  std::array<std::uint8_t, EVP_MAX_MD_SIZE> value{};
  unsigned int length = 0;
  EVP_DigestFinal_ex(context, value.data(), &length);
  return hex(std::span(value).first(length));
}

}  // namespace

struct Hasher::State {
  std::unique_ptr<XXH3_state_t, XxhFree> xxh{XXH3_createState()};
  DigestPtr md5 = new_digest();
  DigestPtr sha1 = new_digest();
  HashChoice choice;
  uLong crc = 0;
};

Hasher::Hasher() : state_(std::make_unique<State>()) {
  if (!state_->xxh) {
    throw std::bad_alloc();
  }
}

Hasher::~Hasher() = default;

void Hasher::start(const HashChoice& choice) {
  state_->choice = choice;
  XXH3_128bits_reset(state_->xxh.get());
  state_->crc = crc32(0L, Z_NULL, 0);
  if (choice.md5) {
    start_digest(state_->md5.get(), EVP_md5());
  }
  if (choice.sha1) {
    start_digest(state_->sha1.get(), EVP_sha1());
  }
}

void Hasher::add(std::span<const std::uint8_t> bytes) {
  XXH3_128bits_update(state_->xxh.get(), bytes.data(), bytes.size());
  if (state_->choice.crc32) {
    // zlib takes at most a uInt at once.
    constexpr std::size_t kMost = std::numeric_limits<uInt>::max();
    for (std::span<const std::uint8_t> rest = bytes; !rest.empty();) {
      const std::size_t part = std::min(rest.size(), kMost);
      state_->crc = crc32(state_->crc, rest.data(), static_cast<uInt>(part));
      rest = rest.subspan(part);
    }
  }
  if (state_->choice.md5) {
    EVP_DigestUpdate(state_->md5.get(), bytes.data(), bytes.size());
  }
  if (state_->choice.sha1) {
    EVP_DigestUpdate(state_->sha1.get(), bytes.data(), bytes.size());
  }
}

HashValues Hasher::take() {
  HashValues values;
  XXH128_canonical_t canonical{};
  XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(state_->xxh.get()));
  values.xxh128 = hex(canonical.digest);
  if (state_->choice.crc32) {
    const auto crc = static_cast<std::uint32_t>(state_->crc);
    const std::array<std::uint8_t, 4> bytes = {
        static_cast<std::uint8_t>(crc >> 24U), static_cast<std::uint8_t>(crc >> 16U),
        static_cast<std::uint8_t>(crc >> 8U), static_cast<std::uint8_t>(crc)};
    values.crc32 = hex(bytes);
  }
  if (state_->choice.md5) {
    values.md5 = digest_hex(state_->md5.get());
  }
  if (state_->choice.sha1) {
    values.sha1 = digest_hex(state_->sha1.get());
  }
  return values;
}

}  // namespace catalogue
