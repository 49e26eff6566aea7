// SPDX-License-Identifier: MIT
// Fuzz target: arbitrary bytes as an archive (zip, 7z, tar, any filter, with
// archives and compressed images inside it, read in place), as a gzipped
// image and as standard input (told by its first bytes), read by the
// catalogue's readers into the scan core.
// Hostile input (bombs, lying sizes, names such as "../x" or "/etc/x") may
// cost time, bounded here by a budget of pulses per input, but never memory
// or a crash; the sink checks that the readers keep their contract: every
// image begun is ended once, pieces come only inside an image, never empty
// and never larger than the buffer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "archive_reader.h"
#include "name_render.h"
#include "reader.h"
#include "scanner.h"

namespace {

void require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

// Decompressed pulses read per input at most: a bomb stops here.
constexpr std::uint64_t kBudget = std::uint64_t{32} << 20U;

class CheckingSink final : public catalogue::ImageSink {
 public:
  explicit CheckingSink(tapnames::Scanner& scanner) : scanner_(scanner) {}

  void begin(std::span<const std::string> /*members*/) override {
    require(!in_image_);
    in_image_ = true;
    scanner_.reset(tapnames::ScanMode::AllNames);
  }
  bool piece(std::span<const std::uint8_t> pulses) override {
    require(in_image_ && !pulses.empty() && pulses.size() <= catalogue::kPieceSize);
    scanner_.scan(pulses, check);
    read_ += pulses.size();
    return read_ < kBudget;
  }
  void end(std::string_view error) override {
    require(in_image_);
    in_image_ = false;
    if (error.empty()) {
      scanner_.finish(check);
    }
  }
  void fail(std::span<const std::string> /*members*/, std::string_view error) override {
    require(!in_image_ && !error.empty());
  }
  [[nodiscard]] bool in_image() const { return in_image_; }

 private:
  static void check(const tapnames::NameResult& result) {
    std::array<char, tapnames::kMaxRenderedName> name{};
    require(result.block_type == 1 || result.block_type == 2);
    require(tapnames::render_name(result.name, true, name) <= name.size());
  }

  tapnames::Scanner& scanner_;
  bool in_image_ = false;
  std::uint64_t read_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto scanner = std::make_unique<tapnames::Scanner>();
  static std::vector<std::uint8_t> buffer(catalogue::kPieceSize);
  const std::span<const std::uint8_t> input(data, size);
  {
    CheckingSink sink(*scanner);
    catalogue::read_archive_memory(input, sink, buffer);
    require(!sink.in_image());
  }
  if (size != 0) {  // fmemopen rejects an empty buffer
    for (const auto read : {catalogue::read_gzip, catalogue::read_stream}) {
      std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");  // NOLINT
      require(file != nullptr);
      CheckingSink sink(*scanner);
      read(file, sink, buffer);
      require(!sink.in_image());
      std::fclose(file);
    }
  }
  return 0;
}
