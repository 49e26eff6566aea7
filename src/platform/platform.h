// SPDX-License-Identifier: MIT
// What differs between operating systems, kept in one place: the command line
// and paths as UTF-8 everywhere, opening an image for binary reading
// ("/dev/stdin" included), making the output streams binary so that every
// line ends in "\n" everywhere, and text for a Windows console as UTF-16.
#pragma once

#include <array>
#include <cstddef>
#include <cstdio>
#include <span>
#include <string_view>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

namespace tapnames {

// Opens a file for binary reading by its UTF-8 path. "/dev/stdin" names
// standard input on every system; on Windows it is switched to binary mode.
// A path past PATH_MAX opens too (see open_any_length).
// On Windows the path goes to the wide API, so any name the system can hold
// opens, whatever the code page, also past 260 characters. Null on failure.
// Safe to call from several threads at once.
std::FILE* open_binary(const char* utf8_path) noexcept;

struct OpenedImage {
  std::FILE* file = nullptr;  // null when the image could not be opened
  // Set when it could not be opened because it is a directory: some systems
  // refuse to open one, others open it and fail the first read, and the user
  // should hear the same either way.
  bool is_directory = false;
};

// open_binary, and on failure whether the path is a directory.
OpenedImage open_image(const char* utf8_path) noexcept;

#if !defined(_WIN32)
// open(2) and stat(2) for a path of any length: past PATH_MAX the path is
// resolved in pieces shorter than it, from folder handle to folder handle,
// so a file however deep in a tree opens (as `find` reaches it). Links are
// followed as by the plain calls. Each sets errno and returns -1 on failure.
int open_any_length(const char* path, int flags) noexcept;
int stat_any_length(const char* path, struct stat* status) noexcept;
#endif

// Standard output and standard error write bytes as they are. On Windows it
// also decides, once, whether each of them is a console (see write_text).
// Called first by each program.
void use_binary_output() noexcept;

// Where a program's text goes. To a file or a pipe the UTF-8 bytes go through
// the C stream unchanged; to a console, as UTF-16 to a writer (WriteConsoleW
// on Windows), so that names show right whatever the console's code page. A
// character split between two writes is held back until its rest comes. No
// allocation; not for several threads at once.
class TextOutput {
 public:
  // Writes UTF-16 units; false on failure.
  using WideWriter = bool (*)(void* target, std::span<const wchar_t> units) noexcept;

  constexpr TextOutput() noexcept = default;  // writes nothing: not set up yet
  // Bytes to `stream` as they are.
  explicit constexpr TextOutput(std::FILE* stream) noexcept : stream_(stream) {}
  // UTF-16 to `writer` with `target`; `stream` (if any) is flushed before
  // each write, so that whatever went to it before comes first.
  constexpr TextOutput(std::FILE* stream, WideWriter writer, void* target) noexcept
      : stream_(stream), writer_(writer), target_(target) {}

  [[nodiscard]] std::FILE* stream() const noexcept { return stream_; }
  [[nodiscard]] bool is_console() const noexcept { return writer_ != nullptr; }
  // False, now and later, once a write has failed.
  bool write(std::string_view bytes) noexcept;
  // Whether anything written so far failed (the stream's error too).
  [[nodiscard]] bool failed() const noexcept;

 private:
  bool convert_held() noexcept;

  std::FILE* stream_ = nullptr;
  WideWriter writer_ = nullptr;
  void* target_ = nullptr;
  bool failed_ = false;
  std::size_t held_ = 0;
  std::array<char, 512> bytes_{};  // what is waiting to be converted
};

// Writes to `stream`: for standard output and standard error as decided by
// use_binary_output, for any other stream its bytes as they are.
bool write_text(std::FILE* stream, std::string_view bytes) noexcept;
// Whether a write to `stream` has failed, the stream's own error included.
bool output_failed(std::FILE* stream) noexcept;

// Whether `stream` is a console: on Windows, one that GetConsoleMode accepts
// (a file, a pipe or the null device is not). False elsewhere.
bool is_console(std::FILE* stream) noexcept;

// On Windows "/?" asks a program for its help, as it cannot be a file name
// there; elsewhere it is a path like any other.
bool asks_for_help(std::string_view argument) noexcept;

// On Windows, when the process owns its console alone (it was started by a
// double-click or by dropping a file on it, and the window closes when it
// ends) and writes to it, prints "Press any key to close" and waits for a
// key. Elsewhere, or from a command prompt, or with output redirected, it
// returns at once.
void wait_if_console_closes() noexcept;

// Conversions between the UTF-16 of Windows (one unit per wchar_t) and UTF-8.
// An unpaired surrogate, which a Windows file name may hold, is carried as its
// own three-byte sequence both ways, so every name comes back unchanged.
// Each writes a terminating zero and returns the length without it, or
// kTooLong when `out` cannot hold the result and its zero.
inline constexpr std::size_t kTooLong = static_cast<std::size_t>(-1);
std::size_t utf16_to_utf8(std::span<const wchar_t> in, std::span<char> out) noexcept;
std::size_t utf8_to_utf16(std::string_view in, std::span<wchar_t> out) noexcept;

#if defined(_WIN32)
struct Utf8Arguments {
  int argc;
  const char* const* argv;  // ends in a null pointer
};
// The wide argument vector of wmain as UTF-8, converted once into static
// storage, large enough for the longest command line Windows takes. For the
// entry point alone.
Utf8Arguments utf8_arguments(int argc, const wchar_t* const* argv) noexcept;
#endif

}  // namespace tapnames
