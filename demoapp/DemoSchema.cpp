#include "DemoSchema.h"

#include <vector>

#include "platform/kvdbal/ConnectionString.h"
#include "platform/kvdbal/odbc/OdbcServer.h"

namespace kvdemo {

namespace {

enum class Kind { Id, Integer, Text, LongText, Double, Date, Binary, File };

struct Column {
  const char* name;
  Kind kind;
  // Language-dependent fields carry 4 in lprecision2.
  int precision2 = 0;
};

struct DataPack {
  LONG id;
  const char* name;
  const char* table;
  LONG parentPack;
  LONG rightsMask;
  std::vector<Column> columns;
};

const std::vector<DataPack>& DemoPacks() {
  static const std::vector<DataPack> packs = {
      {kPackOrders, "orders", "krorder", 0, 1,
       {{"lid", Kind::Id},
        {"dtedit", Kind::Date},
        {"luserid", Kind::Integer},
        {"lownerid", Kind::Integer},
        {"lparentid", Kind::Integer},
        {"strno", Kind::Text},
        {"strcolor", Kind::Text},
        {"strstate", Kind::Text},
        {"lamount", Kind::Integer},
        {"dblprice", Kind::Double},
        {"dtorder", Kind::Date},
        {"strmemo", Kind::LongText},
        {"lfile", Kind::File},
        {"blobdata", Kind::Binary}}},
      {kPackOrdersLang, "#10", "krorder_l", 0, 0,
       {{"lid", Kind::Id},
        {"lparentid", Kind::Integer},
        {"llcid", Kind::Integer},
        {"dtedit", Kind::Date},
        {"luserid", Kind::Integer},
        {"strtitle", Kind::Text, 4},
        {"strmemo_l", Kind::LongText},
        {"lfile_l", Kind::File}}},
      {kPackLines, "orderlines", "krorderline", kPackOrders, 0,
       {{"lid", Kind::Id},
        {"lparentid", Kind::Integer},
        {"dtedit", Kind::Date},
        {"luserid", Kind::Integer},
        {"strname", Kind::Text},
        {"lqty", Kind::Integer},
        {"lfile", Kind::File}}},
      {kPackLinesLang, "#12", "krorderline_l", 0, 0,
       {{"lid", Kind::Id},
        {"lparentid", Kind::Integer},
        {"llcid", Kind::Integer},
        {"dtedit", Kind::Date},
        {"luserid", Kind::Integer},
        {"strtext", Kind::Text}}},
      {kPackNotes, "notes", "krlinenote", kPackLines, 0,
       {{"lid", Kind::Id},
        {"lparentid", Kind::Integer},
        {"dtedit", Kind::Date},
        {"luserid", Kind::Integer},
        {"strnote", Kind::Text}}},
  };
  return packs;
}

const char* SqlType(Kind kind, SqlDialect dialect) {
  switch (kind) {
    case Kind::Id:
      return "INTEGER NOT NULL PRIMARY KEY";
    case Kind::Integer:
    case Kind::File:
      return "INTEGER";
    case Kind::Text:
      return "VARCHAR(255)";
    case Kind::LongText:
      return dialect == SqlDialect::MariaDB ? "LONGTEXT" : "TEXT";
    case Kind::Double:
      return "DOUBLE PRECISION";
    case Kind::Date:
      return dialect == SqlDialect::MariaDB ? "DATETIME" : "TIMESTAMP";
    case Kind::Binary:
      return dialect == SqlDialect::PostgreSQL ? "BYTEA" : dialect == SqlDialect::MariaDB ? "LONGBLOB" : "BLOB";
  }
  return "INTEGER";
}

// The data type the repository records for a field.
const char* RepositoryType(Kind kind) {
  switch (kind) {
    case Kind::Id:
    case Kind::Integer:
      return "INTEGER";
    case Kind::Text:
      return "STRING";
    case Kind::LongText:
      return "MEMO";
    case Kind::Double:
      return "DOUBLE";
    case Kind::Date:
      return "DATETIME";
    case Kind::Binary:
      return "BINARY";
    case Kind::File:
      return "FILE";
  }
  return "INTEGER";
}

bool IsSystemField(const std::string& name) {
  return name == "lid" || name == "dtedit" || name == "luserid" || name == "lownerid" || name == "lparentid" ||
         name == "llcid";
}

// Field lids of pack P are P*100+1, P*100+2, ... in column order.
LONG FieldId(LONG pack, size_t index) { return pack * 100 + static_cast<LONG>(index) + 1; }

LONG FieldIdOf(LONG pack, const std::string& name) {
  for (const DataPack& p : DemoPacks()) {
    if (p.id != pack) continue;
    for (size_t i = 0; i < p.columns.size(); ++i)
      if (name == p.columns[i].name) return FieldId(pack, i);
  }
  throw CKvDbException(E_INVALIDARG, "demo schema has no field " + name);
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

void Run(CKvDbConnection& connection, const std::string& sql) { connection.Execute(sql.c_str(), nullptr, 1); }

bool HasColumn(const DataPack& pack, const char* name) {
  for (const Column& c : pack.columns)
    if (std::string(c.name) == name) return true;
  return false;
}

// Enough further orders, each with a German and an English title, for a
// list of ten rows a page to have more than two pages.
void FillOfficeOrders(CKvDbConnection& connection) {
  struct Order {
    const char* no;
    const char* color;
    const char* state;
    int amount;
    const char* price;
    const char* day;
    const char* german;
    const char* english;
  };
  static const Order kOrders[] = {
      {"C1", "red", "2", 4, "12.9", "2024-03-11", "Druckerpapier", "Printer paper"},
      {"C2", "blue", "7", 1, "349", "2024-03-12", "Schreibtischlampe", "Desk lamp"},
      {"C3", "red|blue", "2", 10, "2.49", "2024-03-13", "Kugelschreiber", "Ballpoint pens"},
      {"C4", "blue", "2", 2, "89", "2024-03-14", "Aktenschränke", "Filing cabinets"},
      {"C5", "red", "7", 6, "15.75", "2024-03-15", "Ordner", "Binders"},
      {"D1", "blue", "2", 1, "1299", "2024-03-18", "Besprechungstisch", "Meeting table"},
      {"D2", "red", "2", 8, "219", "2024-03-19", "Bürostühle", "Office chairs"},
      {"D3", "blue|red", "7", 3, "45.5", "2024-03-20", "Whiteboards", "Whiteboards"},
      {"D4", "red", "2", 20, "0.99", "2024-03-21", "Notizblöcke", "Notepads"},
      {"D5", "blue", "7", 5, "24.9", "2024-03-22", "Tastaturen", "Keyboards"},
      {"E1", "red", "2", 5, "19.9", "2024-03-25", "Computermäuse", "Computer mice"},
      {"E2", "blue", "2", 2, "179", "2024-03-26", "Bildschirme", "Monitors"},
      {"E3", "red", "7", 12, "3.2", "2024-03-27", "Textmarker", "Highlighters"},
      {"E4", "blue", "2", 1, "560", "2024-03-28", "Kaffeemaschine", "Coffee machine"},
      {"E5", "red|blue", "2", 30, "1.1", "2024-03-29", "Briefumschläge", "Envelopes"},
      {"F1", "blue", "7", 4, "32", "2024-04-02", "Schreibtischunterlagen", "Desk pads"},
      {"F2", "red", "2", 2, "149", "2024-04-03", "Regale", "Shelves"},
      {"F3", "blue", "2", 6, "7.8", "2024-04-04", "Heftgeräte", "Staplers"},
      {"F4", "red", "7", 9, "4.6", "2024-04-05", "Scheren", "Scissors"},
  };
  // The first five orders and their three language rows come before these.
  LONG id = 6, languageId = 4;
  for (const Order& o : kOrders) {
    const std::string edited = Quoted(std::string(o.day) + " 08:00:00");
    Run(connection,
        "INSERT INTO krorder (lid, dtedit, luserid, lownerid, lparentid, strno, strcolor, strstate, lamount, "
        "dblprice, dtorder) VALUES (" +
            std::to_string(id) + ", " + edited + ", 1, -1, 0, " + Quoted(o.no) + ", " + Quoted(o.color) + ", " +
            Quoted(o.state) + ", " + std::to_string(o.amount) + ", " + o.price + ", " +
            Quoted(std::string(o.day) + " 00:00:00") + ")");
    for (const auto& [lcid, title] : {std::pair{1031, o.german}, std::pair{1033, o.english}})
      Run(connection, "INSERT INTO krorder_l (lid, lparentid, llcid, dtedit, luserid, strtitle) VALUES (" +
                          std::to_string(languageId++) + ", " + std::to_string(id) + ", " + std::to_string(lcid) +
                          ", " + edited + ", 1, " + Quoted(title) + ")");
    ++id;
  }
}

}  // namespace

SqlDialect DialectOf(const std::string& connectionString) {
  const kvdbal::ConnectionSettings settings = kvdbal::ParseConnectionString(connectionString);
  switch (settings.engine) {
    case kvdbal::ConnectionSettings::Engine::SQLite:
      return SqlDialect::SQLite;
    case kvdbal::ConnectionSettings::Engine::Postgres:
      return SqlDialect::PostgreSQL;
    case kvdbal::ConnectionSettings::Engine::Odbc:
      break;
  }
  return kvdbal::odbc::FamilyOfDriver(settings.target) == kvdbal::odbc::ServerFamily::PostgreSQL
             ? SqlDialect::PostgreSQL
             : SqlDialect::MariaDB;
}

void CreateRepositoryTables(CKvDbConnection& connection, SqlDialect dialect) {
  static const char* const kTables[] = {
      "CREATE TABLE krappform (lid INTEGER NOT NULL PRIMARY KEY, ltype INTEGER, lpackid INTEGER, "
      "lappid INTEGER, strname VARCHAR(100))",
      "CREATE TABLE krappeditpack (lid INTEGER NOT NULL PRIMARY KEY, ldatapackid INTEGER, strname VARCHAR(100))",
      "CREATE TABLE krappviewpack (lid INTEGER NOT NULL PRIMARY KEY, ldatapackid INTEGER, strname VARCHAR(100))",
      "CREATE TABLE krappdatapack (lid INTEGER NOT NULL PRIMARY KEY, strtable VARCHAR(64), strname VARCHAR(64), "
      "lappid INTEGER, ldatapackid INTEGER, lrecrightsmask INTEGER)",
      "CREATE TABLE krappdatafield (lid INTEGER NOT NULL PRIMARY KEY, ldatapackid INTEGER, strname VARCHAR(64), "
      "bsystem SMALLINT, strdatatype VARCHAR(32), lprecision INTEGER, lprecision2 INTEGER)",
      "CREATE TABLE krappcontrol (lid INTEGER NOT NULL PRIMARY KEY, ldatafieldid INTEGER)",
      "CREATE TABLE krlang (ltableid INTEGER, ltype INTEGER, strident VARCHAR(255), lcid INTEGER, "
      "strtext VARCHAR(2000))",
      "CREATE TABLE kruploadfile (lid INTEGER NOT NULL PRIMARY KEY, strfilename VARCHAR(255), "
      "strphysicalpath VARCHAR(1024), dtupload TIMESTAMP, luserid INTEGER, strurl VARCHAR(1024), "
      "lappid INTEGER, ltemplateid INTEGER, strcontenttype VARCHAR(128))",
  };
  for (std::string sql : kTables) {
    if (dialect == SqlDialect::MariaDB) {
      const size_t timestamp = sql.find("TIMESTAMP");
      if (timestamp != std::string::npos) sql.replace(timestamp, 9, "DATETIME");
    }
    Run(connection, sql);
  }
}

void CreateDemoApplication(CKvDbConnection& connection, SqlDialect dialect) {
  for (const DataPack& pack : DemoPacks()) {
    std::string ddl = std::string("CREATE TABLE ") + pack.table + " (";
    for (size_t i = 0; i < pack.columns.size(); ++i) {
      if (i) ddl += ", ";
      ddl += std::string(pack.columns[i].name) + " " + SqlType(pack.columns[i].kind, dialect);
    }
    Run(connection, ddl + ")");
    // Every save looks its language rows up by parent and language; without
    // an index that lookup grows with the table.
    if (HasColumn(pack, "llcid")) {
      Run(connection, std::string("CREATE INDEX ") + pack.table + "_parent_lcid ON " + pack.table +
                          " (lparentid, llcid)");
    }

    Run(connection, "INSERT INTO krappdatapack (lid, strtable, strname, lappid, ldatapackid, lrecrightsmask) VALUES (" +
                        std::to_string(pack.id) + ", " + Quoted(pack.table) + ", " + Quoted(pack.name) + ", " +
                        std::to_string(kAppId) + ", " + std::to_string(pack.parentPack) + ", " +
                        std::to_string(pack.rightsMask) + ")");
    for (size_t i = 0; i < pack.columns.size(); ++i) {
      const Column& c = pack.columns[i];
      Run(connection,
          "INSERT INTO krappdatafield (lid, ldatapackid, strname, bsystem, strdatatype, lprecision, lprecision2) "
          "VALUES (" +
              std::to_string(FieldId(pack.id, i)) + ", " + std::to_string(pack.id) + ", " + Quoted(c.name) + ", " +
              (IsSystemField(c.name) ? "1" : "0") + ", " + Quoted(RepositoryType(c.kind)) + ", 0, " +
              std::to_string(c.precision2) + ")");
    }
  }

  static const char* const kPacksAndForms[] = {
      "INSERT INTO krappeditpack (lid, ldatapackid, strname) VALUES (20, 10, 'order edit')",
      "INSERT INTO krappviewpack (lid, ldatapackid, strname) VALUES (21, 10, 'order view')",
      "INSERT INTO krappeditpack (lid, ldatapackid, strname) VALUES (22, 12, 'order line edit')",
      "INSERT INTO krappeditpack (lid, ldatapackid, strname) VALUES (23, 14, 'note edit')",
      "INSERT INTO krappform (lid, ltype, lpackid, lappid, strname) VALUES (100, 1, 20, 1, 'Order')",
      "INSERT INTO krappform (lid, ltype, lpackid, lappid, strname) VALUES (101, 0, 21, 1, 'Orders')",
      "INSERT INTO krappform (lid, ltype, lpackid, lappid, strname) VALUES (102, 2, 22, 1, 'Order line')",
      "INSERT INTO krappform (lid, ltype, lpackid, lappid, strname) VALUES (103, 1, 23, 1, 'Note')",
  };
  for (const char* sql : kPacksAndForms) Run(connection, sql);

  const std::pair<LONG, const char*> controls[] = {
      {kControlColor, "strcolor"}, {kControlState, "strstate"}, {kControlColor2, "strcolor"}, {kControlSystem, "lid"}};
  for (const auto& [control, field] : controls)
    Run(connection, "INSERT INTO krappcontrol (lid, ldatafieldid) VALUES (" + std::to_string(control) + ", " +
                        std::to_string(FieldIdOf(kPackOrders, field)) + ")");

  struct Text {
    LONG control;
    const char* ident;
    LCID lcid;
    const char* text;
  };
  const Text texts[] = {
      {kControlColor, "red", 1031, "rot"},      {kControlColor, "red", 1033, "red"},
      {kControlColor, "blue", 1031, "blau"},    {kControlColor, "blue", 1033, "blue"},
      {kControlState, "2", 1031, "offen"},      {kControlState, "2", 1033, "open"},
      {kControlState, "7", 1031, "geschlossen"}, {kControlState, "7", 1033, "closed"},
      {kControlSystem, "x", 1031, "system text"},
  };
  for (const Text& t : texts)
    Run(connection, "INSERT INTO krlang (ltableid, ltype, strident, lcid, strtext) VALUES (" +
                        std::to_string(t.control) + ", 7, " + Quoted(t.ident) + ", " + std::to_string(t.lcid) + ", " +
                        Quoted(t.text) + ")");
}

void FillDemoOrders(CKvDbConnection& connection) {
  static const char* const kRows[] = {
      "INSERT INTO krorder (lid, dtedit, luserid, lownerid, lparentid, strno, strcolor, strstate, lamount, dblprice, "
      "dtorder, strmemo) VALUES (1, '2024-03-01 09:00:00', 1, -1, 0, 'A1', 'red', '2', 3, 19.5, "
      "'2024-03-01 00:00:00', 'first order')",
      "INSERT INTO krorder (lid, dtedit, luserid, lownerid, lparentid, strno, strcolor, strstate, lamount, dblprice, "
      "dtorder, strmemo) VALUES (2, '2024-03-02 10:30:00', 1, 1, 0, 'A2', 'blue', '7', 1, 250, "
      "'2024-03-02 00:00:00', 'closed at once')",
      "INSERT INTO krorder (lid, dtedit, luserid, lownerid, lparentid, strno, strcolor, strstate, lamount, dblprice, "
      "dtorder, strmemo) VALUES (3, '2024-03-05 14:00:00', 2, 2, 1, 'A3', 'red|blue', '2|7', 12, 4.25, "
      "'2024-03-05 00:00:00', 'follow-up of A1')",
      "INSERT INTO krorder (lid, dtedit, luserid, lownerid, lparentid, strno, strcolor, strstate, lamount, dblprice, "
      "dtorder, strmemo) VALUES (4, '2024-03-07 08:15:00', 1, -1, 0, 'B1', 'blue', '2', 7, 80, "
      "'2024-03-07 00:00:00', NULL)",
      "INSERT INTO krorder (lid, dtedit, luserid, lownerid, lparentid, strno, strcolor, strstate, lamount, dblprice, "
      "dtorder, strmemo) VALUES (5, '2024-03-09 16:45:00', 2, -1, 0, 'B2', 'green', '7', 2, 1.99, "
      "'2024-03-09 00:00:00', 'colour without a text')",
      "INSERT INTO krorder_l (lid, lparentid, llcid, dtedit, luserid, strtitle) VALUES "
      "(1, 1, 1031, '2024-03-01 09:00:00', 1, 'Erste Bestellung')",
      "INSERT INTO krorder_l (lid, lparentid, llcid, dtedit, luserid, strtitle) VALUES "
      "(2, 1, 1033, '2024-03-01 09:00:00', 1, 'First order')",
      "INSERT INTO krorder_l (lid, lparentid, llcid, dtedit, luserid, strtitle) VALUES "
      "(3, 2, 1033, '2024-03-02 10:30:00', 1, 'Second order')",
      "INSERT INTO krorderline (lid, lparentid, dtedit, luserid, strname, lqty) VALUES "
      "(1, 1, '2024-03-01 09:00:00', 1, 'pencil', 10)",
      "INSERT INTO krorderline (lid, lparentid, dtedit, luserid, strname, lqty) VALUES "
      "(2, 1, '2024-03-01 09:00:00', 1, 'paper', 500)",
      "INSERT INTO krorderline (lid, lparentid, dtedit, luserid, strname, lqty) VALUES "
      "(3, 2, '2024-03-02 10:30:00', 1, 'desk', 1)",
      "INSERT INTO krorderline_l (lid, lparentid, llcid, dtedit, luserid, strtext) VALUES "
      "(1, 1, 1031, '2024-03-01 09:00:00', 1, 'Bleistift')",
      "INSERT INTO krlinenote (lid, lparentid, dtedit, luserid, strnote) VALUES "
      "(1, 2, '2024-03-01 09:00:00', 1, 'recycled paper only')",
  };
  for (const char* sql : kRows) Run(connection, sql);
  FillOfficeOrders(connection);
}

}  // namespace kvdemo
