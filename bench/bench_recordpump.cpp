// The record pump against raw SQLite on the same work in the same process.
//   valuebyfieldname: ValueByFieldName on a bound record of a 20-column,
//     10,000-row table, against prepare/step/column/finalize of the same
//     SELECT text per call.
//     valuebyfieldname_naive is the same comparison against the target the
//     statement reuse of the access layer has to reach.
//   savefieldvalues_insert: SaveFieldValues of a new record with 10 fields
//     and 2 language rows, against the statements that save runs (id
//     queries, the empty queries that give a new row its columns, language
//     row lookups, inserts with bound values) prepared and stepped one by one
//     in one transaction; savefieldvalues_naive likewise.
//   queryinit_walk_naive: QueryInit of a 20-row query and a walk through it
//     reading two values per row, against the statements QueryInit runs
//     (recorded from our side) each prepared, stepped through and finalized,
//     reading the same values.
#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchComponent.h"
#include "BenchUtil.h"
#include "platform/host/HostSession.h"
#include "src/recordpump/KvDataPump.h"

namespace {

constexpr int kRows = 10000;
constexpr LONG kFormId = 1;
constexpr const char* kDate = "2024-05-17 10:30:00";

void Check(int rc, sqlite3* db) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    throw std::runtime_error(sqlite3_errmsg(db));
}

void Exec(sqlite3* db, const std::string& sql) {
  Check(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), db);
}

