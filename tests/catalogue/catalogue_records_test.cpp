// SPDX-License-Identifier: MIT
// The catalogue's escaping, table by table: what a reader of each format
// needs to get every path and name back. Its options, the lists of
// --files-from as Windows tools write them, and wildcards on Windows.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "options.h"
#include "records.h"
#include "scratch.h"
#include "walk.h"
#include "wildcards.h"

#if defined(_WIN32)
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

namespace {

struct Case {
  std::string_view in;
  std::string_view out;
};

std::string apply(void (*append)(std::string&, std::string_view), std::string_view in) {
  std::string out;
  append(out, in);
  return out;
}

TEST(CatalogueRecords, TsvEscapesTabNewlineAndBackslashOnly) {
  for (const Case& c : std::vector<Case>{{"plain", "plain"},
                                         {"a\tb", "a\\tb"},
                                         {"a\nb", "a\\nb"},
                                         {"a\\tb", "a\\\\tb"},
                                         {"\r\"',", "\r\"',"},
                                         {"\xff\x01", "\xff\x01"}}) {
    EXPECT_EQ(apply(catalogue::append_tsv_field, c.in), c.out) << c.in;
  }
}

TEST(CatalogueRecords, CsvQuotesOnlyWhatRfc4180Needs) {
  for (const Case& c : std::vector<Case>{{"plain name", "plain name"},
                                         {"", ""},
                                         {"a,b", "\"a,b\""},
                                         {"say \"hi\"", "\"say \"\"hi\"\"\""},
                                         {"line\nbreak", "\"line\nbreak\""},
                                         {"cr\r", "\"cr\r\""},
                                         {"tab\t\\", "tab\t\\"}}) {
    EXPECT_EQ(apply(catalogue::append_csv_field, c.in), c.out) << c.in;
  }
}

TEST(CatalogueRecords, JsonStringsEscapeQuotesAndControls) {
  for (const Case& c :
       std::vector<Case>{{"a", "\"a\""},
                         {"q\"b\\", "\"q\\\"b\\\\\""},
                         {"\t\n\r", "\"\\t\\n\\r\""},
                         {std::string_view("\x01\x1f\x7f", 3), "\"\\u0001\\u001f\\u007f\""},
                         {"caf\xc3\xa9", "\"caf\xc3\xa9\""}}) {
    EXPECT_EQ(apply(catalogue::append_json_string, c.in), c.out) << c.in;
  }
}

TEST(CatalogueRecords, Utf8IsCheckedStrictly) {
  const std::vector<std::pair<std::string_view, bool>> cases = {
      {"ascii", true},         {"caf\xc3\xa9", true},
      {"\xe2\x82\xac", true},  {"\xf0\x9f\x98\x80", true},
      {"\xff", false},         {"\xc3", false},
      {"\xc0\xaf", false},     {"\xe0\x80\xaf", false},
      {"\xed\xa0\x80", false}, {"\xf4\x90\x80\x80", false},
      {"\xe2\x82", false},     {"a\x80", false}};
  for (const auto& [text, valid] : cases) {
    EXPECT_EQ(catalogue::is_utf8(text), valid) << text;
  }
}

TEST(CatalogueRecords, Base64AsRfc4648) {
  for (const Case& c : std::vector<Case>{{"", ""},
                                         {"f", "Zg=="},
                                         {"fo", "Zm8="},
                                         {"foo", "Zm9v"},
                                         {"foob", "Zm9vYg=="},
                                         {"\xff\xfe\xfd", "//79"}}) {
    EXPECT_EQ(apply(catalogue::append_base64, c.in), c.out) << c.in;
  }
}

TEST(CatalogueRecords, AnImageWithoutNamesHasEmptyFields) {
  const catalogue::Record none{.path = "x,y.tap", .name = {}};
  std::string out;
  catalogue::append_record(out, catalogue::Format::Tsv, none);
  catalogue::append_record(out, catalogue::Format::Csv, none);
  catalogue::append_record(out, catalogue::Format::Jsonl, none);
  EXPECT_EQ(
      out,
      "x,y.tap\t0\t\t\t\n"
      "\"x,y.tap\",0,,,\r\n"
      "{\"path\":\"x,y.tap\",\"number\":0,\"offset\":null,\"block_type\":null,\"name\":\"\"}\n");
}

TEST(CatalogueOptions, ValuesJoinedOrApartAndBundledFlags) {
  const auto parsed = catalogue::parse_options(
      {"-e0q", "-j3", "--format=csv", "--files-from", "list", "--", "-dash.tap", "x"});
  ASSERT_EQ(parsed.action, catalogue::Action::Run) << parsed.error;
  const catalogue::Options& o = parsed.options;
  EXPECT_TRUE(o.escape && o.null_separated && o.quiet && !o.follow && !o.all_images);
  EXPECT_EQ(o.jobs, 3U);
  EXPECT_EQ(o.format, catalogue::Format::Csv);
  EXPECT_EQ(o.files_from, std::vector<std::string>{"list"});
  EXPECT_EQ(o.paths, (std::vector<std::string>{"-dash.tap", "x"}));
  EXPECT_EQ(catalogue::parse_options({"-j", "2", "-"}).options.paths,
            std::vector<std::string>{"-"});
  for (const auto& bad : std::vector<std::vector<std::string_view>>{{"-j"},
                                                                    {"-j", "x"},
                                                                    {"-j", "257"},
                                                                    {"--jobs=0"},
                                                                    {"--format", "xml"},
                                                                    {"--follow=1"},
                                                                    {"-z"}}) {
    EXPECT_EQ(catalogue::parse_options(bad).action, catalogue::Action::UsageError) << bad[0];
  }
  // "/?" is the help on Windows, a path elsewhere; after "--" a path everywhere.
  EXPECT_EQ(catalogue::parse_options({"x", "/?"}).action,
            kWindows ? catalogue::Action::Help : catalogue::Action::Run);
  EXPECT_EQ(catalogue::parse_options({"--", "/?"}).options.paths, std::vector<std::string>{"/?"});
}

// Files written in a scratch folder of the test's own.
class TempFolder : public testing::Test {
 protected:
  std::string write(const std::string& name, std::string_view bytes) const {
    const std::filesystem::path path = folder_.path() / name;
    std::FILE* file = std::fopen(path.string().c_str(), "wb");
    EXPECT_NE(file, nullptr);
    if (file != nullptr) {
      std::fwrite(bytes.data(), 1, bytes.size(), file);
      std::fclose(file);
    }
    return path.string();
  }

