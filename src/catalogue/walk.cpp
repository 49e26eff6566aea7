// SPDX-License-Identifier: MIT
// The walk over folders. On POSIX systems it goes from folder handle to
// folder handle (openat, fstatat, fdopendir), so no path length limits it;
// past a depth of kHeldFolders (32) a folder's handle is closed while its
// subfolder is walked and opened again through "..", checked to be the same
// folder, so that a tree however deep holds a bounded number of handles. On
// Windows it walks with std::filesystem in the long form of each path. Each
// folder's entries are taken in name order so that messages come in the same
// order from run to run.
#include "walk.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <system_error>

#include "platform.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>
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

// Thread-safe text for an errno value.
std::string reason_of(int error) {
  return std::generic_category().message(error);
}

constexpr std::string_view kLoop = "link to a folder that contains it, not followed";

// What the two walks share: the sources found, the rules for a file named
// on the command line, the names left out, and how paths are joined.
class Found {
 public:
  Found(const WalkSettings& settings, const WalkMessage& message)
      : settings_(settings), message_(message) {}

  std::vector<Source> take() {
    std::sort(sources_.begin(), sources_.end(),
              [](const Source& a, const Source& b) { return a.path < b.path; });
    sources_.erase(std::unique(sources_.begin(), sources_.end(),
                               [](const Source& a, const Source& b) { return a.path == b.path; }),
                   sources_.end());
    return std::move(sources_);
  }

 protected:
  void add(std::string path, SourceKind kind, std::uint64_t size) {
    sources_.push_back({.path = std::move(path), .kind = kind, .size = size});
  }

  // A file named on the command line: read whatever its name; "-" is
  // standard input.
  void file_argument(const std::string& argument, std::uint64_t size) {
    SourceKind kind = SourceKind::Plain;
    if (argument == "-") {
      kind = SourceKind::StandardInput;
    } else if (!image_kind(argument, kind) && ends_with_any_case(argument, ".gz")) {
      kind = SourceKind::Gzip;
    }
    add(argument, kind, size);
  }

  [[nodiscard]] bool excluded(const std::string& name) const {
    return std::any_of(settings_.excludes.begin(), settings_.excludes.end(),
                       [&name](const std::string& pattern) {
#if defined(_WIN32)
                         return glob_match(pattern, name);
#else
                         return fnmatch(pattern.c_str(), name.c_str(), 0) == 0;
#endif
                       });
  }

  [[nodiscard]] bool stopped() const {
    return settings_.stop != nullptr && settings_.stop->load();
  }

  // Whether a folder `depth` levels below a path given may be entered.
  [[nodiscard]] bool within_depth(unsigned depth) const {
    return !settings_.max_depth || depth < *settings_.max_depth;
  }

  // `folder` as printed ("" for the current folder when no path is given,
  // whose contents are named bare) and a name in it.
  static std::string join(const std::string& folder, std::string_view name) {
    std::string path = folder;
#if defined(_WIN32)
    const bool ends_in_separator = path.ends_with('/') || path.ends_with('\\');
    constexpr char kSeparator = '\\';
#else
    const bool ends_in_separator = path.ends_with('/');
    constexpr char kSeparator = '/';
#endif
    if (!path.empty() && !ends_in_separator) {
      path += kSeparator;
    }
    path += name;
    return path;
  }

  const WalkSettings& settings_;
  const WalkMessage& message_;

 private:
  std::vector<Source> sources_;
};

#if !defined(_WIN32)

std::string_view type_name(mode_t mode) {
  if (S_ISFIFO(mode)) {
    return "a FIFO";
  }
  if (S_ISSOCK(mode)) {
    return "a socket";
  }
  if (S_ISBLK(mode) || S_ISCHR(mode)) {
    return "a device";
  }
  return "not a regular file";
}

struct FolderId {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FolderId&) const = default;
};

FolderId id_of(const struct stat& status) {
  return {status.st_dev, status.st_ino};
}

// Folders whose handles are all held while walking below them; deeper, each
// is closed while its subfolder is walked.
constexpr std::size_t kHeldFolders = 32;
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

