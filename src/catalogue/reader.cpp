// SPDX-License-Identifier: MIT
// Plain images read in large pieces through the platform's read loop;
// gzipped images inflated as a stream with zlib (members one after another,
// as gzip writes them when files are joined, and zero bytes after the last
// one, which gzip accepts as padding), so that a truncated or damaged file is
// told apart from a whole one; archives and other compressed images handed
// to the archive reader. Standard input is told by its first bytes.
#include "reader.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "archive_reader.h"
#include "platform.h"
#include "read_loop.h"

namespace catalogue {
namespace {

std::string system_reason(int error) {
  std::array<char, tapnames::kErrorTextSize> storage{};
  return std::string(error != 0 ? tapnames::error_text(error, storage) : "read error");
}

// A file or standard input, read through the platform's read loop; the
// bytes read are added to `counted`, if given.
class FileSource final : public ByteSource {
 public:
  explicit FileSource(std::FILE* file, std::uint64_t* counted = nullptr)
      : file_(file), counted_(counted) {}

  std::size_t read(std::span<std::uint8_t> into) override {
    if (ended_) {
      return 0;  // a terminal is not asked again after its end
    }
    const tapnames::ReadResult got = tapnames::read_full(file_, into);
    if (counted_ != nullptr) {
      *counted_ += got.count;
    }
    if (got.error != 0) {
      set_failure(system_reason(got.error));
    }
    ended_ = got.error != 0 || got.count < into.size();
    return got.count;
  }

 private:
  std::FILE* file_;
  std::uint64_t* counted_;
  bool ended_ = false;
};

// The first bytes of a stream, read already to tell what it holds, and then
// the rest of it.
class PrefixedSource final : public ByteSource {
 public:
  PrefixedSource(std::span<const std::uint8_t> prefix, ByteSource& rest)
      : prefix_(prefix), rest_(rest) {}

  std::size_t read(std::span<std::uint8_t> into) override {
    if (!prefix_.empty()) {
      const std::size_t count = std::min(into.size(), prefix_.size());
      std::copy_n(prefix_.begin(), count, into.begin());
      prefix_ = prefix_.subspan(count);
      return count;
    }
    const std::size_t count = rest_.read(into);
    if (count == 0) {
      set_failure(rest_.failure());
    }
    return count;
  }

