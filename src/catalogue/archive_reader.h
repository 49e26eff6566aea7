// SPDX-License-Identifier: MIT
// What the readers share: the bytes they read from (a file, standard input,
// or a member of an archive being read, so that an archive or a compressed
// image inside an archive is read in place as a stream, never written out),
// and the readers of archives and compressed images. Two builds of the
// archive side: with libarchive (zip, 7z, tar, cpio, ISO and every other
// format and filter it reads) and, where there is no libarchive (the Windows
// build), one that says per archive that this build reads none.
//
// An archive's members are read by name: *.tap (in any case, in any folder
// of the archive) as images, *.tap.gz, *.tap.bz2, *.tap.xz, *.tap.zst as
// compressed images, and archives by the walk's names, to a depth of
// kMaxArchiveDepth archives (the outermost one counted).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "reader.h"

namespace catalogue {

inline constexpr int kMaxArchiveDepth = 8;

// What the archives and compressed images inside a source's archives may
// expand to, all together, read as streams: kExpansionFloor and
// kExpansionRatio times the source's size (on disk, or read so far from a
// stream). A collection's archives come nowhere near it, whatever their size;
// a bomb of archives packed inside archives stops there, named.
inline constexpr std::uint64_t kExpansionFloor = std::uint64_t{64} << 20U;
inline constexpr std::uint64_t kExpansionRatio = 1024;

struct Expansion {
  std::uint64_t outer = 0;  // the source's bytes
  std::uint64_t inner = 0;  // bytes read out of members as streams
  [[nodiscard]] bool exceeded() const { return inner > kExpansionFloor + kExpansionRatio * outer; }
};

// Whether reading goes on, or the sink asked that it stop.
enum class Flow { Go, Stop };

// The chain of member names to what is being read, outermost first.
using Chain = std::vector<std::string>;

class ByteSource {
 public:
  ByteSource() = default;
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;
  ByteSource(ByteSource&&) = delete;
  ByteSource& operator=(ByteSource&&) = delete;
  virtual ~ByteSource() = default;

  // Reads the next bytes into `into`, at most its size; 0 only when the
  // input has ended or failed, and then failure() tells which.
  virtual std::size_t read(std::span<std::uint8_t> into) = 0;
  // Why the input failed; empty if it did not.
  [[nodiscard]] const std::string& failure() const { return failure_; }

 protected:
  void set_failure(std::string reason) { failure_ = std::move(reason); }

 private:
  std::string failure_;
};

// One image each, begun with `chain`.
Flow read_plain(ByteSource& input, const Chain& chain, ImageSink& sink,
                std::span<std::uint8_t> buffer);
Flow read_gzip(ByteSource& input, const Chain& chain, ImageSink& sink,
               std::span<std::uint8_t> buffer);

// True when this build reads archives.
bool reads_archives();

// An archive file, read with its index where the format has one (a zip's
// central directory), so that the members after a damaged one are read.
void read_archive(const Source& source, ImageSink& sink, std::span<std::uint8_t> buffer);

// An archive held in memory, for the fuzz target.
void read_archive_memory(std::span<const std::uint8_t> bytes, ImageSink& sink,
                         std::span<std::uint8_t> buffer);

// A stream of `kind` Compressed (one image, begun with `chain`) or Archive
// (its members, their chains `chain` and theirs; `depth` archives deep with
// this one) read in one pass; `expansion` is the source's.
Flow read_packed(ByteSource& input, SourceKind kind, Chain& chain, ImageSink& sink,
                 std::span<std::uint8_t> buffer, int depth, Expansion& expansion);

// What a stream holds, told by its first bytes: an archive (compressed or
// not), a gzipped or otherwise compressed image, or else a plain image.
SourceKind kind_by_content(std::span<const std::uint8_t> prefix);

}  // namespace catalogue