class Walker : public Found {
 public:
  Walker(const WalkSettings& settings, const WalkMessage& message) : Found(settings, message) {
    // /proc and /sys are told by their devices, when they are file systems
    // of their own.
    struct stat root {};
    struct stat special {};
    if (stat("/", &root) == 0) {
      for (const char* path : {"/proc", "/sys"}) {
        if (stat(path, &special) == 0 && special.st_dev != root.st_dev) {
          special_.push_back(special.st_dev);
        }
      }
    }
  }

  void argument(const std::string& argument) {
    if (argument == "-") {
      file_argument(argument, 0);
      return;
    }
    const std::string opened = argument.empty() ? "." : argument;
    struct stat status {};
    if (tapnames::stat_any_length(opened.c_str(), &status) != 0) {  // a link is followed
      message_(opened, reason_of(errno), true);
      return;
    }
    if (!S_ISDIR(status.st_mode)) {
      file_argument(argument,
                    S_ISREG(status.st_mode) ? static_cast<std::uint64_t>(status.st_size) : 0);
      return;
    }
    if (!within_depth(0)) {
      return;
    }
    int folder = tapnames::open_any_length(opened.c_str(), kFolderFlags);
    if (folder < 0 || fstat(folder, &status) != 0) {
      message_(opened, "cannot read folder: " + reason_of(errno), true);
      if (folder >= 0) {
        close(folder);
      }
      return;
    }
    root_device_ = status.st_dev;
    chain_.assign(1, id_of(status));
    walk_folder(folder, argument, 0);
    if (folder >= 0) {
      close(folder);
    }
  }

 private:
  // The names in `folder`, sorted by their bytes; `error` set if it could
  // not be read to its end.
  static std::vector<std::string> list(int folder, int& error) {
    std::vector<std::string> names;
    const int copy = fcntl(folder, F_DUPFD_CLOEXEC, 0);
    DIR* dir = copy < 0 ? nullptr : fdopendir(copy);
    if (dir == nullptr) {
      error = errno;
      if (copy >= 0) {
        close(copy);
      }
      return names;
    }
    for (;;) {
      errno = 0;
      const dirent* found = readdir(dir);
      if (found == nullptr) {
        error = errno;
        break;
      }
      const std::string_view name = found->d_name;
      if (name != "." && name != "..") {
        names.emplace_back(name);
      }
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
  }

  // Walks the open `folder`, printed as `shown`, `depth` levels below the
  // path given. Leaves `folder` at -1 when it could not be kept open.
  void walk_folder(int& folder, const std::string& shown, unsigned depth) {
    int error = 0;
    const std::vector<std::string> names = list(folder, error);
    if (error != 0) {
      message_(shown.empty() ? "." : shown, "cannot read folder: " + reason_of(error), true);
    }
    for (const std::string& name : names) {
      if (folder < 0 || stopped()) {
        return;
      }
      if (!excluded(name)) {
        entry(folder, shown, name, depth + 1);
      }
    }
  }

  void entry(int& folder, const std::string& shown, const std::string& name, unsigned depth) {
    const std::string path = join(shown, name);
    struct stat status {};
    if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      message_(path, reason_of(errno), true);
      return;
    }
    SourceKind kind = SourceKind::Plain;
    const bool image = image_kind(name, kind);
    const bool link = S_ISLNK(status.st_mode);
    if (link) {
      if (!settings_.follow) {
        return;  // not followed: neither read nor walked
      }
      if (fstatat(folder, name.c_str(), &status, 0) != 0) {
        if (image) {
          message_(path, "cannot follow link: " + reason_of(errno), true);
        }
        return;
      }
    }
    if (S_ISDIR(status.st_mode)) {
      enter(folder, shown, name, path, depth, status, link);
    } else if (!S_ISREG(status.st_mode)) {
      message_(path, "skipped: " + std::string(type_name(status.st_mode)), false);
    } else if (image) {
      add(path, kind, static_cast<std::uint64_t>(status.st_size));
    }
  }

