// SPDX-License-Identifier: MIT
// Plain images read in large pieces; gzipped images inflated as a stream
// with zlib (members one after another, as gzip writes them when files are
// joined), so that a truncated or damaged file is told apart from a whole
// one; archives handed to the archive reader.
#include "reader.h"

#include <zlib.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "archive_reader.h"
#include "platform.h"

namespace catalogue {
namespace {

std::string system_reason(int error) {
  return error != 0 ? std::string(std::strerror(error)) : std::string("read error");
}

// Reads into `buffer`; the count read, with `error` set on a failure.
std::size_t read_some(std::FILE* file, std::span<std::uint8_t> buffer, int& error) {
  for (;;) {
    errno = 0;
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
    if (got == 0 && std::ferror(file) != 0) {
      if (errno == EINTR) {
        std::clearerr(file);
        continue;
      }
      error = errno == 0 ? EIO : errno;
    }
    return got;
  }
}

void read_plain(std::FILE* file, ImageSink& sink, std::span<std::uint8_t> buffer) {
  sink.begin({});
  for (;;) {
    int error = 0;
    const std::size_t got = read_some(file, buffer, error);
    if (error != 0) {
      sink.end(system_reason(error));
      return;
    }
    if (got == 0) {
      sink.end({});
      return;
    }
    if (!sink.piece(buffer.first(got))) {
      sink.end("reading stopped");
      return;
    }
  }
}

struct InflateEnd {
  void operator()(z_stream* stream) const { inflateEnd(stream); }
};

constexpr int kGzipOnly = 16 + MAX_WBITS;  // a gzip header and trailer, any window

// The compressed side reads in pieces of this size.
constexpr std::size_t kInputSize = std::size_t{64} << 10U;

}  // namespace

void read_gzip(std::FILE* file, ImageSink& sink, std::span<std::uint8_t> buffer) {
  z_stream stream{};
  if (inflateInit2(&stream, kGzipOnly) != Z_OK) {
    sink.fail({}, "out of memory");
    return;
  }
  const std::unique_ptr<z_stream, InflateEnd> owner(&stream);
  std::array<std::uint8_t, kInputSize> input{};
  sink.begin({});
  bool in_member = false;   // a member has begun and not yet ended
  bool any_member = false;  // a member has ended: an empty file is not gzip
  bool at_end = false;      // the file has no more bytes
  for (;;) {
    if (stream.avail_in == 0 && !at_end) {
      int error = 0;
      const std::size_t got = read_some(file, input, error);
      if (error != 0) {
        sink.end(system_reason(error));
        return;
      }
      at_end = got == 0;
      stream.next_in = input.data();
      stream.avail_in = static_cast<uInt>(got);
    }
    if (stream.avail_in == 0 && at_end) {
      sink.end(in_member || !any_member ? "truncated gzip data (unexpected end of file)" : "");
      return;
    }
    in_member = true;
    stream.next_out = buffer.data();
    stream.avail_out = static_cast<uInt>(buffer.size());
    const int status = inflate(&stream, Z_NO_FLUSH);
    const std::size_t made = buffer.size() - stream.avail_out;
    if (made != 0 && !sink.piece(buffer.first(made))) {
      sink.end("reading stopped");
      return;
    }
    if (status == Z_STREAM_END) {
      in_member = false;  // another member may follow
      any_member = true;
      inflateReset(&stream);
    } else if (status == Z_DATA_ERROR || status == Z_NEED_DICT) {
      sink.end(std::string("damaged gzip data: ") +
               (stream.msg != nullptr ? stream.msg : "invalid data"));
      return;
    } else if (status == Z_MEM_ERROR) {
      sink.end("out of memory");
      return;
    }
  }
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
  if (source.kind == SourceKind::Gzip) {
    read_gzip(file.get(), sink, buffer);
  } else {
    read_plain(file.get(), sink, buffer);
  }
}

}  // namespace catalogue
