// The locks the connection layer gives SQLite: each kind behaves as SQLite
// relies on, since a wrong one deadlocks or lets two threads in at once.
#include <thread>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "platform/kvdbal/sqlite/SqliteThreading.h"

TEST(SqliteThreading, RecursiveLocksNestFastLocksExcludeStaticLocksAreShared) {
  kvdbal::ConfigureSqliteForThreads();
  ASSERT_EQ(sqlite3_initialize(), SQLITE_OK);

  sqlite3_mutex* recursive = sqlite3_mutex_alloc(SQLITE_MUTEX_RECURSIVE);
  ASSERT_NE(recursive, nullptr);
  sqlite3_mutex_enter(recursive);
  EXPECT_EQ(sqlite3_mutex_try(recursive), SQLITE_OK);
  sqlite3_mutex_leave(recursive);
  sqlite3_mutex_leave(recursive);
  sqlite3_mutex_free(recursive);

  sqlite3_mutex* fast = sqlite3_mutex_alloc(SQLITE_MUTEX_FAST);
  ASSERT_NE(fast, nullptr);
  sqlite3_mutex_enter(fast);
  int tried = -1;
  std::thread([&] { tried = sqlite3_mutex_try(fast); }).join();
  EXPECT_EQ(tried, SQLITE_BUSY);
  sqlite3_mutex_leave(fast);

  sqlite3_mutex_free(fast);

  EXPECT_EQ(sqlite3_mutex_alloc(SQLITE_MUTEX_STATIC_VFS1), sqlite3_mutex_alloc(SQLITE_MUTEX_STATIC_VFS1));
  EXPECT_NE(sqlite3_mutex_alloc(SQLITE_MUTEX_STATIC_VFS1), sqlite3_mutex_alloc(SQLITE_MUTEX_STATIC_MEM));
}
