// SPDX-License-Identifier: MIT
// Name rendering: turns the 16 character codes of a found name into text, and
// writes the result lines of `tapnames` around it. Trailing spaces are
// trimmed; codes a terminal cannot show are dropped, written as ".", or with
// escaping on, written as a control-code name.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "pulse_decoder.h"

namespace tapnames {

// Display texts for codes 0x00..0x1F and 0x80..0xA0; "." where a code has no
// name of its own.
extern const std::array<std::string_view, 32> kLowControlNames;
extern const std::array<std::string_view, 33> kHighControlNames;

// The longest text one name can render to: 16 codes of the longest entry.
inline constexpr std::size_t kLongestControlName = 18;
inline constexpr std::size_t kMaxRenderedName = kNameLength * kLongestControlName;

// The 16 name bytes of a header, as stored on tape.
using NameBytes = std::span<const std::uint8_t, kNameLength>;

// Renders `name` into `out`, leaving out its trailing 0x20 bytes and stopping
// at its first zero byte. Returns the number of characters written.
std::size_t render_name(NameBytes name, bool escape,
                        std::span<char, kMaxRenderedName> out) noexcept;

// The longest result line: "FOUND (" with 20 digits, "): \"", the longest
// name and "\"\n".
inline constexpr std::size_t kMaxResultLine = 32 + kMaxRenderedName;

// Writes a whole result line, "FOUND: \"NAME\"\n" or, when `numbered`,
// "FOUND (001): \"NAME\"\n" with `number` in at least three digits. Returns
// the characters written.
std::size_t render_result_line(bool numbered, std::uint64_t number, NameBytes name, bool escape,
                               std::span<char, kMaxResultLine> out) noexcept;

// Writes `text` as a field of a tab-separated record, as every front end
// writes one: tab, newline, carriage return and backslash as \t, \n, \r
// and \\, every other byte as it is. `out` must hold twice the text.
// Returns the characters written.
std::size_t render_tsv_field(std::string_view text, std::span<char> out) noexcept;

}  // namespace tapnames