  // Enters the subfolder `name` of `parent` (printed as `shown`).
  void enter(int& parent, const std::string& shown, const std::string& name,
             const std::string& path, unsigned depth, const struct stat& status, bool link) {
    if (!within_depth(depth) || (settings_.one_file_system && status.st_dev != root_device_)) {
      return;
    }
    if (link && status.st_dev != root_device_ &&
        std::find(special_.begin(), special_.end(), status.st_dev) != special_.end()) {
      message_(path, "link into /proc or /sys, not followed", false);
      return;
    }
    const FolderId id = id_of(status);
    if (settings_.follow && std::find(chain_.begin(), chain_.end(), id) != chain_.end()) {
      message_(path, kLoop, false);
      return;
    }
    int child = openat(parent, name.c_str(), kFolderFlags | (link ? 0 : O_NOFOLLOW));
    if (child < 0) {
      message_(path, "cannot read folder: " + reason_of(errno), true);
      return;
    }
    const FolderId parent_id = chain_.back();
    chain_.push_back(id);
    // Deep down, the parent's handle is let go while the subfolder is
    // walked. Not through a link: its ".." is not the parent.
    const bool release = !link && chain_.size() > kHeldFolders;
    if (release) {
      close(parent);
      parent = -1;
    }
    walk_folder(child, path, depth);
    if (release) {
      struct stat back {};
      parent = child < 0 ? -1 : openat(child, "..", kFolderFlags);
      if (parent >= 0 && (fstat(parent, &back) != 0 || !(id_of(back) == parent_id))) {
        close(parent);
        parent = -1;
      }
      if (parent < 0) {
        message_(shown, "folder moved while it was walked, the rest of it not read", true);
      }
    }
    chain_.pop_back();
    if (child >= 0) {
      close(child);
    }
  }

  dev_t root_device_ = 0;
  std::vector<dev_t> special_;   // of /proc and /sys
  std::vector<FolderId> chain_;  // the folders being walked, the path given first
};

#else

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

// The long form of a path, which the wide API takes past 260 units whether
// or not long paths are enabled on the system: "\\?\C:\..." or
// "\\?\UNC\server\...", from a path absolute or relative.
fs::path long_form(const fs::path& path) {
  std::error_code error;
  const fs::path full = fs::absolute(path, error);
  if (error) {
    return path;
  }
  std::wstring text = full.native();
  std::replace(text.begin(), text.end(), L'/', L'\\');
  if (text.starts_with(L"\\\\?\\") || text.starts_with(L"\\\\.\\")) {
    return {text};
  }
  if (text.starts_with(L"\\\\")) {
    return {L"\\\\?\\UNC\\" + text.substr(2)};
  }
  return {L"\\\\?\\" + text};
}

class Walker : public Found {
 public:
  using Found::Found;

  void argument(const std::string& argument) {
    if (argument == "-") {
      file_argument(argument, 0);
      return;
    }
    const std::string shown = argument.empty() ? "." : argument;
    const fs::path file = long_form(argument.empty() ? fs::path(L".") : from_printable(argument));
    std::error_code error;
    const fs::file_status status = fs::status(file, error);  // a link is followed
    if (error) {
      message_(shown, error.message(), true);
      return;
    }
    if (!fs::is_directory(status)) {
      const std::uint64_t size = fs::is_regular_file(status) ? fs::file_size(file, error) : 0;
      file_argument(argument, error ? 0 : size);
      return;
    }
    if (!within_depth(0)) {
      return;
    }
    chain_.clear();
    const fs::path canonical = fs::canonical(file, error);
    root_ = error ? file.root_name() : canonical.root_name();
    chain_.push_back(canonical);
    folder(file, argument, 0);
  }

