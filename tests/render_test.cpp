// SPDX-License-Identifier: MIT
// Name rendering: trimming, the stop at a zero byte, the longest name, and
// every code in every place against the model.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "model.h"
#include "render/name_render.h"

namespace {

std::string rendered(std::string_view bytes, bool escape) {
  tapnames::TapeName name{};
  std::fill(name.begin(), name.begin() + 16, ' ');
  std::copy(bytes.begin(), bytes.end(), name.begin());
  std::array<char, tapnames::kMaxRenderedName> text{};
  const std::size_t length = tapnames::render_name(name, escape, text);
  return {text.data(), length};
}

struct Case {
  std::string_view name;
  bool escape;
  std::string_view text;
};

constexpr std::string_view operator""_b(const char* bytes, std::size_t size) {
  return {bytes, size};
}

TEST(Render, WritesEachCodeRangeAsSpecified) {
  const Case cases[] = {
      {"                ", false, ""},
      {"AB  CD", false, "AB  CD"},
      {" !09@Z[]", true, " !09@Z[]"},
      {"A\x5E\x93\xC1", false, "A."},
      {"A\x5E\x93\xC1", true, "A.{CLEAR & HOME}."},
      {"\x0D\x01", false, ""},
      {"\x0D\x01", true, "{RETURN}."},
      {"ABC\0EFG"_b, true, "ABC"},
      {"\0ABC"_b, false, ""},
      {"X\xA0", false, "X"},
      {"X\xA0", true, "X{SHIFT+SPACE}"},
      {"\x7F\x80\xA1\xFF", false, ".."},
      {"\x7F\x80\xA1\xFF", true, "...."},
      {"\x08\x08\x08\x08\x08\x08\x08\x08\x08\x08\x08\x08\x08\x08\x08\x08", true,
       "{DISABLE SHIFT+C=}{DISABLE SHIFT+C=}{DISABLE SHIFT+C=}{DISABLE SHIFT+C=}"
       "{DISABLE SHIFT+C=}{DISABLE SHIFT+C=}{DISABLE SHIFT+C=}{DISABLE SHIFT+C=}"
       "{DISABLE SHIFT+C=}{DISABLE SHIFT+C=}{DISABLE SHIFT+C=}{DISABLE SHIFT+C=}"
       "{DISABLE SHIFT+C=}{DISABLE SHIFT+C=}{DISABLE SHIFT+C=}{DISABLE SHIFT+C=}"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rendered(c.name, c.escape), c.text) << "escape " << c.escape << ": " << c.text;
  }
}

// Every code in every place of a name, with and without escaping, against the
// model: the first, a middle and the last byte, before spaces and other codes.
TEST(Render, EveryCodeMatchesTheModel) {
  for (unsigned code = 0; code < 256; ++code) {
    for (const std::size_t place : {0U, 7U, 15U}) {
      for (const bool escape : {false, true}) {
        tapnames::TapeName name{};
        std::fill(name.begin(), name.begin() + 16, place == 7 ? 'A' + (code % 26) : ' ');
        name[place] = static_cast<std::uint8_t>(code);
        unsigned char copy[17] = {};
        std::copy(name.begin(), name.end(), copy);
        std::array<char, tapnames::kMaxRenderedName> text{};
        const std::size_t length = tapnames::render_name(name, escape, text);
        ASSERT_EQ(std::string(text.data(), length), model::render_name(copy, escape))
            << "code " << code << " at " << place << " escape " << escape;
      }
    }
  }
}

TEST(Render, TrimsOnlyTrailingSpacesInPlace) {
  tapnames::TapeName name{};
  const std::string_view bytes = " A B            ";
  std::copy(bytes.begin(), bytes.end(), name.begin());
  std::array<char, tapnames::kMaxRenderedName> text{};
  EXPECT_EQ(tapnames::render_name(name, false, text), 4U);
  const tapnames::TapeName trimmed = {' ', 'A', ' ', 'B'};
  EXPECT_EQ(name, trimmed);
}

}  // namespace
