// SPDX-License-Identifier: MIT
// Wildcard expansion with FindFirstFileExW on Windows; nothing elsewhere.
#include "wildcards.h"

#if defined(_WIN32)
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "walk.h"
#endif

namespace catalogue {

#if defined(_WIN32)
namespace {

// The matches of `argument` in name order, or the argument alone when it
// exists as it stands, holds no wildcard in its name or matches nothing.
void append_matches(const std::string& argument, std::vector<std::string>& paths) {
  const std::size_t name_at = argument.find_last_of("\\/:") + 1;  // 0 when there is none
  const std::filesystem::path literal = from_printable(argument);
  std::error_code error;
  if (argument.find_first_of("*?", name_at) == std::string::npos ||
      std::filesystem::exists(literal, error)) {
    paths.push_back(argument);
    return;
  }
  WIN32_FIND_DATAW found{};
  const HANDLE search =
      FindFirstFileExW(literal.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) {
    paths.push_back(argument);
    return;
  }
  std::vector<std::string> matches;
  do {
    const std::wstring_view name(static_cast<const wchar_t*>(found.cFileName));
    if (name != L"." && name != L"..") {
      matches.push_back(argument.substr(0, name_at) + printable(std::filesystem::path(name)));
    }
  } while (FindNextFileW(search, &found) != 0);
  FindClose(search);
  std::sort(matches.begin(), matches.end());
  paths.insert(paths.end(), matches.begin(), matches.end());
}

}  // namespace

std::vector<std::string> expand_wildcards(const std::vector<std::string>& arguments) {
  std::vector<std::string> paths;
  for (const std::string& argument : arguments) {
    append_matches(argument, paths);
  }
  return paths;
}
#else
std::vector<std::string> expand_wildcards(const std::vector<std::string>& arguments) {
  return arguments;
}
#endif

}  // namespace catalogue
