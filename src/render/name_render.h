// SPDX-License-Identifier: MIT
// Name rendering: turns the 16 character codes of a found name into text.
// Trailing spaces are trimmed; codes a terminal cannot show are dropped,
// written as ".", or with escaping on, written as a control-code name.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "decoder/pulse_decoder.h"

namespace tapnames {

// Display texts for codes 0x00..0x1F and 0x80..0xA0; "." where a code has no
// name of its own.
extern const std::array<std::string_view, 32> kLowControlNames;
extern const std::array<std::string_view, 33> kHighControlNames;

// The longest text one name can render to: 16 codes of the longest entry.
inline constexpr std::size_t kLongestControlName = 18;
inline constexpr std::size_t kMaxRenderedName = kNameLength * kLongestControlName;

// Trims trailing 0x20 bytes of `name` to zero, then renders the bytes up to the
// first zero into `out`. Returns the number of characters written.
std::size_t render_name(TapeName& name, bool escape,
                        std::span<char, kMaxRenderedName> out) noexcept;

}  // namespace tapnames
