// SPDX-License-Identifier: MIT
// The UTF-16 and UTF-8 conversions that carry Windows command lines and
// paths: names in any script, surrogate pairs, unpaired surrogates (which
// must come back unchanged), ill-formed UTF-8 and buffers too small; and
// the read loop, fed by a stream whose reads are scripted: interrupted by a
// signal before or after part of a buffer, failing, ending.
#include "platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "read_loop.h"

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

#if defined(__GLIBC__)
// A stream whose reads happen as scripted: a step is a count of bytes given
// (at most what is asked), or an errno value the read fails with; after the
// last step the stream ends.
struct Step {
  std::size_t bytes;
  int error;
};
using Script = std::vector<Step>;

struct Scripted {
  Script steps;
  std::size_t next = 0;
  std::uint8_t value = 0;  // each byte given is the next of a running count
};

ssize_t scripted_read(void* cookie, char* buffer, std::size_t size) {
  auto& script = *static_cast<Scripted*>(cookie);
  if (script.next == script.steps.size()) {
    return 0;
  }
  Step& step = script.steps[script.next];
  if (step.error != 0) {
    ++script.next;
    errno = step.error;
    return -1;
  }
  const std::size_t given = std::min(size, step.bytes);
  for (std::size_t i = 0; i < given; ++i) {
    buffer[i] = static_cast<char>(script.value++);
  }
  step.bytes -= given;
  if (step.bytes == 0) {
    ++script.next;
  }
  return static_cast<ssize_t>(given);
}

TEST(ReadLoop, InterruptedReadsAreTakenUpAndOnlyRealFailuresReported) {
  constexpr std::size_t kBuffer = 1000;
  struct Case {
    const char* what;
    Script steps;
    std::vector<tapnames::ReadResult> reads;  // each call in turn, the last one repeated once more
  };
  const Case cases[] = {
      {"end of file at once", {}, {{0, 0}}},
      {"a short image", {{300, 0}}, {{300, 0}}},
      {"interrupted before any byte", {{0, EINTR}, {300, 0}}, {{300, 0}}},
      {"interrupted after a partial read", {{300, 0}, {0, EINTR}, {200, 0}}, {{500, 0}}},
      {"interrupted twice, the buffer filled",
       {{600, 0}, {0, EINTR}, {0, EINTR}, {700, 0}},
       {{kBuffer, 0}, {300, 0}}},
      {"a failure after a partial read", {{300, 0}, {0, EIO}}, {{300, EIO}}},
      {"a failure before any byte", {{0, EIO}}, {{0, EIO}}},
  };
  for (const Case& c : cases) {
    Scripted script{c.steps};
    std::FILE* file = fopencookie(&script, "rb", {scripted_read, nullptr, nullptr, nullptr});
    ASSERT_NE(file, nullptr);
    std::setvbuf(file, nullptr, _IONBF, 0);
    std::vector<std::uint8_t> buffer(kBuffer);
    std::size_t total = 0;
    std::vector<tapnames::ReadResult> reads = c.reads;
    if (reads.back().error == 0) {
      reads.push_back({0, 0});  // after the end, the end again: never a failure
    }
    for (const tapnames::ReadResult& want : reads) {
      const tapnames::ReadResult got = tapnames::read_full(file, buffer);
      EXPECT_EQ(got.count, want.count) << c.what;
      EXPECT_EQ(got.error, want.error) << c.what;
      for (std::size_t i = 0; i < got.count; ++i) {
        ASSERT_EQ(buffer[i], static_cast<std::uint8_t>(total + i)) << c.what << " at " << i;
      }
      total += got.count;
    }
    std::fclose(file);
  }
}
#endif

TEST(ReadLoop, ErrorTextIsTheSystemsAndNeverEmpty) {
  std::array<char, tapnames::kErrorTextSize> storage{};
  EXPECT_EQ(tapnames::error_text(ENOENT, storage), std::string_view(std::strerror(ENOENT)));
  EXPECT_FALSE(tapnames::error_text(-12345, storage).empty());
}

}  // namespace
