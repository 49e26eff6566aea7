// SPDX-License-Identifier: MIT
// The reader: streams the images of one source (a plain image, a compressed
// image, or the images in an archive and in the archives inside it) to a sink
// in pieces, through one buffer the caller owns, never holding an image whole
// and never writing to disk. Every failure is handed to the sink with its reason, and the run goes
// on with the next image or source.
#pragma once

#include <array>
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

// A worker's buffer. It starts on a page: the system copies into such a
// buffer about three times as fast as into one that starts past a page.
struct alignas(4096) PieceBuffer {
  std::array<std::uint8_t, kPieceSize> bytes;
};

class ImageSink {
 public:
  ImageSink() = default;
  ImageSink(const ImageSink&) = delete;
  ImageSink& operator=(const ImageSink&) = delete;
  ImageSink(ImageSink&&) = delete;
  ImageSink& operator=(ImageSink&&) = delete;
  virtual ~ImageSink() = default;

  // An image begins. `members` is the chain of member names that leads to it
  // from the source, outermost first ("inner.zip", "x.tap" for the path
  // "outer.zip!inner.zip!x.tap"), each as its archive stores it; empty for
  // the source itself.
  virtual void begin(std::span<const std::string> members) = 0;
  // The next pulses of the image. False stops the reading of the source.
  virtual bool piece(std::span<const std::uint8_t> pulses) = 0;
  // The image has ended: read to its end when `error` is empty, else cut
  // short for that reason (the pieces before it stand).
  virtual void end(std::string_view error) = 0;
  // The source, or the archive that `members` leads to inside it, failed
  // outside any image: it cannot be opened, or it is damaged between members.
  virtual void fail(std::span<const std::string> members, std::string_view error) = 0;
  // The next member's own modification time, in nanoseconds since 1970,
  // told before its begin() when its archive keeps one.
  virtual void member_time(std::int64_t /*nanoseconds*/) {}
};

// The path printed for a member: the source's path and the chain of member
// names, joined with "!".
std::string member_path(std::string_view source, std::span<const std::string> members);

// Reads `source` into `sink` through `buffer` (kPieceSize bytes); standard
// input as read_stream reads it.
void read_source(const Source& source, ImageSink& sink, std::span<std::uint8_t> buffer);

// Reads an open stream (standard input) whatever it holds, told by its first
// bytes: an archive, a gzipped, bzip2, xz or zstd image, or else a plain image.
void read_stream(std::FILE* file, ImageSink& sink, std::span<std::uint8_t> buffer);

// Reads an open gzipped image, as read_source does a .tap.gz (for the fuzz target).
void read_gzip(std::FILE* file, ImageSink& sink, std::span<std::uint8_t> buffer);

}  // namespace catalogue
