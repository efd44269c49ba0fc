// The component on MariaDB through ODBC against raw ODBC calls doing the
// same work in the same process, as a page author's own code would: format
// the text, SQLExecDirect, fetch, free. Runs when KV_BENCH_MARIADB names a
// server (an odbc: string; bench/run starts a throwaway one); prints nothing
// otherwise.
//   odbc_valuebyfieldname: ValueByFieldName on a bound order of a
//     10,000-row table, against one SELECT per call.
//   odbc_savefieldvalues: SaveFieldValues of a new order with two language
//     rows, against the statements that save runs, each sent as its text.
//   odbc_paged_init_skip: KvDRPump.Init with a count, a sort and a start of
//     500,000 over 1,000,000 rows, then 20 rows read, against COUNT(*) and
//     the sorted query asked for those 20 rows (LIMIT 20 OFFSET 500000).
//   odbc_paged_init_skip_memory: the skipped rows must not reach the process.
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "BenchComponent.h"
#include "BenchUtil.h"
#include "demoapp/DemoSchema.h"
#include "platform/kvdbal/odbc/OdbcSql.h"
#include "src/pagedpump/KvDRPump.h"
#include "src/recordpump/KvDataPump.h"

namespace {

constexpr int kOrders = 10000;
constexpr int kPagedRows = 1000000;
constexpr LONG kStart = 500000;
constexpr int kPageRows = 20;
constexpr int kRepeats = 11;

// A raw ODBC connection, as a page author would hold one.
class Raw {
 public:
  explicit Raw(const std::string& odbcString) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &m_env);
    SQLSetEnvAttr(m_env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, m_env, &m_dbc);
    std::string text = odbcString;
    if (!SQL_SUCCEEDED(SQLDriverConnect(m_dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                        static_cast<SQLSMALLINT>(text.size()), nullptr, 0, nullptr,
                                        SQL_DRIVER_NOPROMPT)))
      throw std::runtime_error("raw ODBC connection failed");
    m_connected = true;
  }
  ~Raw() {
    if (m_connected) SQLDisconnect(m_dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, m_dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, m_env);
  }
  // Runs sql; the first column of its first row as text ("" when none).
  std::string Run(const std::string& sql) {
    SQLHSTMT stmt = SQL_NULL_HANDLE;
    SQLAllocHandle(SQL_HANDLE_STMT, m_dbc, &stmt);
    SQLRETURN rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) {
      SQLCHAR state[6] = {}, message[512] = {};
      SQLINTEGER native = 0;
      SQLSMALLINT length = 0;
      SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, state, &native, message, sizeof message, &length);
      SQLFreeHandle(SQL_HANDLE_STMT, stmt);
      throw std::runtime_error(sql + ": " + reinterpret_cast<char*>(message));
    }
    std::string first;
    SQLSMALLINT columns = 0;
    SQLNumResultCols(stmt, &columns);
    if (columns > 0 && SQL_SUCCEEDED(SQLFetch(stmt))) first = Text(stmt, 1);
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return first;
  }
  // The characters of column of every row of sql.
  size_t ColumnCharacters(const std::string& sql, SQLUSMALLINT column) {
    SQLHSTMT stmt = SQL_NULL_HANDLE;
    SQLAllocHandle(SQL_HANDLE_STMT, m_dbc, &stmt);
    if (!SQL_SUCCEEDED(SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS)))
      throw std::runtime_error(sql);
    size_t characters = 0;
    while (SQL_SUCCEEDED(SQLFetch(stmt))) characters += Text(stmt, column).size();
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    return characters;
  }
  void Begin() { SQLSetConnectAttr(m_dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0); }
  void Commit() {
    SQLEndTran(SQL_HANDLE_DBC, m_dbc, SQL_COMMIT);
    SQLSetConnectAttr(m_dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
  }

 private:
  static std::string Text(SQLHSTMT stmt, SQLUSMALLINT column) {
    char buffer[256];
    SQLLEN length = 0;
    if (!SQL_SUCCEEDED(SQLGetData(stmt, column, SQL_C_CHAR, buffer, sizeof buffer, &length)) ||
        length == SQL_NULL_DATA)
      return "";
    return std::string(buffer, static_cast<size_t>(std::min<SQLLEN>(length, sizeof buffer - 1)));
  }
  SQLHENV m_env = SQL_NULL_HANDLE;
  SQLHDBC m_dbc = SQL_NULL_HANDLE;
  bool m_connected = false;
};

void CreateDatabase(Raw& raw, IDispatch* session) {
  for (const char* table : {"krappform", "krappeditpack", "krappviewpack", "krappdatapack",
                            "krappdatafield", "krappcontrol", "krlang", "kruploadfile", "krorder",
                            "krorder_l", "krorderline", "krorderline_l", "krlinenote", "krpaged"})
    raw.Run(std::string("DROP TABLE IF EXISTS ") + table);
  auto connection = bench::SessionConnection(session);
  kvdemo::CreateRepositoryTables(*connection, kvdemo::SqlDialect::MariaDB);
  kvdemo::CreateDemoApplication(*connection, kvdemo::SqlDialect::MariaDB);
  raw.Run("INSERT INTO krorder (lid, strno, lamount) SELECT seq, CONCAT('order ', seq), seq FROM seq_1_to_" +
          std::to_string(kOrders));
  raw.Run("CREATE TABLE krpaged (lid INTEGER PRIMARY KEY, strname VARCHAR(40))");
  raw.Run("INSERT INTO krpaged SELECT seq, CONCAT('name ', LPAD(seq, 7, '0')) FROM seq_1_to_" +
          std::to_string(kPagedRows));
  raw.Run("CREATE INDEX krpaged_name ON krpaged (strname)");
  raw.Run("ANALYZE TABLE krorder, krpaged");
}

