// The demo application: the repository tables of the platform and a small
// order-keeping application described in them. The test fixture, the
// benchmarks and the script host all build their databases from here, so
// there is one description of the demo to keep right.
//
//   data pack 10 "orders"      table krorder        (edit pack 20, view pack 21)
//   data pack 11 "#10"         table krorder_l      language pack of 10
//   data pack 12 "orderlines"  table krorderline    child of 10 (edit pack 22)
//   data pack 13 "#12"         table krorderline_l  language pack of 12
//   data pack 14 "notes"       table krlinenote     child of 12 (edit pack 23)
//   forms 100 (edit, pack 10), 101 (view, pack 10), 102 (edit, pack 12),
//         103 (edit, pack 14); controls 500..503 with option texts in krlang.
#pragma once

#include <string>

#include "platform/kvdbal/KvDbal.h"

namespace kvdemo {

// MariaDB: TEXT and BLOB hold at most 64 KB there and TIMESTAMP changes by
// itself, so long fields and dates take its LONGTEXT, LONGBLOB and DATETIME.
enum class SqlDialect { SQLite, PostgreSQL, MariaDB };

// The dialect of the engine a connection string names (for an odbc: string,
// of the server its driver reaches). Raises CKvDbException for a string the
// access layer cannot read.
SqlDialect DialectOf(const std::string& connectionString);

constexpr LONG kAppId = 1;
constexpr LONG kPackOrders = 10, kPackOrdersLang = 11, kPackLines = 12, kPackLinesLang = 13, kPackNotes = 14;
constexpr LONG kFormOrderEdit = 100, kFormOrderView = 101, kFormLineEdit = 102, kFormNoteEdit = 103;
constexpr LONG kControlColor = 500, kControlState = 501, kControlColor2 = 502, kControlSystem = 503;

// krappform, krappeditpack, krappviewpack, krappdatapack, krappdatafield,
// krappcontrol, krlang and kruploadfile, empty.
void CreateRepositoryTables(CKvDbConnection& connection, SqlDialect dialect);

// The demo application's data tables, and its data packs, fields, packs,
// forms, controls and option texts in the repository tables. No data rows.
void CreateDemoApplication(CKvDbConnection& connection, SqlDialect dialect);

// 24 orders (five of them with lines, notes and option values of every
// kind, the rest with a German and an English title each).
void FillDemoOrders(CKvDbConnection& connection);

}  // namespace kvdemo
