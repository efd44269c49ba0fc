// The paged result pump against raw SQLite on the same page of the same
// query in the same process.
//   paged_init_skip: Init with a plain count, a sort clause and a start of
//     500,000 over a 1,000,000-row table, then 20 rows read with Value,
//     against COUNT(*), preparing the sorted query, stepping 500,000 rows
//     and reading 20.
//   paged_init_skip_memory: the same Init and reads must not hold the rows
//     they skip.
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "BenchComponent.h"
#include "BenchUtil.h"
#include "platform/host/HostSession.h"
#include "src/pagedpump/KvDRPump.h"

namespace {

constexpr int kRows = 1000000;
constexpr LONG kStart = 500000;
constexpr int kPageRows = 20;
constexpr const char* kQuery = "SELECT lid, strname FROM t";
constexpr const char* kSorter = "ORDER BY strname";

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) throw std::runtime_error(sqlite3_errmsg(db));
}

// Table t (lid 1..rows, strname indexed so the sort clause is served in
// order) and an empty krappdatapack, which the text loading looks into.
void CreateDatabase(const std::string& path) {
  sqlite3* db = nullptr;
  Check(sqlite3_open(path.c_str(), &db), db);
  Check(sqlite3_exec(db,
                     "PRAGMA journal_mode=WAL;"
                     "CREATE TABLE krappdatapack (lid INTEGER PRIMARY KEY, strtable TEXT, strname TEXT);"
                     "CREATE TABLE t (lid INTEGER PRIMARY KEY, strname TEXT); BEGIN",
                     nullptr, nullptr, nullptr),
        db);
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO t (lid, strname) VALUES (?1, ?2)", -1, &insert, nullptr), db);
  for (int i = 1; i <= kRows; ++i) {
    const std::string name = "name " + std::to_string(i);
    sqlite3_bind_int(insert, 1, i);
    sqlite3_bind_text(insert, 2, name.c_str(), -1, SQLITE_TRANSIENT);
    Check(sqlite3_step(insert), db);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Check(sqlite3_exec(db, "COMMIT; CREATE INDEX t_strname ON t (strname)", nullptr, nullptr, nullptr), db);
  sqlite3_close(db);
}

// One page through the paged pump; returns the bytes read.
size_t PumpPage(IDispatch* session) {
  return bench::PumpPage(session, kQuery, kSorter, "strname", kStart, kRows, kPageRows);
}

// The same page straight from the engine.
size_t RawPage(sqlite3* db) {
  sqlite3_stmt* stmt = nullptr;
  Check(sqlite3_prepare_v2(db, "SELECT COUNT(*) AS lcount FROM t ", -1, &stmt, nullptr), db);
  Check(sqlite3_step(stmt), db);
  if (sqlite3_column_int(stmt, 0) != kRows) throw std::runtime_error("raw count");
  sqlite3_finalize(stmt);

  const std::string sql = std::string(kQuery) + " " + kSorter;
  Check(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), db);
  for (LONG i = 0; i <= kStart; ++i) Check(sqlite3_step(stmt), db);
  size_t bytes = 0;
  for (int i = 0; i < kPageRows; ++i) {
    sqlite3_column_text(stmt, 1);
    bytes += sqlite3_column_bytes(stmt, 1);
    Check(sqlite3_step(stmt), db);
  }
  sqlite3_finalize(stmt);
  return bytes;
}

}  // namespace

int main() {
  const std::string path = bench::ScratchPath("paged_init_skip");
  int status = 0;
  try {
    CreateDatabase(path);
    const ComPtr<IDispatch> session = bench::NewSession("sqlite:" + path + "?mode=rwc");
    // Memory first, on a fresh process: later runs would reuse whatever
    // heap an earlier one left behind and hide its growth.
    {
      bench::PeakMemory probe;
      PumpPage(session.Get());
      bench::PrintPeak("paged_init_skip_memory", probe.GrowthMiB(), 8);
    }

    sqlite3* raw = nullptr;
    Check(sqlite3_open(path.c_str(), &raw), raw);
    size_t ours = PumpPage(session.Get());  // warms both caches
    size_t engine = RawPage(raw);
    if (ours != engine) throw std::runtime_error("the two pages differ");
    const double ratio =
        bench::CompareBest(5, [&] { ours += PumpPage(session.Get()); }, [&] { engine += RawPage(raw); });
    sqlite3_close(raw);
    bench::PrintRatio("paged_init_skip", ratio, 1.2);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_pagedpump: %s\n", e.what());
    status = 1;
  }
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  return status;
}
