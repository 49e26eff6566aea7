// SPDX-License-Identifier: MIT
// The UTF-16 and UTF-8 conversions that carry Windows command lines and
// paths: names in any script, surrogate pairs, unpaired surrogates (which
// must come back unchanged), ill-formed UTF-8 and buffers too small.
#include "platform.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

using Units = std::vector<wchar_t>;

std::string utf8(const Units& units, std::size_t capacity = 64) {
  std::vector<char> out(capacity, '#');
  const std::size_t length = tapnames::utf16_to_utf8(units, out);
  if (length == tapnames::kTooLong) {
    return "too long";
  }
  EXPECT_EQ(out[length], '\0');
  return {out.data(), length};
}

Units utf16(const std::string& bytes, std::size_t capacity = 64) {
  Units out(capacity, L'#');
  const std::size_t length = tapnames::utf8_to_utf16(bytes, out);
  if (length == tapnames::kTooLong) {
    return {L'?'};
  }
  EXPECT_EQ(out[length], L'\0');
  out.resize(length);
  return out;
}

TEST(Utf, NamesInAnyScriptAndUnpairedSurrogatesGoBothWays) {
  struct Case {
    const char* what;
    Units units;
    std::string bytes;
  };
  const Case cases[] = {
      {"empty", {}, ""},
      {"ASCII with a space", {L'a', L' ', L'b'}, "a b"},
      {"Greek", {0x3B1, 0x3B2, 0x3B3}, "\xCE\xB1\xCE\xB2\xCE\xB3"},
      {"Japanese", {0x65E5, 0x672C}, "\xE6\x97\xA5\xE6\x9C\xAC"},
      {"emoji, a surrogate pair", {L'x', 0xD83D, 0xDE00}, "x\xF0\x9F\x98\x80"},
      {"highest code point", {0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"},
      {"unpaired high surrogate",
       {0xD83D, L'a'},
       "\xED\xA0\xBD"
       "a"},
      {"unpaired high surrogate last", {L'a', 0xD83D}, "a\xED\xA0\xBD"},
      {"unpaired low surrogate", {0xDE00}, "\xED\xB8\x80"},
      {"low before high", {0xDE00, 0xD83D}, "\xED\xB8\x80\xED\xA0\xBD"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(utf8(c.units), c.bytes) << c.what;
    EXPECT_EQ(utf16(c.bytes), c.units) << c.what;
  }
}

TEST(Utf, IllFormedUtf8ReadsAsReplacementCharacters) {
  constexpr wchar_t kBad = 0xFFFD;
  struct Case {
    const char* what;
    std::string bytes;
    Units units;
  };
  const Case cases[] = {
      {"stray continuation byte", "a\x80z", {L'a', kBad, L'z'}},
      {"overlong slash", "\xC0\xAF", {kBad, kBad}},
      {"overlong three bytes", "\xE0\x80\xAF", {kBad, kBad, kBad}},
      {"cut short at the end", "a\xE6\x97", {L'a', kBad, kBad}},
      {"cut short by ASCII", "\xE6z", {kBad, L'z'}},
      {"past U+10FFFF", "\xF4\x90\x80\x80", {kBad, kBad, kBad, kBad}},
      {"lead byte F5", "\xF5", {kBad}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(utf16(c.bytes), c.units) << c.what;
  }
}

TEST(Utf, BuffersTooSmallForTheResultAndItsZeroAreRefused) {
  const Units emoji = {0xD83D, 0xDE00};
  EXPECT_EQ(utf8(emoji, 5), "\xF0\x9F\x98\x80");
  EXPECT_EQ(utf8(emoji, 4), "too long");
  EXPECT_EQ(utf8({}, 0), "too long");
  EXPECT_EQ(utf16("\xF0\x9F\x98\x80", 3), emoji);
  EXPECT_EQ(utf16("\xF0\x9F\x98\x80", 2), Units{L'?'});
  EXPECT_EQ(utf16("ab", 2), Units{L'?'});
  EXPECT_EQ(utf16("", 0), Units{L'?'});
}

}  // namespace
