// SPDX-License-Identifier: MIT
// The platform seam: UTF-8 paths and arguments, binary streams and console
// text on Windows, a read-ahead hint on Linux.
#include "platform.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <tuple>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cwchar>
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string_view>
#endif

namespace tapnames {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kLastCodePoint = 0x10FFFF;

bool is_high_surrogate(char32_t c) {
  return c >= 0xD800 && c < 0xDC00;
}

bool is_low_surrogate(char32_t c) {
  return c >= 0xDC00 && c < 0xE000;
}

// Appends the UTF-8 form of `c` (a surrogate too) at `at`, keeping room for
// the terminating zero; false when it does not fit.
bool put_utf8(char32_t c, std::span<char> out, std::size_t& at) {
  constexpr std::array<unsigned, 5> kLead = {0, 0, 0xC0, 0xE0, 0xF0};
  const std::size_t length = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  if (out.size() - at <= length) {
    return false;
  }
  if (length == 1) {
    out[at++] = static_cast<char>(c);
    return true;
  }
  for (std::size_t i = length - 1; i > 0; --i) {
    out[at + i] = static_cast<char>(0x80 | (c & 0x3F));
    c >>= 6;
  }
  out[at] = static_cast<char>(kLead.at(length) | c);
  at += length;
  return true;
}

// Reads one UTF-8 sequence (a surrogate's too) at `at` and moves past it; an
// ill-formed byte reads as U+FFFD and is passed alone.
char32_t take_utf8(std::string_view in, std::size_t& at) {
  constexpr std::array<char32_t, 5> kSmallest = {0, 0, 0x80, 0x800, 0x10000};
  const auto lead = static_cast<unsigned char>(in[at]);
  const std::size_t length = lead < 0x80                   ? 1
                             : lead >= 0xC2 && lead < 0xE0 ? 2
                             : lead >= 0xE0 && lead < 0xF0 ? 3
                             : lead >= 0xF0 && lead < 0xF5 ? 4
                                                           : 0;
  if (length == 1) {
    ++at;
    return lead;
  }
  bool valid = length != 0 && in.size() - at >= length;
  char32_t c = lead & (0x7Fu >> length);
  for (std::size_t i = 1; valid && i < length; ++i) {
    const auto next = static_cast<unsigned char>(in[at + i]);
    valid = (next & 0xC0) == 0x80;
    c = (c << 6) | (next & 0x3Fu);
  }
  if (!valid || c < kSmallest.at(length) || c > kLastCodePoint) {
    ++at;
    return kReplacement;
  }
  at += length;
  return c;
}

// How many bytes at the end of `text` begin a UTF-8 sequence whose rest has
// not come yet.
std::size_t incomplete_tail(std::string_view text) {
  for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
    const auto byte = static_cast<unsigned char>(text[text.size() - back]);
    if ((byte & 0xC0) == 0x80) {
      continue;  // a continuation byte: its lead is further back
    }
    const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
    return length > back ? back : 0;
  }
  return 0;
}

// Standard output and standard error once use_binary_output has run.
constinit std::array<TextOutput, 2> standard_outputs;  // NOLINT: set up at start

TextOutput* standard_output(const std::FILE* stream) {
  if (stream == nullptr) {
    return nullptr;
  }
  if (standard_outputs[0].stream() == stream) {
    return standard_outputs.data();
  }
  return standard_outputs[1].stream() == stream ? &standard_outputs[1] : nullptr;
}

}  // namespace

bool TextOutput::write(std::string_view bytes) noexcept {
  if (writer_ == nullptr) {
    if (stream_ == nullptr) {
      return false;  // not set up
    }
    failed_ |= std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size();
    return !failed_;
  }
  while (!bytes.empty()) {
    const std::size_t take = std::min(bytes.size(), bytes_.size() - held_);
    std::copy_n(bytes.begin(), take, bytes_.begin() + static_cast<std::ptrdiff_t>(held_));
    held_ += take;
    bytes.remove_prefix(take);
    failed_ |= !convert_held();
  }
  return !failed_;
}

