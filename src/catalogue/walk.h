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
// as a plain image.
// Paths given are followed if they are links; links met while walking are
// not, unless `follow` (and then a link back to a folder being walked is
// reported once and not walked). FIFOs, sockets and devices met while walking
// are skipped with a message and never opened.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "source.h"

namespace catalogue {

// A message for PATH: a failure (the run's status becomes 1) or a note that
// something was skipped on purpose.
using WalkMessage =
    std::function<void(std::string_view path, std::string_view reason, bool failure)>;

// The sources under `paths`, sorted by path bytes, each once. An empty
// string stands for the current folder, whose contents are named without a
// leading "./".
std::vector<Source> find_sources(const std::vector<std::string>& paths, bool follow,
                                 const WalkMessage& message);

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

// A path as printed, and back.
std::string printable(const std::filesystem::path& path);
std::filesystem::path from_printable(const std::string& path);

}  // namespace catalogue
