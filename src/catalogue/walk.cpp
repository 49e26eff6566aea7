// SPDX-License-Identifier: MIT
// The walk over folders, with std::filesystem so that one code serves every
// system; each folder's entries are taken in name order so that messages
// come in the same order from run to run.
#include "walk.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "platform.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace catalogue {
namespace fs = std::filesystem;
namespace {

constexpr std::array<std::string_view, 20> kArchiveSuffixes = {
    ".zip",      ".7z",      ".rar", ".tar",    ".tgz",  ".tar.gz",  ".tbz",
    ".tbz2",     ".tar.bz2", ".txz", ".tar.xz", ".tzst", ".tar.zst", ".tar.lz",
    ".tar.lzma", ".cpio",    ".iso", ".lha",    ".lzh",  ".cab"};

bool is_archive_name(std::string_view name) {
  return std::any_of(kArchiveSuffixes.begin(), kArchiveSuffixes.end(),
                     [name](std::string_view suffix) { return ends_with_any_case(name, suffix); });
}

std::string_view type_name(fs::file_type type) {
  switch (type) {
    case fs::file_type::fifo:
      return "a FIFO";
    case fs::file_type::socket:
      return "a socket";
    case fs::file_type::block:
    case fs::file_type::character:
      return "a device";
    default:
      return "not a regular file";
  }
}

class Walker {
 public:
  Walker(bool follow, const WalkMessage& message) : follow_(follow), message_(message) {}

  void argument(const std::string& argument) {
    const fs::path file = argument.empty() ? fs::path(".") : from_printable(argument);
    const std::string shown = argument.empty() ? "." : argument;
    std::error_code error;
    const fs::file_status status = fs::status(file, error);  // a link is followed
    if (error) {
      message_(shown, error.message(), true);
      return;
    }
    if (fs::is_directory(status)) {
      chain_.clear();
      if (follow_) {
        chain_.push_back(fs::canonical(file, error));
      }
      folder(file, argument);
      return;
    }
    SourceKind kind = SourceKind::Plain;
    if (!image_kind(argument, kind) && ends_with_any_case(argument, ".gz")) {
      kind = SourceKind::Gzip;
    }
    add(argument, kind, fs::is_regular_file(status) ? fs::file_size(file, error) : 0);
  }

  std::vector<Source> take() {
    std::sort(sources_.begin(), sources_.end(),
              [](const Source& a, const Source& b) { return a.path < b.path; });
    sources_.erase(std::unique(sources_.begin(), sources_.end(),
                               [](const Source& a, const Source& b) { return a.path == b.path; }),
                   sources_.end());
    return std::move(sources_);
  }

 private:
  void add(std::string path, SourceKind kind, std::uint64_t size) {
    sources_.push_back({std::move(path), kind, size});
  }

  // `shown` is the folder as printed, empty for the current folder.
  void folder(const fs::path& file, const std::string& shown) {
    std::error_code error;
    std::vector<fs::directory_entry> entries;
    fs::directory_iterator it(file, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
      entries.push_back(*it);
    }
    if (error) {
      message_(shown.empty() ? "." : shown, "cannot read folder: " + error.message(), true);
    }
    std::sort(entries.begin(), entries.end(),
              [](const fs::directory_entry& a, const fs::directory_entry& b) {
                return a.path().filename().native() < b.path().filename().native();
              });
    for (const fs::directory_entry& found : entries) {
      const std::string name = printable(found.path().filename());
      const std::string path = shown.empty() ? name : printable(found.path());
      entry(found, path, name);
    }
  }

  void entry(const fs::directory_entry& entry, const std::string& path, std::string_view name) {
    std::error_code error;
    fs::file_status status = entry.symlink_status(error);
    SourceKind kind = SourceKind::Plain;
    const bool image = image_kind(name, kind);
    bool link = false;
    if (!error && fs::is_symlink(status)) {
      if (!follow_) {
        return;  // not followed: neither read nor walked
      }
      link = true;
      status = entry.status(error);
      if (error) {
        if (image) {
          message_(path, "cannot follow link: " + error.message(), true);
        }
        return;
      }
    }
    if (error) {
      message_(path, error.message(), true);
      return;
    }
    if (fs::is_directory(status)) {
      fs::path canonical;
      if (follow_) {
        canonical =
            link ? fs::canonical(entry.path(), error) : chain_.back() / entry.path().filename();
        if (std::find(chain_.begin(), chain_.end(), canonical) != chain_.end()) {
          message_(path, "link to a folder that contains it, not followed", false);
          return;
        }
        chain_.push_back(canonical);
      }
      folder(entry.path(), path);
      if (follow_) {
        chain_.pop_back();
      }
      return;
    }
    if (!fs::is_regular_file(status)) {
      message_(path, std::string("skipped: ") + std::string(type_name(status.type())), false);
      return;
    }
    if (image) {
      add(path, kind, link ? fs::file_size(entry.path(), error) : entry.file_size(error));
    }
  }