 private:
  // The names in the folder `file` (in the long form), sorted by their
  // UTF-16 units; `error` set if it could not be read to its end. Listed
  // with the wide API itself: the runtime's directory functions, under
  // std::filesystem's iterator, stop at 260 units.
  static std::vector<std::wstring> list(const fs::path& file, DWORD& error) {
    std::vector<std::wstring> names;
    const std::wstring pattern = file.native() + L"\\*";
    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                   nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
      error = GetLastError();
      error = error == ERROR_FILE_NOT_FOUND ? 0 : error;  // an empty drive
      return names;
    }
    do {
      const std::wstring_view name = found.cFileName;
      if (name != L"." && name != L"..") {
        names.emplace_back(name);
      }
    } while (FindNextFileW(find, &found) != 0);
    error = GetLastError();
    error = error == ERROR_NO_MORE_FILES ? 0 : error;
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
  }

  // `shown` is the folder as printed, empty for the current folder.
  void folder(const fs::path& file, const std::string& shown, unsigned depth) {
    DWORD error = 0;
    const std::vector<std::wstring> names = list(file, error);
    if (error != 0) {
      message_(shown.empty() ? "." : shown,
               "cannot read folder: " + std::system_category().message(static_cast<int>(error)),
               true);
    }
    for (const std::wstring& wide : names) {
      if (stopped()) {
        return;
      }
      const std::string name = printable(fs::path(wide));
      if (!excluded(name)) {
        entry(file / wide, join(shown, name), name, depth + 1);
      }
    }
  }

  void entry(const fs::path& file, const std::string& path, std::string_view name, unsigned depth) {
    std::error_code error;
    fs::file_status status = fs::symlink_status(file, error);
    SourceKind kind = SourceKind::Plain;
    const bool image = image_kind(name, kind);
    bool link = false;
    if (!error && fs::is_symlink(status)) {
      if (!settings_.follow) {
        return;  // not followed: neither read nor walked
      }
      link = true;
      status = fs::status(file, error);
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
      if (!within_depth(depth)) {
        return;
      }
      const fs::path canonical =
          link ? fs::canonical(file, error) : chain_.back() / file.filename();
      if (settings_.one_file_system && !error && canonical.root_name() != root_) {
        return;
      }
      if (settings_.follow && std::find(chain_.begin(), chain_.end(), canonical) != chain_.end()) {
        message_(path, kLoop, false);
        return;
      }
      chain_.push_back(canonical);
      folder(file, path, depth);
      chain_.pop_back();
      return;
    }
    if (!fs::is_regular_file(status)) {
      message_(path, std::string("skipped: ") + std::string(type_name(status.type())), false);
      return;
    }
    if (image) {
      const std::uint64_t size = fs::file_size(file, error);
      add(path, kind, error ? 0 : size);
    }
  }

  fs::path root_;                // the drive or share of the path given
  std::vector<fs::path> chain_;  // the folders being walked, canonical
};

#endif

}  // namespace

bool glob_match(std::string_view pattern, std::string_view name) {
  // One character of the pattern at `at` against `c`; moves `at` past it.
  const auto one = [pattern](std::size_t& at, char c) {
    const auto take = [pattern](std::size_t& i) {
      if (pattern[i] == '\\' && i + 1 < pattern.size()) {
        ++i;
      }
      return static_cast<unsigned char>(pattern[i++]);
    };
    if (pattern[at] == '?') {
      ++at;
      return true;
    }
    if (pattern[at] == '[') {
      std::size_t i = at + 1;
      const bool negate = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
      i += negate ? 1 : 0;
      bool matched = false;
      for (bool first = true; i < pattern.size() && (first || pattern[i] != ']'); first = false) {
        const unsigned char low = take(i);
        unsigned char high = low;
        if (i + 1 < pattern.size() && pattern[i] == '-' && pattern[i + 1] != ']') {
          ++i;
          high = take(i);
        }
        const auto code = static_cast<unsigned char>(c);
        matched = matched || (low <= code && code <= high);
      }
      if (i < pattern.size()) {
        at = i + 1;
        return matched != negate;
      }
      // No closing bracket: the "[" stands for itself.
    }
    return take(at) == static_cast<unsigned char>(c);
  };
  std::size_t at = 0;
  std::size_t in = 0;
  std::size_t star = std::string_view::npos;  // the pattern after the last "*"
  std::size_t mark = 0;                       // where that "*" took up matching
  while (in < name.size()) {
    if (at < pattern.size() && pattern[at] == '*') {
      star = ++at;
      mark = in;
      continue;
    }
    std::size_t next = at;
    if (at < pattern.size() && one(next, name[in])) {
      at = next;
      ++in;
      continue;
    }
    if (star == std::string_view::npos) {
      return false;
    }
    at = star;
    in = ++mark;
  }
  while (at < pattern.size() && pattern[at] == '*') {
    ++at;
  }
  return at == pattern.size();
}

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
    if (file == nullptr) {
      error = reason_of(errno != 0 ? errno : ENOENT);
      return false;
    }
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

std::vector<Source> find_sources(const std::vector<std::string>& paths,
                                 const WalkSettings& settings, const WalkMessage& message) {
  Walker walker(settings, message);
  for (const std::string& path : paths) {
    if (settings.stop != nullptr && settings.stop->load()) {
      break;
    }
    walker.argument(path);
  }
  return walker.take();
}

}  // namespace catalogue