void ValueByFieldName(Raw& raw, IDispatch* session) {
  const int iterations = 2000;
  ComPtr<IKvDataPump> pump = bench::BoundRecordPump(session, kvdemo::kFormOrderEdit);
  size_t sink = 0;
  auto ours = [&] { sink += bench::ReadFieldOfEachRecord(pump.Get(), "strno", kOrders, iterations); };
  char sql[96];
  auto rawSide = [&] {
    for (int i = 0; i < iterations; ++i) {
      std::snprintf(sql, sizeof sql, "SELECT %s FROM %s WHERE lid=%d", "strno", "krorder", i % kOrders + 1);
      sink += raw.Run(sql).size();
    }
  };
  const double ratio = bench::CompareBest(kRepeats, ours, rawSide, bench::Clock::Wall);
  if (sink == 0) throw std::runtime_error("nothing was read");
  bench::PrintRatio("odbc_valuebyfieldname", ratio, 1.0);
}

void SaveFieldValues(Raw& raw, IDispatch* session) {
  const int iterations = 200;
  ComPtr<IKvDataPump> pump = bench::BoundRecordPump(session, kvdemo::kFormOrderEdit);
  const bench::OrderSaver saver("saved", "Titel", "Title");
  auto ours = [&] {
    for (int i = 0; i < iterations; ++i) saver.Save(pump.Get(), LONG{i});
  };
  auto nextId = [&](const char* table) {
    return std::atoi(raw.Run(std::string("SELECT MAX(lid) as maxid FROM ") + table).c_str()) + 1;
  };
  auto rawSide = [&] {
    for (int i = 0; i < iterations; ++i) {
      raw.Begin();
      const int id = nextId("krorder");
      raw.Run("SELECT * FROM krorder WHERE lid = -1");
      raw.Run("INSERT INTO krorder (strno, lamount, lid) VALUES ('saved', " + std::to_string(i) + ", " +
              std::to_string(id) + ")");
      for (const auto& [lcid, text] : {std::pair<int, const char*>{1031, "Titel"}, {1033, "Title"}}) {
        raw.Run("SELECT * FROM krorder_l WHERE lparentid=" + std::to_string(id) + " AND llcid=" + std::to_string(lcid));
        const int langId = nextId("krorder_l");
        raw.Run("SELECT * FROM krorder_l WHERE lid = -1");
        raw.Run("INSERT INTO krorder_l (strtitle, lid, lparentid, llcid) VALUES ('" + std::string(text) + "', " +
                std::to_string(langId) + ", " + std::to_string(id) + ", " + std::to_string(lcid) + ")");
      }
      raw.Commit();
    }
  };
  const double ratio = bench::CompareBest(kRepeats, ours, rawSide, bench::Clock::Wall);
  bench::PrintRatio("odbc_savefieldvalues", ratio, 1.1);
}

size_t PumpPage(IDispatch* session) {
  return bench::PumpPage(session, "SELECT lid, strname FROM krpaged", "ORDER BY strname", "strname", kStart,
                         kPagedRows, kPageRows);
}

size_t RawPage(Raw& raw) {
  if (std::atoi(raw.Run("SELECT COUNT(*) AS lcount FROM krpaged ").c_str()) != kPagedRows)
    throw std::runtime_error("raw count");
  return raw.ColumnCharacters("SELECT lid, strname FROM krpaged ORDER BY strname LIMIT " + std::to_string(kPageRows) +
                                  " OFFSET " + std::to_string(kStart),
                              2);
}

void PagedInitSkip(Raw& raw, IDispatch* session) {
  {
    bench::PeakMemory probe;
    PumpPage(session);
    bench::PrintPeak("odbc_paged_init_skip_memory", probe.GrowthMiB(), 8);
  }
  size_t ours = PumpPage(session);
  size_t engine = RawPage(raw);
  if (ours != engine) throw std::runtime_error("the two pages differ");
  const double ratio = bench::CompareBest(5, [&] { ours += PumpPage(session); }, [&] { engine += RawPage(raw); },
                                          bench::Clock::Wall);
  bench::PrintRatio("odbc_paged_init_skip", ratio, 1.2);
}

}  // namespace

int main() {
  const char* url = std::getenv("KV_BENCH_MARIADB");
  if (!url || !*url) {
    std::fprintf(stderr, "bench_odbc: KV_BENCH_MARIADB is not set, skipped\n");
    return 0;
  }
  try {
    const std::string odbcString = std::string(url).substr(std::string(url).rfind("odbc:", 0) == 0 ? 5 : 0);
    Raw raw(odbcString);
    ComPtr<IDispatch> session = bench::NewSession(url);
    CreateDatabase(raw, session.Get());
    // The paged pump's memory is measured first, before other work has
    // grown the heap that later runs would reuse.
    PagedInitSkip(raw, session.Get());
    ValueByFieldName(raw, session.Get());
    SaveFieldValues(raw, session.Get());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_odbc: %s\n", e.what());
    return 1;
  } catch (const CException& e) {
    std::fprintf(stderr, "bench_odbc: %s\n", e.Message().c_str());
    return 1;
  }
  return 0;
}