 private:
  std::span<const std::uint8_t> prefix_;
  ByteSource& rest_;
};

// Enough of a stream to tell every kind, an ISO image's descriptor included.
constexpr std::size_t kProbeSize = std::size_t{64} << 10U;

struct InflateEnd {
  void operator()(z_stream* stream) const { inflateEnd(stream); }
};

constexpr int kGzipOnly = 16 + MAX_WBITS;  // a gzip header and trailer, any window

// The compressed side reads in pieces of this size, into a buffer that
// starts on a page, as a worker's does.
constexpr std::size_t kInputSize = std::size_t{64} << 10U;
constexpr std::size_t kPageSize = alignof(PieceBuffer);

Flow read_kind(ByteSource& input, SourceKind kind, ImageSink& sink, std::span<std::uint8_t> buffer,
               Expansion& expansion) {
  Chain chain;
  switch (kind) {
    case SourceKind::Plain:
      return read_plain(input, chain, sink, buffer);
    case SourceKind::Gzip:
      return read_gzip(input, chain, sink, buffer);
    case SourceKind::ByContent:
    case SourceKind::StandardInput: {
      const auto bytes = std::make_unique_for_overwrite<std::uint8_t[]>(kProbeSize);  // NOLINT
      const std::span<const std::uint8_t> prefix(bytes.get(),
                                                 input.read({bytes.get(), kProbeSize}));
      PrefixedSource whole(prefix, input);
      return read_kind(whole, kind_by_content(prefix), sink, buffer, expansion);
    }
    case SourceKind::Compressed:
    case SourceKind::Archive:
      break;
  }
  return read_packed(input, kind, chain, sink, buffer, 1, expansion);
}

}  // namespace

Flow read_plain(ByteSource& input, const Chain& chain, ImageSink& sink,
                std::span<std::uint8_t> buffer) {
  sink.begin(chain);
  for (;;) {
    const std::size_t got = input.read(buffer);
    if (got == 0) {
      sink.end(input.failure());
      return Flow::Go;
    }
    if (!sink.piece(buffer.first(got))) {
      sink.end("reading stopped");
      return Flow::Stop;
    }
  }
}

Flow read_gzip(ByteSource& input, const Chain& chain, ImageSink& sink,
               std::span<std::uint8_t> buffer) {
  z_stream stream{};
  if (inflateInit2(&stream, kGzipOnly) != Z_OK) {
    sink.fail(chain, "out of memory");
    return Flow::Go;
  }
  const std::unique_ptr<z_stream, InflateEnd> owner(&stream);
  alignas(kPageSize) std::array<std::uint8_t, kInputSize> bytes;  // NOLINT: filled by each read
  sink.begin(chain);
  bool in_member = false;   // a member has begun and not yet ended
  bool any_member = false;  // a member has ended: an empty file is not gzip
  bool at_end = false;      // the input has no more bytes
  bool padding = false;     // zero bytes after the last member
  for (;;) {
    if (stream.avail_in == 0 && !at_end) {
      const std::size_t got = input.read(bytes);
      if (got == 0 && !input.failure().empty()) {
        sink.end(input.failure());
        return Flow::Go;
      }
      at_end = got == 0;
      stream.next_in = bytes.data();
      stream.avail_in = static_cast<uInt>(got);
    }
    if (stream.avail_in == 0 && at_end) {
      sink.end(in_member || !any_member ? "truncated gzip data (unexpected end of file)" : "");
      return Flow::Go;
    }
    if (any_member && !in_member && (padding || stream.next_in[0] == 0)) {
      padding = true;
      const std::span<const std::uint8_t> rest(stream.next_in, stream.avail_in);
      if (std::any_of(rest.begin(), rest.end(), [](std::uint8_t byte) { return byte != 0; })) {
        sink.end("damaged gzip data: other bytes after the zero padding");
        return Flow::Go;
      }
      stream.avail_in = 0;
      continue;
    }
    in_member = true;
    stream.next_out = buffer.data();
    stream.avail_out = static_cast<uInt>(buffer.size());
    const int status = inflate(&stream, Z_NO_FLUSH);
    const std::size_t made = buffer.size() - stream.avail_out;
    if (made != 0 && !sink.piece(buffer.first(made))) {
      sink.end("reading stopped");
      return Flow::Stop;
    }
    if (status == Z_STREAM_END) {
      in_member = false;  // another member, or padding, may follow
      any_member = true;
      inflateReset(&stream);
    } else if (status == Z_DATA_ERROR || status == Z_NEED_DICT) {
      sink.end(std::string("damaged gzip data: ") +
               (stream.msg != nullptr ? stream.msg : "invalid data"));
      return Flow::Go;
    } else if (status == Z_MEM_ERROR) {
      sink.end("out of memory");
      return Flow::Go;
    }
  }
}

void read_gzip(std::FILE* file, ImageSink& sink, std::span<std::uint8_t> buffer) {
  FileSource input(file);
  read_gzip(input, {}, sink, buffer);
}

void read_stream(std::FILE* file, ImageSink& sink, std::span<std::uint8_t> buffer) {
  Expansion expansion;
  FileSource input(file, &expansion.outer);
  read_kind(input, SourceKind::ByContent, sink, buffer, expansion);
}

std::string member_path(std::string_view source, std::span<const std::string> members) {
  std::string path(source);
  for (const std::string& member : members) {
    path += '!';
    path += member;
  }
  return path;
}

FilePtr open_file(const std::string& path) {
  return FilePtr(tapnames::open_binary(path.c_str()));
}

void read_source(const Source& source, ImageSink& sink, std::span<std::uint8_t> buffer) {
  if (source.kind == SourceKind::StandardInput) {
#if defined(_WIN32)
    static_cast<void>(_setmode(_fileno(stdin), _O_BINARY));
#endif
    read_stream(stdin, sink, buffer);
    return;
  }
  if (source.kind == SourceKind::Archive) {
    read_archive(source, sink, buffer);
    return;
  }
  errno = 0;
  const FilePtr file = open_file(source.path);
  if (!file) {
    sink.fail({}, system_reason(errno));
    return;
  }
  Expansion expansion;
  FileSource input(file.get(), &expansion.outer);
  read_kind(input, source.kind, sink, buffer, expansion);
}

}  // namespace catalogue
