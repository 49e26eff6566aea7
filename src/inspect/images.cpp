// SPDX-License-Identifier: MIT
// The catalogue's walk and reader, turned to the inspector's images.
#include "images.h"

#include <array>

#include "reader.h"
#include "walk.h"

namespace inspect {
namespace {

class Sink final : public catalogue::ImageSink {
 public:
  Sink(ImageVisitor& visitor, const Message& message) : visitor_(visitor), message_(message) {}

  void start(const std::string& source) { source_ = &source; }

  void begin(std::string_view member) override {
    path_ = *source_;
    if (!member.empty()) {
      path_ += '!';
      path_ += member;
    }
    visitor_.begin(path_);
  }
  bool piece(std::span<const std::uint8_t> pulses) override {
    visitor_.piece(pulses);
    return true;
  }
  void end(std::string_view error) override {
    visitor_.end(error);
    if (!error.empty()) {
      message_(path_, error, true);
    }
  }
  void fail(std::string_view error) override { message_(*source_, error, true); }

 private:
  ImageVisitor& visitor_;
  const Message& message_;
  const std::string* source_ = nullptr;
  std::string path_;
};

}  // namespace

void read_images(const std::vector<std::string>& paths, ImageVisitor& visitor,
                 const Message& message) {
  const std::vector<catalogue::Source> sources = catalogue::find_sources(paths, false, message);
  static std::array<std::uint8_t, catalogue::kPieceSize> buffer;  // one, for the run
  Sink sink(visitor, message);
  for (const catalogue::Source& source : sources) {
    sink.start(source.path);
    catalogue::read_source(source, sink, buffer);
  }
}

}  // namespace inspect