// Converts what is held up to the last whole character and hands it to the
// writer; the start of a character cut off stays held.
bool TextOutput::convert_held() noexcept {
  const std::size_t complete = held_ - incomplete_tail(std::string_view(bytes_.data(), held_));
  if (complete == 0) {
    return true;
  }
  std::array<wchar_t, std::tuple_size_v<decltype(bytes_)> + 1> units{};  // a unit a byte at most
  const std::size_t length = utf8_to_utf16(std::string_view(bytes_.data(), complete), units);
  std::copy(bytes_.begin() + static_cast<std::ptrdiff_t>(complete),
            bytes_.begin() + static_cast<std::ptrdiff_t>(held_), bytes_.begin());
  held_ -= complete;
  if (stream_ != nullptr) {
    std::fflush(stream_);
  }
  return length != kTooLong && writer_(target_, std::span<const wchar_t>(units.data(), length));
}

bool TextOutput::failed() const noexcept {
  return failed_ || (stream_ != nullptr && std::ferror(stream_) != 0);
}

bool write_text(std::FILE* stream, std::string_view bytes) noexcept {
  if (TextOutput* output = standard_output(stream)) {
    return output->write(bytes);
  }
  return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
}

bool output_failed(std::FILE* stream) noexcept {
  if (const TextOutput* output = standard_output(stream)) {
    return output->failed();
  }
  return std::ferror(stream) != 0;
}

std::size_t utf16_to_utf8(std::span<const wchar_t> in, std::span<char> out) noexcept {
  if (out.empty()) {
    return kTooLong;
  }
  std::size_t at = 0;
  for (std::size_t i = 0; i < in.size(); ++i) {
    auto c = static_cast<char32_t>(in[i]);
    if (is_high_surrogate(c) && i + 1 < in.size() &&
        is_low_surrogate(static_cast<char32_t>(in[i + 1]))) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(in[i + 1]) - 0xDC00);
      ++i;
    } else if (c > kLastCodePoint) {
      c = kReplacement;  // only a 32-bit wchar_t can hold one
    }
    if (!put_utf8(c, out, at)) {
      return kTooLong;
    }
  }
  out[at] = '\0';
  return at;
}

