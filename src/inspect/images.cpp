// SPDX-License-Identifier: MIT
// The catalogue's walk and reader, turned to the inspector's images.
#include "images.h"

#include <span>
#include <string>

#include "reader.h"
#include "walk.h"

namespace inspect {
namespace {

class Sink final : public catalogue::ImageSink {
 public:
  Sink(ImageVisitor& visitor, const Message& message) : visitor_(visitor), message_(message) {}

  void start(const std::string& source) { source_ = &source; }

  void begin(std::span<const std::string> members) override {
    path_ = catalogue::member_path(*source_, members);
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
  void fail(std::span<const std::string> members, std::string_view error) override {
    message_(catalogue::member_path(*source_, members), error, true);
  }

 private:
  ImageVisitor& visitor_;
  const Message& message_;
  const std::string* source_ = nullptr;
  std::string path_;
};

}  // namespace

void read_images(const std::vector<std::string>& paths, ImageVisitor& visitor,
                 const Message& message) {
  const std::vector<catalogue::Source> sources = catalogue::find_sources(paths, {}, message);
  static catalogue::PieceBuffer
      buffer;  // one, for the run: page-aligned, as the kernel copies fastest
  Sink sink(visitor, message);
  for (const catalogue::Source& source : sources) {
    sink.start(source.path);
    catalogue::read_source(source, sink, buffer.bytes);
  }
}

}  // namespace inspect
