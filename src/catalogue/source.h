// SPDX-License-Identifier: MIT
// A source: what the walk finds and the readers read (a plain image, an
// image compressed whole, or an archive), and how a file is opened by the
// path that is printed for it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace catalogue {

enum class SourceKind {
  Plain,          // pulses as they are
  Gzip,           // one image, gzipped (read with zlib)
  Compressed,     // one image, compressed with bzip2, xz or zstd (read with libarchive)
  Archive,        // an archive, whose images (and archives) inside are read
  ByContent,      // any of these, told by its first bytes
  StandardInput,  // standard input, told by its first bytes; the path is only printed
};

struct Source {
  std::string path;  // as printed and opened: bytes on POSIX systems, UTF-8 on Windows
  SourceKind kind = SourceKind::Plain;
  std::uint64_t size = 0;  // bytes on disk, for the progress line; 0 if unknown
};

struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileClose>;

// Opens a file, named as printed, for binary reading as `tapnames` opens its
// images: by the wide API on Windows, in the long form past 260 characters.
FilePtr open_file(const std::string& path);

}  // namespace catalogue
