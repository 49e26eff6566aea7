// SPDX-License-Identifier: MIT
// The static SQLite that the MinGW build makes for itself links, and opens
// and runs statements on an in-memory database.
#include <gtest/gtest.h>
#include <sqlite3.h>

TEST(SqliteLink, OpensAnInMemoryDatabase) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "CREATE TABLE t(name TEXT); INSERT INTO t VALUES('HIGH SCORES');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(db);
  EXPECT_EQ(sqlite3_changes(db), 1);
  EXPECT_EQ(sqlite3_close(db), SQLITE_OK);
}
