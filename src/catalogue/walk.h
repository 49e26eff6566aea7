// SPDX-License-Identifier: MIT
// The walk: turns the paths given (and the lists of --files-from) into the
// sorted list of sources to read.
// Folders are walked recursively; what is an image is decided by its name:
//   *.tap                              a plain image
//   *.tap.gz                           a gzipped image
//   *.tap.bz2 *.tap.xz *.tap.zst       an image compressed with bzip2, xz or zstd
//   *.zip *.7z *.rar *.tar *.tgz *.tar.gz *.tbz *.tbz2 *.tar.bz2 *.txz
//   *.tar.xz *.tzst *.tar.zst *.tar.lz *.tar.lzma *.cpio *.iso *.lha *.lzh
//   *.cab                              an archive, whose images and archives are read
// all in any case. A file named on the command line is read whatever its name:
// as an archive or a gzipped image by the rules above or a plain *.gz, else
// as a plain image; "-" is standard input.
// Paths given are followed if they are links; links met while walking are
// not, unless `follow` (and then a link back to a folder being walked is
// reported once and not walked, and a link into /proc or /sys is not
// entered). FIFOs, sockets and devices met while walking are skipped with a
// message and never opened.
// No path length limits the walk: on POSIX systems it goes from folder handle
// to folder handle (openat), holding a bounded number of them however deep
// the tree; on Windows it walks the long form ("\\?\C:\...") of each path.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "source.h"

namespace catalogue {

// A message for PATH: a failure (the run's status becomes 1) or a note that
// something was skipped on purpose (counted as skipped).
using WalkMessage =
    std::function<void(std::string_view path, std::string_view reason, bool failure)>;

struct WalkSettings {
  bool follow = false;                // follow links met while walking
  bool one_file_system = false;       // enter no folder on another file system than its path given
  std::optional<unsigned> max_depth;  // enter folders to this depth below a path given, at most
  std::vector<std::string>
      excludes;  // names met while walking that match are neither read nor entered
  const std::atomic<bool>* stop = nullptr;  // when set, the walk ends early
};

// The sources under `paths`, sorted by path bytes, each once. An empty
// string stands for the current folder, whose contents are named without a
// leading "./".
std::vector<Source> find_sources(const std::vector<std::string>& paths,
                                 const WalkSettings& settings, const WalkMessage& message);

// Adds the paths of a list (--files-from): `name` is a file, or "-" for
// standard input; one path a line (a CR before the LF dropped) or, with
// `null_separated`, NUL-separated; empty entries skipped. The list is UTF-8,
// with or without a byte-order mark, or UTF-16 (LE or BE) with its mark, as
// Windows tools write them. False, with the reason in `error`, if the list
// cannot be read.
bool read_path_list(const std::string& name, bool null_separated, std::vector<std::string>& paths,
                    std::string& error);

// Whether `text` ends in `suffix` (lower case), its ASCII letters in any case.
bool ends_with_any_case(std::string_view text, std::string_view suffix);

// What a name met while walking (or a member's name in an archive) is; false
// if it is not an image.
bool image_kind(std::string_view name, SourceKind& kind);

// Whether a name matches a pattern of --exclude: "*" any run of characters,
// "?" any one, "[abc]" "[a-z]" "[!a-z]" a set, "\" takes the next character
// as it is; case counts, and a leading dot is matched like any character.
// The walk uses fnmatch on POSIX systems and this on Windows; the tests hold
// them to the same answers.
bool glob_match(std::string_view pattern, std::string_view name);

// A path as printed, and back.
std::string printable(const std::filesystem::path& path);
std::filesystem::path from_printable(const std::string& path);

}  // namespace catalogue