  bool follow_;
  const WalkMessage& message_;
  std::vector<Source> sources_;
  std::vector<fs::path> chain_;  // with `follow_`: the folders being walked, canonical
};

}  // namespace

bool ends_with_any_case(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) {
    return false;
  }
  return std::equal(
      suffix.begin(), suffix.end(), text.end() - static_cast<std::ptrdiff_t>(suffix.size()),
      [](char want, char got) {
        return want == (got >= 'A' && got <= 'Z' ? static_cast<char>(got - 'A' + 'a') : got);
      });
}

bool image_kind(std::string_view name, SourceKind& kind) {
  constexpr std::array<std::string_view, 3> kCompressed = {".tap.bz2", ".tap.xz", ".tap.zst"};
  if (ends_with_any_case(name, ".tap")) {
    kind = SourceKind::Plain;
  } else if (ends_with_any_case(name, ".tap.gz")) {
    kind = SourceKind::Gzip;
  } else if (std::any_of(kCompressed.begin(), kCompressed.end(), [name](std::string_view suffix) {
               return ends_with_any_case(name, suffix);
             })) {
    kind = SourceKind::Compressed;
  } else if (is_archive_name(name)) {
    kind = SourceKind::Archive;
  } else {
    return false;
  }
  return true;
}

std::string printable(const fs::path& path) {
#if defined(_WIN32)
  // As the platform seam converts: an unpaired surrogate, which a Windows
  // name may hold, comes through and goes back unchanged.
  const std::wstring& wide = path.native();
  std::string text(3 * wide.size() + 1, '\0');  // three bytes a unit at most
  text.resize(tapnames::utf16_to_utf8(wide, text));
  return text;
#else
  return path.native();
#endif
}

fs::path from_printable(const std::string& path) {
#if defined(_WIN32)
  std::wstring wide(path.size() + 1, L'\0');  // a unit a byte at most
  wide.resize(tapnames::utf8_to_utf16(path, wide));
  return {wide};
#else
  return fs::path(path);
#endif
}

namespace {

// A list as written by Windows tools too: UTF-8 with or without a byte-order
// mark, or UTF-16 (little- or big-endian) after its mark, made UTF-8 in place.
bool list_as_utf8(std::string& text, std::string& error) {
  const auto starts = [&text](std::string_view mark) { return text.starts_with(mark); };
  if (starts("\xEF\xBB\xBF")) {
    text.erase(0, 3);
    return true;
  }
  const bool little = starts("\xFF\xFE");
  if (!little && !starts("\xFE\xFF")) {
    return true;
  }
  if (text.size() % 2 != 0) {
    error = "the list is UTF-16 but ends in half a character";
    return false;
  }
  std::wstring units;
  units.reserve(text.size() / 2 - 1);
  for (std::size_t at = 2; at < text.size(); at += 2) {
    const auto first = static_cast<unsigned char>(text[at]);
    const auto second = static_cast<unsigned char>(text[at + 1]);
    units += static_cast<wchar_t>(little ? first | (second << 8U) : (first << 8U) | second);
  }
  std::string utf8(3 * units.size() + 1, '\0');  // three bytes a unit at most
  utf8.resize(tapnames::utf16_to_utf8(units, utf8));
  text = std::move(utf8);
  return true;
}

}  // namespace

bool read_path_list(const std::string& name, bool null_separated, std::vector<std::string>& paths,
                    std::string& error) {
  FilePtr owned;
  std::FILE* file = stdin;
  if (name == "-") {
#if defined(_WIN32)
    static_cast<void>(_setmode(_fileno(stdin), _O_BINARY));
#endif
  } else {
    errno = 0;
    owned = open_file(name);
    file = owned.get();
  }
  if (file == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  std::string text;
  std::array<char, 4096> piece{};
  for (std::size_t got = piece.size(); got == piece.size();) {
    got = std::fread(piece.data(), 1, piece.size(), file);
    text.append(piece.data(), got);
  }
  if (std::ferror(file) != 0) {
    error = "cannot read the list";
    return false;
  }
  if (!list_as_utf8(text, error)) {
    return false;
  }
  const char separator = null_separated ? '\0' : '\n';
  for (std::string_view rest = text; !rest.empty();) {
    const std::size_t end = std::min(rest.find(separator), rest.size());
    std::string_view path = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    if (!null_separated && path.ends_with('\r')) {
      path.remove_suffix(1);  // a list written on Windows
    }
    if (!path.empty()) {
      paths.emplace_back(path);
    }
  }
  return true;
}

std::vector<Source> find_sources(const std::vector<std::string>& paths, bool follow,
                                 const WalkMessage& message) {
  Walker walker(follow, message);
  for (const std::string& path : paths) {
    walker.argument(path);
  }
  return walker.take();
}

}  // namespace catalogue
