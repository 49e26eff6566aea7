// SPDX-License-Identifier: MIT
// The reader: streams the images of one source (a plain image, a gzipped
// image, or the *.tap members of an archive) to a sink in pieces, through one
// buffer the caller owns, never holding an image whole and never writing to
// disk. Every failure is handed to the sink with its reason, and the run goes
// on with the next image or source.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "scanner.h"
#include "source.h"

namespace catalogue {

// Pieces handed to the sink are at most this large: one buffer a worker keeps,
// of the size the scan core is fed in.
inline constexpr std::size_t kPieceSize = tapnames::kReadSize;

class ImageSink {
 public:
  ImageSink() = default;
  ImageSink(const ImageSink&) = delete;
  ImageSink& operator=(const ImageSink&) = delete;
  ImageSink(ImageSink&&) = delete;
  ImageSink& operator=(ImageSink&&) = delete;
  virtual ~ImageSink() = default;

  // An image begins: `member` is its path inside an archive, or empty for
  // the source itself.
  virtual void begin(std::string_view member) = 0;
  // The next pulses of the image. False stops the reading of the source.
  virtual bool piece(std::span<const std::uint8_t> pulses) = 0;
  // The image has ended: read to its end when `error` is empty, else cut
  // short for that reason (the pieces before it stand).
  virtual void end(std::string_view error) = 0;
  // The source failed outside any image: it cannot be opened, or an archive
  // is damaged between members.
  virtual void fail(std::string_view error) = 0;
  // The next member's own modification time, in nanoseconds since 1970,
  // told before its begin() when its archive keeps one.
  virtual void member_time(std::int64_t /*nanoseconds*/) {}
};

// Reads `source` into `sink` through `buffer` (kPieceSize bytes).
void read_source(const Source& source, ImageSink& sink, std::span<std::uint8_t> buffer);

// Reads an open gzipped image, as read_source does a .tap.gz (for the fuzz target).
void read_gzip(std::FILE* file, ImageSink& sink, std::span<std::uint8_t> buffer);

}  // namespace catalogue
