// SPDX-License-Identifier: MIT
// Name rendering tables, the trim-and-write rule for found names, and the
// result lines around them.
#include "name_render.h"

#include <algorithm>

namespace tapnames {
namespace {

constexpr std::string_view kDot = ".";
constexpr std::uint8_t kSpace = 0x20;
constexpr std::uint8_t kLastPlain = 0x5D;
constexpr std::uint8_t kFirstHigh = 0x80;
constexpr std::uint8_t kLastHigh = 0xA0;

constexpr std::array<std::string_view, 32> make_low_names() {
  std::array<std::string_view, 32> names{};
  names.fill(kDot);
  names[0x05] = "{WHITE}";
  names[0x08] = "{DISABLE SHIFT+C=}";
  names[0x09] = "{ENABLE SHIFT+C=}";
  names[0x0D] = "{RETURN}";
  names[0x0E] = "{SMALL CHARS}";
  names[0x11] = "{CURS DOWN}";
  names[0x12] = "{REVERSE ON}";
  names[0x13] = "{HOME}";
  names[0x14] = "{INST DEL}";
  names[0x1C] = "{RED}";
  names[0x1D] = "{CURS RIGHT}";
  names[0x1E] = "{GREEN}";
  names[0x1F] = "{BLU}";
  return names;
}

constexpr std::array<std::string_view, 33> make_high_names() {
  std::array<std::string_view, 33> names{};
  names.fill(kDot);
  names[0x05] = "{F1}";
  names[0x06] = "{F2}";
  names[0x07] = "{F3}";
  names[0x08] = "{F4}";
  names[0x09] = "{F5}";
  names[0x0A] = "{F6}";
  names[0x0B] = "{F7}";
  names[0x0C] = "{F8}";
  names[0x0D] = "{SHIFT+RETURN}";
  names[0x0E] = "{CAPITAL CHARS}";
  names[0x10] = "{BLACK}";
  names[0x11] = "{CURS UP}";
  names[0x12] = "{REVERSE OFF}";
  names[0x13] = "{CLEAR & HOME}";
  names[0x14] = "{SHIFT+INST DEL}";
  names[0x1C] = "{PURPLE}";
  names[0x1D] = "{CURS LEFT}";
  names[0x1E] = "{YELLOW}";
  names[0x1F] = "{CYAN}";
  names[0x20] = "{SHIFT+SPACE}";
  return names;
}

constexpr bool longest_fits(std::span<const std::string_view> names) {
  return std::all_of(names.begin(), names.end(),
                     [](std::string_view text) { return text.size() <= kLongestControlName; });
}

}  // namespace

constexpr std::array<std::string_view, 32> kLowControlNames = make_low_names();
constexpr std::array<std::string_view, 33> kHighControlNames = make_high_names();

namespace {

static_assert(longest_fits(kLowControlNames) && longest_fits(kHighControlNames));

// The text for one code; empty where the code is dropped.
constexpr std::string_view render_code(std::uint8_t code, bool escape) {
  if (code < kSpace) {
    return escape ? kLowControlNames[code] : std::string_view{};
  }
  if (code <= kLastPlain) {
    return {};  // written as itself by the caller
  }
  if (code < kFirstHigh) {
    return escape ? kDot : std::string_view{};
  }
  if (code <= kLastHigh) {
    return escape ? kHighControlNames[code - kFirstHigh] : std::string_view{};
  }
  return kDot;
}

}  // namespace

std::size_t render_name(NameBytes name, bool escape,
                        std::span<char, kMaxRenderedName> out) noexcept {
  // Trailing spaces are trimmed, and a zero byte ends the name.
  std::size_t end = kNameLength;
  while (end > 0 && name[end - 1] == kSpace) {
    --end;
  }
  std::size_t length = 0;
  for (std::size_t i = 0; i < end && name[i] != 0; ++i) {
    const std::uint8_t code = name[i];
    if (code >= kSpace && code <= kLastPlain) {
      out[length++] = static_cast<char>(code);
      continue;
    }
    const std::string_view text = render_code(code, escape);
    std::copy(text.begin(), text.end(), out.begin() + static_cast<std::ptrdiff_t>(length));
    length += text.size();
  }
  return length;
}

namespace {

// Appends `text` at `at`; returns the new end.
std::size_t put(std::span<char> out, std::size_t at, std::string_view text) {
  std::copy(text.begin(), text.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
  return at + text.size();
}

// Appends `number` in decimal with at least three digits, as "%03llu" would.
std::size_t put_number(std::span<char> out, std::size_t at, std::uint64_t number) {
  constexpr std::size_t kMaxDigits = 20;
  constexpr std::size_t kMinDigits = 3;
  constexpr std::uint64_t kBase = 10;
  std::array<char, kMaxDigits> digits{};
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + (number % kBase));
    number /= kBase;
  } while (number != 0);
  while (count < kMinDigits) {
    digits[count++] = '0';
  }
  while (count > 0) {
    out[at++] = digits[--count];
  }
  return at;
}

}  // namespace

std::size_t render_result_line(bool numbered, std::uint64_t number, NameBytes name, bool escape,
                               std::span<char, kMaxResultLine> out) noexcept {
  std::size_t at = 0;
  if (numbered) {
    at = put(out, at, "FOUND (");
    at = put_number(out, at, number);
    at = put(out, at, "): \"");
  } else {
    at = put(out, at, "FOUND: \"");
  }
  at += render_name(name, escape, out.subspan(at).first<kMaxRenderedName>());
  return put(out, at, "\"\n");
}

std::size_t render_tsv_field(std::string_view text, std::span<char> out) noexcept {
  std::size_t at = 0;
  for (const char c : text) {
    const char escaped = c == '\t'   ? 't'
                         : c == '\n' ? 'n'
                         : c == '\r' ? 'r'
                         : c == '\\' ? '\\'
                                     : '\0';
    if (escaped != 0) {
      out[at++] = '\\';
      out[at++] = escaped;
    } else {
      out[at++] = c;
    }
  }
  return at;
}

}  // namespace tapnames
