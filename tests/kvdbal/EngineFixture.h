// Each access-layer test gets a fresh, empty SQLite file or PostgreSQL
// schema of its own, on the engine of its parameter.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/kvdbal/KvDbal.h"
#include "tests/fixture/Engines.h"

class LayerTest : public EngineTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A connection string to this test's database, with extra options after '?'.
  std::string ConnectionString(const std::string& options = "") const;
  // A new session connection and a connection wrapper on it.
  std::unique_ptr<CKvDbConnection> Connect(const std::string& options = "") const;
  // The SQLite database file ("" on PostgreSQL).
  std::string SqlitePath() const;
  // The binary and long text column types of the engine.
  const char* BinaryType() const {
    return IsMariaDB() ? "LONGBLOB" : IsServer() ? "BYTEA" : "BLOB";
  }
  const char* LongTextType() const { return IsMariaDB() ? "LONGTEXT" : "TEXT"; }

  void Exec(const std::string& sql) const;
  long QueryLong(const std::string& sql) const;
  std::string QueryString(const std::string& sql) const;

  std::unique_ptr<CKvDbConnection> m_db;  // for the test's own set-up and checks

 private:
  std::unique_ptr<TestDatabase> m_database;
};

// The message of the CKvDbException that call raises, which must carry
// code hr; what names the call in a failure.
std::string FailureOf(const std::function<void()>& call, HRESULT hr, const char* what = "the call");

// Expects statement to raise CKvDbException with code hr.
#define EXPECT_KVDB_ERROR(statement, hr) FailureOf([&] { statement; }, hr, #statement)
