// Access layer against raw SQLite on the same work in the same process.
//   kvdbal_open_getvalue: Open + GetField(0) + GetValue + Close of a
//     one-row query, against prepare/step/column/finalize of the same text.
//   kvdbal_move_memory: Move(500000) over a 1,000,000-row result must not
//     hold the rows it skips.
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "BenchUtil.h"
#include "platform/kvdbal/KvDbal.h"

namespace {

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) throw std::runtime_error(sqlite3_errmsg(db));
}

// Fills table t with rows (lid 1..rows, strname "name <lid>") in one transaction.
void CreateTable(sqlite3* db, int rows) {
  Check(sqlite3_exec(db, "PRAGMA journal_mode=WAL; CREATE TABLE t (lid INTEGER PRIMARY KEY, strname TEXT);"
                         "BEGIN", nullptr, nullptr, nullptr), db);
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO t (lid, strname) VALUES (?1, ?2)", -1, &insert, nullptr), db);
  for (int i = 1; i <= rows; ++i) {
    std::string name = "name " + std::to_string(i);
    sqlite3_bind_int(insert, 1, i);
    sqlite3_bind_text(insert, 2, name.c_str(), -1, SQLITE_TRANSIENT);
    Check(sqlite3_step(insert), db);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
}

std::unique_ptr<CKvDbConnection> Connect(const std::string& path) {
  IDispatch* session = nullptr;
  KvDbOpenSessionConnection("sqlite:" + path + "?mode=rwc", &session);
  return std::make_unique<CKvDbConnection>(session, false);
}

void OpenGetValue() {
  const int rows = 10000, iterations = 5000;
  std::string path = bench::ScratchPath("kvdbal_open_getvalue");
  sqlite3* raw = nullptr;
  Check(sqlite3_open(path.c_str(), &raw), raw);
  CreateTable(raw, rows);
  std::unique_ptr<CKvDbConnection> connection = Connect(path);

  size_t sink = 0;  // keeps both sides from skipping their reads
  char sql[64];
  auto ours = [&] {
    for (int i = 0; i < iterations; ++i) {
      std::snprintf(sql, sizeof sql, "SELECT strname FROM t WHERE lid=%d", i % rows + 1);
      CKvDbRowset rs;
      rs.Open(sql, connection.get(), -1, -1, 0);
      CComVariant value = rs.GetField(0)->GetValue();
      sink += SysStringLen(value.bstrVal);
      rs.Close();
    }
  };
  auto engine = [&] {
    for (int i = 0; i < iterations; ++i) {
      std::snprintf(sql, sizeof sql, "SELECT strname FROM t WHERE lid=%d", i % rows + 1);
      sqlite3_stmt* stmt = nullptr;
      Check(sqlite3_prepare_v2(raw, sql, -1, &stmt, nullptr), raw);
      if (sqlite3_step(stmt) == SQLITE_ROW) {
        sqlite3_column_text(stmt, 0);
        sink += sqlite3_column_bytes(stmt, 0);
      }
      sqlite3_finalize(stmt);
    }
  };
  ours();  // warm both caches
  engine();
  double ratio = bench::CompareBest(25, ours, engine);
  connection.reset();
  sqlite3_close(raw);
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  if (sink == 0) std::printf("nothing was read\n");
  bench::PrintRatio("kvdbal_open_getvalue", ratio, 1.15);
}

void MoveMemory() {
  std::string path = bench::ScratchPath("kvdbal_move_memory");
  {
    sqlite3* raw = nullptr;
    Check(sqlite3_open(path.c_str(), &raw), raw);
    CreateTable(raw, 1000000);
    sqlite3_close(raw);
  }
  std::unique_ptr<CKvDbConnection> connection = Connect(path);
  double growth = 0;
  {
    CKvDbRowset rs;
    bench::PeakMemory probe;
    rs.Open("SELECT lid, strname FROM t ORDER BY lid", connection.get(), -1, -1, 0);
    rs.Move(500000);
    if (rs.GetField(0)->GetLongValue() != 500001) std::printf("Move landed on the wrong row\n");
    rs.Close();
    growth = probe.GrowthMiB();
  }
  connection.reset();
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  bench::PrintPeak("kvdbal_move_memory", growth, 8);
}

}  // namespace

int main() {
  try {
    OpenGetValue();
    MoveMemory();
  } catch (const CKvDbException& e) {
    std::fprintf(stderr, "bench_kvdbal: %s\n", e.Message().c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_kvdbal: %s\n", e.what());
    return 1;
  }
  return 0;
}