  support::ScratchFolder folder_{testing::UnitTest::GetInstance()->current_test_info()->name()};
};

using PathLists = TempFolder;

TEST_F(PathLists, Utf8WithOrWithoutAMarkAndUtf16WithOne) {
  using namespace std::string_view_literals;
  const std::vector<std::string> greek = {"a.tap", "\xCE\xB1/\xCE\xB2.tap", "\xF0\x9F\x98\x80.tap"};
  struct List {
    const char* what;
    std::string_view bytes;
    bool null_separated;
    std::vector<std::string> paths;
  };
  const std::vector<List> cases = {
      {"UTF-8", "a.tap\n\xCE\xB1/\xCE\xB2.tap\n\xF0\x9F\x98\x80.tap\n", false, greek},
      {"UTF-8 with a mark, CRLF",
       "\xEF\xBB\xBF"
       "a.tap\r\n\xCE\xB1/\xCE\xB2.tap\r\n\xF0\x9F\x98\x80.tap",
       false, greek},
      {"UTF-16LE with a mark, CRLF (PowerShell 5)",
       "\xFF\xFE"
       "a\0.\0t\0a\0p\0\r\0\n\0\xB1\x03/\0\xB2\x03.\0t\0a\0p\0\r\0\n\0"
       "\x3D\xD8\x00\xDE.\0t\0a\0p\0\r\0\n\0"sv,
       false, greek},
      {"UTF-16BE with a mark",
       "\xFE\xFF\0a\0.\0t\0a\0p\0\n\x03\xB1\0/\x03\xB2\0.\0t\0a\0p\0\n"
       "\xD8\x3D\xDE\x00\0.\0t\0a\0p"sv,
       false, greek},
      {"UTF-16LE separated by NUL", "\xFF\xFEx\0\0\0y\0\0\0"sv, true, {"x", "y"}},
      {"a mark alone", "\xFF\xFE", false, {}},
      {"only the start of a mark is no mark",
       "\xEF\xBB"
       "x\n",
       false,
       {"\xEF\xBBx"}},
  };
  for (const List& c : cases) {
    const std::string list = write("list", c.bytes);
    std::vector<std::string> paths;
    std::string error;
    EXPECT_TRUE(catalogue::read_path_list(list, c.null_separated, paths, error)) << c.what;
    EXPECT_EQ(error, "") << c.what;
    EXPECT_EQ(paths, c.paths) << c.what;
  }
  std::vector<std::string> paths;
  std::string error;
  EXPECT_FALSE(catalogue::read_path_list(write("odd", "\xFF\xFEx\0y"sv), false, paths, error));
  EXPECT_EQ(error, "the list is UTF-16 but ends in half a character");
}

using Wildcards = TempFolder;

TEST_F(Wildcards, ExpandedOnWindowsAloneInNameOrderWithTheFolderAsTyped) {
  for (const char* name : {"b.tap", "a.tap", "C.TAP", "notes.txt"}) {
    write(name, "");
  }
  const std::string folder = folder_.path().string();
  struct Argument {
    std::string argument;
    std::vector<std::string> windows;  // elsewhere: the argument alone
  };
  const std::vector<Argument> cases = {
      {folder + "/*.tap", {folder + "/C.TAP", folder + "/a.tap", folder + "/b.tap"}},
      {folder + "\\?.tap", {folder + "\\C.TAP", folder + "\\a.tap", folder + "\\b.tap"}},
      {folder + "/no*", {folder + "/notes.txt"}},
      {folder + "/*.none", {folder + "/*.none"}},
      {folder + "/a.tap", {folder + "/a.tap"}},
  };
  for (const Argument& c : cases) {
    const std::vector<std::string> expanded = catalogue::expand_wildcards({c.argument});
    EXPECT_EQ(expanded, kWindows ? c.windows : std::vector<std::string>{c.argument}) << c.argument;
  }
  EXPECT_EQ(catalogue::expand_wildcards({"x", folder + "/b*", "y"}),
            (kWindows ? std::vector<std::string>{"x", folder + "/b.tap", "y"}
                      : std::vector<std::string>{"x", folder + "/b*", "y"}));
}

}  // namespace
