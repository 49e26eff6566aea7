// SPDX-License-Identifier: MIT
// Name rendering: trimming, the stop at a zero byte, the longest name, and
// every code in every place against the model.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "model.h"
#include "name_render.h"

namespace {

using Name = std::array<std::uint8_t, tapnames::kNameLength>;

std::string rendered(std::string_view bytes, bool escape) {
  Name name{};
  std::fill(name.begin(), name.end(), ' ');
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
        Name name{};
        std::fill(name.begin(), name.end(), place == 7 ? 'A' + (code % 26) : ' ');
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

// Only trailing spaces are trimmed, and the name's bytes are left as they
// were: a front end may render one name twice, with and without escaping.
TEST(Render, TrimsOnlyTrailingSpacesAndKeepsTheBytes) {
  Name name{};
  const std::string_view bytes = " A B            ";
  std::copy(bytes.begin(), bytes.end(), name.begin());
  const Name before = name;
  std::array<char, tapnames::kMaxRenderedName> text{};
  ASSERT_EQ(tapnames::render_name(name, false, text), 4U);
  EXPECT_EQ(std::string_view(text.data(), 4), " A B");
  EXPECT_EQ(name, before);
}

TEST(Render, ResultLines) {
  const Name name = {'A', 0x12, 'B', ' ', ' ', ' ', ' ', ' ',
                     ' ', ' ',  ' ', ' ', ' ', ' ', ' ', ' '};
  const struct {
    bool numbered;
    std::uint64_t number;
    bool escape;
    std::string_view line;
  } cases[] = {
      {false, 7, false, "FOUND: \"AB\"\n"},
      {true, 1, true, "FOUND (001): \"A{REVERSE ON}B\"\n"},
      {true, 999, false, "FOUND (999): \"AB\"\n"},
      {true, 1000, false, "FOUND (1000): \"AB\"\n"},
      {true, 18446744073709551615U, false, "FOUND (18446744073709551615): \"AB\"\n"},
  };
  for (const auto& c : cases) {
    std::array<char, tapnames::kMaxResultLine> line{};
    const std::size_t length =
        tapnames::render_result_line(c.numbered, c.number, name, c.escape, line);
    EXPECT_EQ(std::string_view(line.data(), length), c.line);
  }
}

}  // namespace
