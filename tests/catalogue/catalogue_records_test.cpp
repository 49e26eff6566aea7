// SPDX-License-Identifier: MIT
// The catalogue's escaping, table by table: what a reader of each format
// needs to get every path and name back.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "options.h"
#include "records.h"

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
}

}  // namespace
