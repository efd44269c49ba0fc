// The component on PostgreSQL against raw libpq on the same work in the same
// process. Runs when KV_BENCH_PG names a server (bench/run starts a
// throwaway cluster); prints nothing otherwise.
//   pg_valuebyfieldname: ValueByFieldName on a bound order of a 10,000-row
//     table, against PQexec of the same SELECT text per call.
//   pg_savefieldvalues: SaveFieldValues of a new order with two language
//     rows, against the statements that save runs, each sent as its text.
//   pg_paged_init_skip: KvDRPump.Init with a count, a sort and a start of
//     50,000 over 100,000 rows, then 20 rows read, against COUNT(*) and
//     DECLARE / MOVE / FETCH of the sorted query in a transaction.
//   pg_paged_init_skip_memory: the skipped rows must not reach the process.
#include <libpq-fe.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "BenchComponent.h"
#include "BenchUtil.h"
#include "demoapp/DemoSchema.h"
#include "platform/host/HostSession.h"
#include "src/pagedpump/KvDRPump.h"
#include "src/recordpump/KvDataPump.h"

namespace {

constexpr int kOrders = 10000;
constexpr int kPagedRows = 100000;
constexpr LONG kStart = 50000;
constexpr int kPageRows = 20;

// The work is mostly the server's, so the sides are timed on the wall
// clock; the server shares the machine's cores and its load, and the best
// of many short runs is the one least disturbed.
constexpr int kRepeats = 15;

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

Result Run(PGconn* conn, const std::string& sql) {
  Result result(PQexec(conn, sql.c_str()));
  const ExecStatusType status = PQresultStatus(result.get());
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
    throw std::runtime_error(sql + ": " + PQerrorMessage(conn));
  return result;
}

void CreateDatabase(PGconn* raw, IDispatch* session) {
  Run(raw, "SET client_min_messages TO WARNING");
  for (const char* table : {"krappform", "krappeditpack", "krappviewpack", "krappdatapack",
                            "krappdatafield", "krappcontrol", "krlang", "kruploadfile", "krorder",
                            "krorder_l", "krorderline", "krorderline_l", "krlinenote", "krpaged"})
    Run(raw, std::string("DROP TABLE IF EXISTS ") + table);
  auto connection = bench::SessionConnection(session);
  kvdemo::CreateRepositoryTables(*connection, kvdemo::SqlDialect::PostgreSQL);
  kvdemo::CreateDemoApplication(*connection, kvdemo::SqlDialect::PostgreSQL);
  Run(raw, "INSERT INTO krorder (lid, strno, lamount) SELECT i, 'order ' || i, i FROM generate_series(1, " +
               std::to_string(kOrders) + ") i");
  Run(raw, "CREATE TABLE krpaged (lid INTEGER PRIMARY KEY, strname VARCHAR(40))");
  Run(raw, "INSERT INTO krpaged SELECT i, 'name ' || lpad(i::text, 7, '0') FROM generate_series(1, " +
               std::to_string(kPagedRows) + ") i");
  Run(raw, "CREATE INDEX krpaged_name ON krpaged (strname)");
  Run(raw, "ANALYZE");
}

void ValueByFieldName(PGconn* raw, IDispatch* session) {
  const int iterations = 2000;
  ComPtr<IKvDataPump> pump = bench::BoundRecordPump(session, kvdemo::kFormOrderEdit);
  size_t sink = 0;
  auto ours = [&] { sink += bench::ReadFieldOfEachRecord(pump.Get(), "strno", kOrders, iterations); };
  char sql[96];
  auto rawSide = [&] {
    for (int i = 0; i < iterations; ++i) {
      std::snprintf(sql, sizeof sql, "SELECT %s FROM %s WHERE lid=%d", "strno", "krorder", i % kOrders + 1);
      Result result = Run(raw, sql);
      if (PQntuples(result.get()) == 1) sink += static_cast<size_t>(PQgetlength(result.get(), 0, 0));
    }
  };
  const double ratio = bench::CompareBest(kRepeats, ours, rawSide, bench::Clock::Wall);
  if (sink == 0) throw std::runtime_error("nothing was read");
  bench::PrintRatio("pg_valuebyfieldname", ratio, 1.0);
}

void SaveFieldValues(PGconn* raw, IDispatch* session) {
  const int iterations = 200;
  ComPtr<IKvDataPump> pump = bench::BoundRecordPump(session, kvdemo::kFormOrderEdit);
  const bench::OrderSaver saver("saved", "Titel", "Title");
  auto ours = [&] {
    for (int i = 0; i < iterations; ++i) saver.Save(pump.Get(), LONG{i});
  };
  auto nextId = [&](const char* table) {
    Result max = Run(raw, std::string("SELECT MAX(lid) as maxid FROM ") + table);
    return (PQgetisnull(max.get(), 0, 0) ? 0 : std::atoi(PQgetvalue(max.get(), 0, 0))) + 1;
  };
  auto rawSide = [&] {
    for (int i = 0; i < iterations; ++i) {
      Run(raw, "BEGIN");
      const int id = nextId("krorder");
      Run(raw, "SELECT * FROM krorder WHERE lid = -1");
      Run(raw, "INSERT INTO krorder (strno, lamount, lid) VALUES ('saved', " + std::to_string(i) + ", " +
                   std::to_string(id) + ")");
      for (const auto& [lcid, text] : {std::pair<int, const char*>{1031, "Titel"}, {1033, "Title"}}) {
        Run(raw, "SELECT * FROM krorder_l WHERE lparentid=" + std::to_string(id) + " AND llcid=" +
                     std::to_string(lcid));
        const int langId = nextId("krorder_l");
        Run(raw, "SELECT * FROM krorder_l WHERE lid = -1");
        Run(raw, "INSERT INTO krorder_l (strtitle, lid, lparentid, llcid) VALUES ('" + std::string(text) +
                     "', " + std::to_string(langId) + ", " + std::to_string(id) + ", " + std::to_string(lcid) +
                     ")");
      }
      Run(raw, "COMMIT");
    }
  };
  const double ratio = bench::CompareBest(kRepeats, ours, rawSide, bench::Clock::Wall);
  bench::PrintRatio("pg_savefieldvalues", ratio, 1.1);
}

size_t PumpPage(IDispatch* session) {
  return bench::PumpPage(session, "SELECT lid, strname FROM krpaged", "ORDER BY strname", "strname",
                         kStart, kPagedRows, kPageRows);
}

size_t RawPage(PGconn* raw) {
  Result count = Run(raw, "SELECT COUNT(*) AS lcount FROM krpaged ");
  if (std::atoi(PQgetvalue(count.get(), 0, 0)) != kPagedRows) throw std::runtime_error("raw count");
  Run(raw, "BEGIN");
  Run(raw, "DECLARE page NO SCROLL CURSOR FOR SELECT lid, strname FROM krpaged ORDER BY strname");
  Run(raw, "MOVE FORWARD " + std::to_string(kStart) + " IN page");
  Result rows = Run(raw, "FETCH FORWARD " + std::to_string(kPageRows) + " FROM page");
  size_t bytes = 0;
  for (int i = 0; i < PQntuples(rows.get()); ++i) bytes += static_cast<size_t>(PQgetlength(rows.get(), i, 1));
  Run(raw, "CLOSE page");
  Run(raw, "COMMIT");
  return bytes;
}

void PagedInitSkip(PGconn* raw, IDispatch* session) {
  {
    bench::PeakMemory probe;
    PumpPage(session);
    bench::PrintPeak("pg_paged_init_skip_memory", probe.GrowthMiB(), 8);
  }
  size_t ours = PumpPage(session);
  size_t engine = RawPage(raw);
  if (ours != engine) throw std::runtime_error("the two pages differ");
  const double ratio = bench::CompareBest(kRepeats, [&] { ours += PumpPage(session); }, [&] { engine += RawPage(raw); },
                                          bench::Clock::Wall);
  bench::PrintRatio("pg_paged_init_skip", ratio, 1.2);
}

}  // namespace

int main() {
  const char* url = std::getenv("KV_BENCH_PG");
  if (!url || !*url) {
    std::fprintf(stderr, "bench_postgres: KV_BENCH_PG is not set, skipped\n");
    return 0;
  }
  int status = 0;
  PGconn* raw = PQconnectdb(url);
  try {
    if (PQstatus(raw) != CONNECTION_OK) throw std::runtime_error(PQerrorMessage(raw));
    ComPtr<IDispatch> session = bench::NewSession(url);
    CreateDatabase(raw, session.Get());
    // The paged pump's memory is measured first, before other work has
    // grown the heap that later runs would reuse.
    PagedInitSkip(raw, session.Get());
    ValueByFieldName(raw, session.Get());
    SaveFieldValues(raw, session.Get());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_postgres: %s\n", e.what());
    status = 1;
  } catch (const CException& e) {
    std::fprintf(stderr, "bench_postgres: %s\n", e.Message().c_str());
    status = 1;
  }
  PQfinish(raw);
  return status;
}
