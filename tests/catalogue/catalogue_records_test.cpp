// SPDX-License-Identifier: MIT
// The catalogue's escaping, table by table: what a reader of each format
// needs to get every path and name back.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fnmatch.h>
#endif

#include <string>
#include <string_view>
#include <vector>

#include "options.h"
#include "records.h"
#include "run.h"
#include "walk.h"

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
}

}  // namespace
