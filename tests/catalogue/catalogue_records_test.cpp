// SPDX-License-Identifier: MIT
// The catalogue's escaping, table by table: what a reader of each format
// needs to get every path and name back. Its options, the lists of
// --files-from as Windows tools write them, and wildcards on Windows.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#if !defined(_WIN32)
#include <fnmatch.h>
#endif

#include <string>
#include <string_view>
#include <vector>

#include "options.h"
#include "records.h"
#include "run.h"
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

TEST(CatalogueRecords, TsvEscapesTabNewlineCarriageReturnAndBackslashOnly) {
  for (const Case& c : std::vector<Case>{{"plain", "plain"},
                                         {"a\tb", "a\\tb"},
                                         {"a\nb", "a\\nb"},
                                         {"a\\tb", "a\\\\tb"},
                                         {"\r\"',", "\\r\"',"},
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

// Messages are one line whatever the path or the reason holds.
TEST(CatalogueRecords, MessagesEscapePathsAsTsvDoes) {
  std::string text;
  catalogue::append_message(text, "a\nb\tc\r\\.tap", "bad\nthing");
  EXPECT_EQ(text, "tapnames-catalogue: a\\nb\\tc\\r\\\\.tap: bad\\nthing\n");
}

// A member's chain beside its path in JSON Lines, and the per-image records
// in every format.
TEST(CatalogueRecords, MembersAndImageRecords) {
  const std::vector<std::string> chain = {"in!ner.zip", "x.tap"};
  const std::vector<std::string> odd = {"\xff.zip", "x.tap"};
  std::string out;
  catalogue::append_record(out, catalogue::Format::Jsonl,
                           {.path = "o.zip!in!ner.zip!x.tap",
                            .members = chain,
                            .number = 1,
                            .offset = 8,
                            .block_type = 2,
                            .name = "N"});
  const catalogue::ImageRecord image{.path = "o.zip!\xff.zip!x.tap",
                                     .members = odd,
                                     .bytes = 9,
                                     .names = 2,
                                     .first_name = "A,\"B\"",
                                     .error = "cut\tshort"};
  for (const catalogue::Format format :
       {catalogue::Format::Tsv, catalogue::Format::Csv, catalogue::Format::Jsonl}) {
    catalogue::append_image_header(out, format);
    catalogue::append_image_record(out, format, image);
  }
  EXPECT_EQ(out,
            R"({"path":"o.zip!in!ner.zip!x.tap","members":["in!ner.zip","x.tap"],"number":1,)"
            R"("offset":8,"block_type":2,"name":"N"})"
            "\n"
            "path\tbytes\tnames\tfirst_name\terror\n"
            "o.zip!\xff.zip!x.tap\t9\t2\tA,\"B\"\tcut\\tshort\n"
            "path,bytes,names,first_name,error\r\n"
            "o.zip!\xff.zip!x.tap,9,2,\"A,\"\"B\"\"\",cut\tshort\r\n"
            R"({"path_base64":"by56aXAh/y56aXAheC50YXA=","members_base64":["/y56aXA=","eC50YXA="],)"
            R"("bytes":9,"names":2,"first_name":"A,\"B\"","error":"cut\tshort"})"
            "\n");
}

// The matcher that --exclude uses on Windows gives fnmatch's answers.
TEST(CatalogueWalk, GlobMatchesAsFnmatch) {
  struct Glob {
    std::string_view pattern;
    std::string_view name;
    bool match;
  };
  for (const Glob& g : std::vector<Glob>{{"*.tap", "a.tap", true},
                                         {"*.tap", "a.TAP", false},
                                         {"*", ".hidden", true},
                                         {"a*b*c", "aXbYbZc", true},
                                         {"a*b*c", "aXbYbZ", false},
                                         {"?.tap", "ab.tap", false},
                                         {"[a-c]x", "bx", true},
                                         {"[!a-c]x", "bx", false},
                                         {"[^a-c]x", "dx", true},
                                         {"[]a]", "]", true},
                                         {"[a-]", "-", true},
                                         {"\\*", "*", true},
                                         {"\\*", "x", false},
                                         {"[x", "[x", true},
                                         {"**", "", true},
                                         {"", "", true},
                                         {"", "a", false},
                                         {"sub?dir", "sub dir", true}}) {
    EXPECT_EQ(catalogue::glob_match(g.pattern, g.name), g.match) << g.pattern << " " << g.name;
#if !defined(_WIN32)
    EXPECT_EQ(fnmatch(std::string(g.pattern).c_str(), std::string(g.name).c_str(), 0) == 0, g.match)
        << g.pattern << " " << g.name;
#endif
  }
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
  const auto walk = catalogue::parse_options(
      {"--max-depth=0", "--exclude", "*.bak", "--exclude=x", "--one-file-system", "--images", "d"});
  ASSERT_EQ(walk.action, catalogue::Action::Run) << walk.error;
  EXPECT_EQ(walk.options.max_depth, 0U);
  EXPECT_EQ(walk.options.excludes, (std::vector<std::string>{"*.bak", "x"}));
  EXPECT_TRUE(walk.options.one_file_system && walk.options.images);
  EXPECT_FALSE(catalogue::parse_options({"d"}).options.max_depth.has_value());
  for (const auto& bad : std::vector<std::vector<std::string_view>>{{"-j"},
                                                                    {"-j", "x"},
                                                                    {"-j", "257"},
                                                                    {"--jobs=0"},
                                                                    {"--format", "xml"},
                                                                    {"--follow=1"},
                                                                    {"--max-depth", "-1"},
                                                                    {"--max-depth="},
                                                                    {"--exclude"},
                                                                    {"--images=1"},
                                                                    {"d", ""},
                                                                    {"--", ""},
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