std::size_t utf8_to_utf16(std::string_view in, std::span<wchar_t> out) noexcept {
  std::size_t at = 0;
  for (std::size_t i = 0; i < in.size();) {
    const char32_t c = take_utf8(in, i);
    const std::size_t units = c < 0x10000 ? 1 : 2;
    if (out.size() - at <= units) {
      return kTooLong;
    }
    if (units == 1) {
      out[at++] = static_cast<wchar_t>(c);
    } else {
      out[at++] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      out[at++] = static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  if (out.empty()) {
    return kTooLong;
  }
  out[at] = L'\0';
  return at;
}

#if defined(_WIN32)
namespace {

// The longest path the wide API takes, in units, with its terminating zero.
constexpr std::size_t kMaxWidePath = 32768;

// A UTF-8 path in the form the wide API takes. Past the plain API's limit of
// 260 units it is the extended form of the full path ("\\?\C:\..." or
// "\\?\UNC\server\..."), which every Windows opens whether or not long paths
// are enabled on the system.
class WidePath {
 public:
  explicit WidePath(const char* utf8_path) {
    const std::size_t length = utf8_to_utf16(utf8_path, path_);
    if (length == kTooLong) {
      return;
    }
    const std::wstring_view given(path_.data(), length);
    if (length < MAX_PATH || given.starts_with(L"\\\\?\\") || given.starts_with(L"\\\\.\\")) {
      valid_ = true;
      return;
    }
    std::array<wchar_t, kMaxWidePath> full{};
    const DWORD full_length =
        GetFullPathNameW(path_.data(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (full_length == 0 || full_length >= full.size()) {
      return;
    }
    std::wstring_view rest(full.data(), full_length);
    std::wstring_view prefix = L"\\\\?\\";
    if (rest.starts_with(L"\\\\")) {
      prefix = L"\\\\?\\UNC\\";
      rest.remove_prefix(2);
    }
    if (prefix.size() + rest.size() >= path_.size()) {
      return;
    }
    const auto end =
        std::copy(rest.begin(), rest.end(), std::copy(prefix.begin(), prefix.end(), path_.begin()));
    *end = L'\0';
    valid_ = true;
  }
  [[nodiscard]] const wchar_t* get() const { return valid_ ? path_.data() : nullptr; }

 private:
  std::array<wchar_t, kMaxWidePath> path_{};
  bool valid_ = false;
};

// The console behind `stream`, or null when it is a file, a pipe or the null
// device, which GetConsoleMode refuses.
HANDLE console_of(std::FILE* stream) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): the C runtime keeps the handle as an integer
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr || GetConsoleMode(handle, &mode) == 0) {
    return nullptr;
  }
  return handle;
}

bool write_console(void* console, std::span<const wchar_t> units) noexcept {
  constexpr std::size_t kMostAtOnce = 8192;
  while (!units.empty()) {
    DWORD written = 0;
    const auto count = static_cast<DWORD>(std::min(units.size(), kMostAtOnce));
    if (WriteConsoleW(console, units.data(), count, &written, nullptr) == 0 || written == 0) {
      return false;
    }
    units = units.subspan(written);
  }
  return true;
}

TextOutput output_for(std::FILE* stream) {
  const HANDLE console = console_of(stream);
  return console == nullptr ? TextOutput(stream) : TextOutput(stream, write_console, console);
}

bool is_directory(const char* path) {
  const WidePath wide(path);
  struct _stat64 status {};
  return wide.get() != nullptr && _wstat64(wide.get(), &status) == 0 &&
         (status.st_mode & _S_IFDIR) != 0;
}

// The command line is at most 32767 units with its zero; a unit becomes at
// most three bytes, and an argument's zero takes the place of the space or
// quote that ended it.
constexpr std::size_t kMaxCommandLine = 32768;
std::array<char, 4 * kMaxCommandLine> argument_bytes;
std::array<const char*, kMaxCommandLine + 1> argument_vector;

}  // namespace

std::FILE* open_binary(const char* utf8_path) noexcept {
  if (std::strcmp(utf8_path, "/dev/stdin") == 0) {
    return _setmode(_fileno(stdin), _O_BINARY) == -1 ? nullptr : stdin;
  }
  const WidePath wide(utf8_path);
  return wide.get() == nullptr ? nullptr : _wfopen(wide.get(), L"rb");
}

Utf8Arguments utf8_arguments(int argc, const wchar_t* const* argv) noexcept {
  std::size_t at = 0;
  std::size_t count = 0;
  for (; count < static_cast<std::size_t>(argc) && count < kMaxCommandLine; ++count) {
    const std::size_t length =
        utf16_to_utf8(std::wstring_view(argv[count]), std::span(argument_bytes).subspan(at));
    if (length == kTooLong) {
      break;  // cannot happen with a command line Windows accepts
    }
    argument_vector[count] = &argument_bytes[at];
    at += length + 1;
  }
  argument_vector[count] = nullptr;
  return {static_cast<int>(count), argument_vector.data()};
}

bool is_console(std::FILE* stream) noexcept {
  return console_of(stream) != nullptr;
}

bool asks_for_help(std::string_view argument) noexcept {
  return argument == "/?";
}

void wait_if_console_closes() noexcept {
  // The list holds this process alone when nothing else, such as a command
  // prompt, shares the console: it goes away with the process.
  std::array<DWORD, 2> processes{};
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (!standard_outputs[0].is_console() ||
      GetConsoleProcessList(processes.data(), static_cast<DWORD>(processes.size())) != 1 ||
      input == INVALID_HANDLE_VALUE || input == nullptr || GetConsoleMode(input, &mode) == 0) {
    return;
  }
  write_text(stdout, "Press any key to close");
  FlushConsoleInputBuffer(input);
  INPUT_RECORD record{};
  DWORD read = 0;
  while (ReadConsoleInputW(input, &record, 1, &read) != 0 &&
         (read == 0 || record.EventType != KEY_EVENT || record.Event.KeyEvent.bKeyDown == 0)) {
  }
}

#else

namespace {

// Calls `last(folder, rest)` with `rest` the part of `path` under the open
// folder `folder` (AT_FDCWD for the path as it is), shorter than PATH_MAX;
// the folders on the way are opened one piece at a time and closed after.
template <typename Last>
int resolve_any_length(const char* path, const Last& last) noexcept {
  std::string_view rest(path);
  if (rest.size() < PATH_MAX) {
    return last(AT_FDCWD, path);
  }
  std::array<char, PATH_MAX> piece{};
  int folder = AT_FDCWD;
  const auto close_folder = [&folder] {
    if (folder != AT_FDCWD) {
      const int saved = errno;
      close(folder);
      errno = saved;
    }
  };
  while (rest.size() >= PATH_MAX) {
    // The longest run of whole names that fits, "/" and all.
    const std::size_t cut = rest.rfind('/', PATH_MAX - 1);
    if (cut == std::string_view::npos || cut == 0) {
      close_folder();
      errno = ENAMETOOLONG;  // a single name longer than any system takes
      return -1;
    }
    *std::copy_n(rest.begin(), cut, piece.begin()) = '\0';
    const int next = openat(folder, piece.data(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close_folder();
    if (next < 0) {
      return -1;
    }
    folder = next;
    rest.remove_prefix(cut);
    while (rest.starts_with('/')) {
      rest.remove_prefix(1);
    }
  }
  *std::copy(rest.begin(), rest.end(), piece.begin()) = '\0';
  const int result = last(folder, rest.empty() ? "." : piece.data());
  close_folder();
  return result;
}

}  // namespace

int open_any_length(const char* path, int flags) noexcept {
  return resolve_any_length(path, [flags](int folder, const char* rest) {
    return openat(folder, rest, flags | O_CLOEXEC);
  });
}

int stat_any_length(const char* path, struct stat* status) noexcept {
  return resolve_any_length(
      path, [status](int folder, const char* rest) { return fstatat(folder, rest, status, 0); });
}

namespace {

bool is_directory(const char* path) {
  struct stat status {};
  return stat_any_length(path, &status) == 0 && S_ISDIR(status.st_mode);
}

}  // namespace

bool is_console(std::FILE* /*stream*/) noexcept {
  return false;
}

bool asks_for_help(std::string_view /*argument*/) noexcept {
  return false;
}

void wait_if_console_closes() noexcept {}

std::FILE* open_binary(const char* utf8_path) noexcept {
  const int descriptor = open_any_length(utf8_path, O_RDONLY);
  std::FILE* file = descriptor < 0 ? nullptr : fdopen(descriptor, "rb");
  if (descriptor >= 0 && file == nullptr) {
    const int saved = errno;
    close(descriptor);
    errno = saved;
  }
#if defined(__linux__)
  if (file != nullptr) {
    // Only a hint for read-ahead; the scan does not depend on it.
    static_cast<void>(posix_fadvise(fileno(file), 0, 0, POSIX_FADV_SEQUENTIAL));
  }
#endif
  return file;
}

#endif

OpenedImage open_image(const char* utf8_path) noexcept {
  std::FILE* file = open_binary(utf8_path);
  return {file, file == nullptr && is_directory(utf8_path)};
}

void use_binary_output() noexcept {
#if defined(_WIN32)
  static_cast<void>(_setmode(_fileno(stdout), _O_BINARY));
  static_cast<void>(_setmode(_fileno(stderr), _O_BINARY));
  standard_outputs = {output_for(stdout), output_for(stderr)};
#else
  standard_outputs = {TextOutput(stdout), TextOutput(stderr)};
#endif
}

}  // namespace tapnames
