// SPDX-License-Identifier: MIT
// The option scan: options before the path, second character only, and
// nothing after the path.
#include "cli.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Case {
  std::vector<const char*> argv;
  bool all;
  bool escape;
  const char* path;
};

TEST(Options, FollowTheScanRules) {
  const Case cases[] = {
      {{"tapnames"}, false, false, nullptr},
      {{"tapnames", "-a", "-e"}, true, true, nullptr},
      {{"tapnames", "-a", "-e", "x.tap"}, true, true, "x.tap"},
      {{"tapnames", "-e", "-a", "x.tap"}, true, true, "x.tap"},
      {{"tapnames", "-all", "x.tap"}, true, false, "x.tap"},
      {{"tapnames", "-ae", "x.tap"}, true, false, "x.tap"},
      {{"tapnames", "-x", "-", "--", "x.tap"}, false, false, "x.tap"},
      {{"tapnames", "x.tap", "-a", "-e"}, false, false, "x.tap"},
      {{"tapnames", "", "-a"}, false, false, ""},
  };
  for (const Case& c : cases) {
    const auto options = tapnames::parse_options(static_cast<int>(c.argv.size()), c.argv.data());
    EXPECT_EQ(options.list.extract_all, c.all) << c.argv.back();
    EXPECT_EQ(options.list.escape, c.escape) << c.argv.back();
    if (c.path == nullptr) {
      EXPECT_EQ(options.path, nullptr) << c.argv.back();
    } else {
      EXPECT_STREQ(options.path, c.path) << c.argv.back();
    }
  }
}

TEST(Options, ProgramNameFallsBackForAnEmptyVector) {
  const char* const none[] = {nullptr};
  const char* const empty[] = {"", nullptr};
  const char* const given[] = {"./bin/tn", nullptr};
  EXPECT_STREQ(tapnames::program_name(0, none), "tapnames");
  EXPECT_STREQ(tapnames::program_name(1, empty), "tapnames");
  EXPECT_STREQ(tapnames::program_name(1, given), "./bin/tn");
  EXPECT_EQ(tapnames::parse_options(0, none).path, nullptr);
}

}  // namespace