// One form (edit pack 1 of data pack 1, table krbench) whose data pack has a
// language pack (#1, table krbench_l), and kRows records of 20 columns.
void CreateDatabase(sqlite3* db) {
  Exec(db, "PRAGMA journal_mode=WAL");
  Exec(db, "PRAGMA synchronous=NORMAL");
  Exec(db,
       "CREATE TABLE krappform (lid INTEGER PRIMARY KEY, ltype INTEGER, lpackid INTEGER, lappid "
       "INTEGER);"
       "CREATE TABLE krappeditpack (lid INTEGER PRIMARY KEY, ldatapackid INTEGER);"
       "CREATE TABLE krappviewpack (lid INTEGER PRIMARY KEY, ldatapackid INTEGER);"
       "CREATE TABLE krappdatapack (lid INTEGER PRIMARY KEY, strtable VARCHAR(64), strname "
       "VARCHAR(64));"
       "CREATE TABLE krappdatafield (lid INTEGER PRIMARY KEY, ldatapackid INTEGER, strname "
       "VARCHAR(64), bsystem INTEGER);"
       "CREATE TABLE krappcontrol (lid INTEGER PRIMARY KEY, ldatafieldid INTEGER);"
       "CREATE TABLE krlang (ltableid INTEGER, ltype INTEGER, strident VARCHAR(255), lcid INTEGER, "
       "strtext VARCHAR(255));"
       "INSERT INTO krappform VALUES (1, 1, 1, 1);"
       "INSERT INTO krappeditpack VALUES (1, 1);"
       "INSERT INTO krappdatapack VALUES (1, 'krbench', 'bench'), (2, 'krbench_l', '#1');"
       "INSERT INTO krappdatafield VALUES (1, 1, 'strcol1', 0);"
       "INSERT INTO krappcontrol VALUES (1, 1);"
       "INSERT INTO krlang VALUES (1, 7, 'a', 1031, 'A'), (1, 7, 'b', 1031, 'B');");
  std::string columns = "lid INTEGER PRIMARY KEY, dtedit DATETIME, luserid INTEGER";
  for (int c = 1; c <= 9; ++c) columns += ", strcol" + std::to_string(c) + " VARCHAR(100)";
  for (int c = 1; c <= 8; ++c) columns += ", lcol" + std::to_string(c) + " INTEGER";
  Exec(db, "CREATE TABLE krbench (" + columns + ")");
  Exec(db,
       "CREATE TABLE krbench_l (lid INTEGER PRIMARY KEY, lparentid INTEGER, llcid INTEGER, dtedit "
       "DATETIME, luserid INTEGER, strtitle VARCHAR(100))");
  Exec(db, "CREATE INDEX krbench_l_parent ON krbench_l (lparentid, llcid)");

  Exec(db, "BEGIN");
  std::string sql = "INSERT INTO krbench VALUES (?1, ?2, ?3";
  for (int p = 4; p <= 20; ++p) sql += ", ?" + std::to_string(p);
  sql += ")";
  sqlite3_stmt* insert = nullptr;
  Check(sqlite3_prepare_v2(db, sql.c_str(), -1, &insert, nullptr), db);
  for (int id = 1; id <= kRows; ++id) {
    sqlite3_bind_int(insert, 1, id);
    sqlite3_bind_text(insert, 2, kDate, -1, SQLITE_STATIC);
    sqlite3_bind_int(insert, 3, 1);
    for (int c = 1; c <= 9; ++c) {
      const std::string text = "value " + std::to_string(id) + " of column " + std::to_string(c);
      sqlite3_bind_text(insert, 3 + c, text.c_str(), -1, SQLITE_TRANSIENT);
    }
    for (int c = 1; c <= 8; ++c) sqlite3_bind_int(insert, 12 + c, id * c);
    Check(sqlite3_step(insert), db);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Exec(db, "COMMIT");
}

void ValueByFieldName(sqlite3* raw, IDispatch* session) {
  const int iterations = 20000;
  ComPtr<IKvDataPump> pump = bench::BoundRecordPump(session, kFormId);
  size_t sink = 0;  // keeps both sides from skipping their reads

  auto ours = [&] { sink += bench::ReadFieldOfEachRecord(pump.Get(), "strcol5", kRows, iterations); };
  char sql[96];
  auto rawSide = [&] {
    for (int i = 0; i < iterations; ++i) {
      std::snprintf(sql, sizeof sql, "SELECT %s FROM %s WHERE lid=%d", "strcol5", "krbench",
                    i % kRows + 1);
      sqlite3_stmt* stmt = nullptr;
      Check(sqlite3_prepare_v2(raw, sql, -1, &stmt, nullptr), raw);
      if (sqlite3_step(stmt) == SQLITE_ROW) {
        sqlite3_column_text(stmt, 0);
        sink += static_cast<size_t>(sqlite3_column_bytes(stmt, 0));
      }
      sqlite3_finalize(stmt);
    }
  };
  const double ratio = bench::CompareBest(9, ours, rawSide);
  if (sink == 0) throw std::runtime_error("nothing was read");
  bench::PrintRatio("valuebyfieldname", ratio, 1.25);
  bench::PrintRatio("valuebyfieldname_naive", ratio, 0.8);
}

// The raw side's statements, prepared per use like one-off SQL texts.
class RawStatement {
 public:
  RawStatement(sqlite3* db, const std::string& sql) : m_db(db) {
    Check(sqlite3_prepare_v2(db, sql.c_str(), -1, &m_stmt, nullptr), db);
  }
  ~RawStatement() { sqlite3_finalize(m_stmt); }
  sqlite3_stmt* Get() const { return m_stmt; }
  bool Step() {
    const int rc = sqlite3_step(m_stmt);
    Check(rc, m_db);
    return rc == SQLITE_ROW;
  }

 private:
  sqlite3* m_db;
  sqlite3_stmt* m_stmt = nullptr;
};

int RawNextId(sqlite3* db, const char* table) {
  RawStatement max(db, std::string("SELECT MAX(lid) as maxid FROM ") + table);
  return max.Step() ? sqlite3_column_int(max.Get(), 0) + 1 : 1;
}

void SaveFieldValuesInsert(sqlite3* raw, IDispatch* session) {
  const int iterations = 500;
  ComPtr<IKvDataPump> pump = bench::BoundRecordPump(session, kFormId);
  KvDateParts parts{2024, 5, 17, 10, 30, 0};
  CComVariant when;
  when.vt = VT_DATE;
  DateFromParts(parts, &when.date);

  // Ten fields: the edit stamp and eight data columns.
  std::vector<std::pair<CComBSTR, CComVariant>> fields;
  fields.emplace_back(CComBSTR("dtedit"), when);
  fields.emplace_back(CComBSTR("luserid"), CComVariant(LONG{7}));
  for (int c = 1; c <= 4; ++c)
    fields.emplace_back(CComBSTR("strcol" + std::to_string(c)),
                        CComVariant(std::string_view("saved text " + std::to_string(c))));
  for (int c = 1; c <= 4; ++c)
    fields.emplace_back(CComBSTR("lcol" + std::to_string(c)), CComVariant(LONG{c * 11}));
  CComBSTR title("strtitle");
  CComVariant german(std::string_view("Titel")), english(std::string_view("Title"));

  LONG lastId = 0;
  auto ours = [&] {
    for (int i = 0; i < iterations; ++i) {
      pump->CleanFieldValues();
      for (const auto& [name, value] : fields) pump->SetFieldValue(name.Get(), value);
      pump->SetFieldValueEx(title.Get(), 1031, german);
      pump->SetFieldValueEx(title.Get(), 1033, english);
      if (pump->SaveFieldValues(&lastId) != S_OK) throw std::runtime_error("save failed");
    }
  };

  std::string insertMain = "INSERT INTO krbench (lid, dtedit, luserid";
  for (int c = 1; c <= 4; ++c) insertMain += ", strcol" + std::to_string(c);
  for (int c = 1; c <= 4; ++c) insertMain += ", lcol" + std::to_string(c);
  insertMain += ") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)";
  std::vector<std::string> texts;
  for (int c = 1; c <= 4; ++c) texts.push_back("saved text " + std::to_string(c));
  auto rawSide = [&] {
    for (int i = 0; i < iterations; ++i) {
      Exec(raw, "BEGIN");
      const int id = RawNextId(raw, "krbench");
      RawStatement(raw, "SELECT * FROM krbench WHERE lid = -1").Step();
      {
        RawStatement insert(raw, insertMain);
        sqlite3_bind_int(insert.Get(), 1, id);
        sqlite3_bind_text(insert.Get(), 2, kDate, -1, SQLITE_STATIC);
        sqlite3_bind_int(insert.Get(), 3, 7);
        for (int c = 0; c < 4; ++c)
          sqlite3_bind_text(insert.Get(), 4 + c, texts[c].c_str(), -1, SQLITE_STATIC);
        for (int c = 1; c <= 4; ++c) sqlite3_bind_int(insert.Get(), 7 + c, c * 11);
        insert.Step();
      }
      for (const auto& [lcid, text] : {std::pair<int, const char*>{1031, "Titel"}, {1033, "Title"}}) {
        RawStatement find(raw, "SELECT * FROM krbench_l WHERE lparentid=" + std::to_string(id) +
                                   " AND llcid=" + std::to_string(lcid));
        if (find.Step()) throw std::runtime_error("a new record has no language rows yet");
        const int langId = RawNextId(raw, "krbench_l");
        RawStatement(raw, "SELECT * FROM krbench_l WHERE lid = -1").Step();
        RawStatement insert(raw,
                            "INSERT INTO krbench_l (lid, lparentid, llcid, strtitle, dtedit, "
                            "luserid) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
        sqlite3_bind_int(insert.Get(), 1, langId);
        sqlite3_bind_int(insert.Get(), 2, id);
        sqlite3_bind_int(insert.Get(), 3, lcid);
        sqlite3_bind_text(insert.Get(), 4, text, -1, SQLITE_STATIC);
        sqlite3_bind_text(insert.Get(), 5, kDate, -1, SQLITE_STATIC);
        sqlite3_bind_int(insert.Get(), 6, 7);
        insert.Step();
      }
      Exec(raw, "COMMIT");
    }
  };
  const double ratio = bench::CompareBest(9, ours, rawSide);
  if (lastId <= kRows) throw std::runtime_error("nothing was saved");
  bench::PrintRatio("savefieldvalues_insert", ratio, 1.5);
  bench::PrintRatio("savefieldvalues_naive", ratio, 0.9);
}

void QueryInitWalk(sqlite3* raw, IDispatch* session) {
  const int iterations = 500;
  ComPtr<IKvDataPump> pump;
  if (FAILED(CKvDataPump::CreateInstance(IKvDataPump::kIid, pump.ReleaseAndGetVoidAddress())))
    throw std::runtime_error("cannot create the record pump");
  CComBSTR text("strcol1"), number("lcol1");
  size_t sink = 0;
  const auto queryOf = [](int i) {
    char sql[128];
    std::snprintf(sql, sizeof sql, "SELECT lid, strcol1, lcol1 FROM krbench WHERE lid > %d AND lid <= %d",
                  i * 20 % kRows, i * 20 % kRows + 20);
    return std::string(sql);
  };
  auto ours = [&] {
    for (int i = 0; i < iterations; ++i) {
      CComBSTR query(queryOf(i));
      pump->QueryInit(session, query.Get());
      VARIANT_BOOL eof = VARIANT_FALSE;
      while (pump->get_IsEOF(&eof) == S_OK && !eof) {
        CComVariant a, b;
        pump->get_Value(text.Get(), &a);
        pump->get_Value(number.Get(), &b);
        sink += SysStringLen(a.bstrVal) + static_cast<size_t>(b.lVal);
        LONG id = 0;
        pump->MoveNext(&id);
      }
    }
  };

  // What QueryInit runs for one query, with the query's own text last.
  std::vector<std::string> statements;
  KvDbSetStatementObserver([&](const std::string& sql) { statements.push_back(sql); });
  CComBSTR first(queryOf(0));
  pump->QueryInit(session, first.Get());
  KvDbSetStatementObserver({});
  if (statements.empty() || statements.back() != queryOf(0))
    throw std::runtime_error("QueryInit did not run its query last");
  statements.pop_back();

  auto rawSide = [&] {
    for (int i = 0; i < iterations; ++i) {
      for (const std::string& sql : statements) {
        RawStatement statement(raw, sql);
        while (statement.Step()) sink += static_cast<size_t>(sqlite3_column_count(statement.Get()));
      }
      RawStatement query(raw, queryOf(i));
      while (query.Step()) {
        sqlite3_column_text(query.Get(), 1);
        sink += static_cast<size_t>(sqlite3_column_bytes(query.Get(), 1)) +
                static_cast<size_t>(sqlite3_column_int(query.Get(), 2));
      }
    }
  };
  const double ratio = bench::CompareBest(9, ours, rawSide);
  if (sink == 0) throw std::runtime_error("nothing was read");
  bench::PrintRatio("queryinit_walk_naive", ratio, 0.9);
}

}  // namespace

int main() {
  const std::string path = bench::ScratchPath("recordpump");
  int status = 0;
  try {
    sqlite3* raw = nullptr;
    Check(sqlite3_open(path.c_str(), &raw), raw);
    CreateDatabase(raw);
    ComPtr<IDispatch> session = bench::NewSession("sqlite:" + path + "?mode=rwc");
    ValueByFieldName(raw, session.Get());
    SaveFieldValuesInsert(raw, session.Get());
    QueryInitWalk(raw, session.Get());
    session.Reset();
    sqlite3_close(raw);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_recordpump: %s\n", e.what());
    status = 1;
  } catch (const CException& e) {
    std::fprintf(stderr, "bench_recordpump: %s\n", e.Message().c_str());
    status = 1;
  }
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix);
  return status;
}
