#include "setup/DemoDatabase.h"

#include <filesystem>
#include <fstream>
#include <string>

#include "demoapp/DemoSchema.h"
#include "page/PasswordHash.h"

namespace fs = std::filesystem;

namespace {

// The delivery note of order A1: its file field names upload 1, whose file
// lies in the files folder below the application base path.
constexpr const char* kUploadUrl = "files/a1-delivery-note.txt";
constexpr const char* kUploadContent = "Delivery note for order A1: 10 pencils, 500 sheets of paper.\n";
constexpr const char* kUploadRows[] = {
    "INSERT INTO kruploadfile (lid, strfilename, strphysicalpath, dtupload, luserid, strurl, lappid, "
    "ltemplateid, strcontenttype) VALUES (1, 'delivery-note.txt', 'files\\a1-delivery-note.txt', "
    "'2024-03-01 09:05:00', 1, 'files/a1-delivery-note.txt', 1, 0, 'text/plain')",
    "UPDATE krorder SET lfile=1 WHERE lid=1",
};

// The order desk's users. Each sees the orders through a data pack of its
// own: the manager's asks for no owner filter, the clerk's (the orders pack
// itself, record rights mask 1) shows only the clerk's own orders and those
// of everybody (lownerid -1).
struct DemoUser {
  int id;
  const char* name;
  const char* fullName;
  const char* password;
  int datapackId;
};
constexpr DemoUser kDemoUsers[] = {
    {1, "anna", "Anna Berger", "anna-demo", 15},
    {2, "ben", "Ben Kraus", "ben-demo", 10},
};

constexpr const char* kSiteRows[] = {
    "CREATE TABLE kruser (lid INTEGER NOT NULL PRIMARY KEY, strname VARCHAR(40) NOT NULL UNIQUE, "
    "strfullname VARCHAR(100), strpasswordhash VARCHAR(255) NOT NULL, ldatapackid INTEGER NOT NULL)",
    // All orders, with no record rights: the same tables as pack 10, and a
    // language pack of its own so that the join builders find the titles.
    "INSERT INTO krappdatapack (lid, strtable, strname, lappid, ldatapackid, lrecrightsmask) "
    "VALUES (15, 'krorder', 'all orders', 1, 0, 0)",
    "INSERT INTO krappdatapack (lid, strtable, strname, lappid, ldatapackid, lrecrightsmask) "
    "VALUES (16, 'krorder_l', '#15', 1, 0, 0)",
    "INSERT INTO krappdatafield (lid, ldatapackid, strname, bsystem, strdatatype, lprecision, lprecision2) "
    "VALUES (1601, 16, 'strtitle', 0, 'STRING', 200, 4)",
    // What the form accepts: characters of a text, digits of a number
    // (before the point for prices, which keep two decimals).
    "UPDATE krappdatafield SET lprecision=20 WHERE ldatapackid=10 AND strname='strno'",
    "UPDATE krappdatafield SET lprecision=255 WHERE ldatapackid=10 AND strname IN ('strcolor', 'strstate')",
    "UPDATE krappdatafield SET lprecision=6 WHERE ldatapackid=10 AND strname='lamount'",
    "UPDATE krappdatafield SET lprecision=9 WHERE ldatapackid=10 AND strname='dblprice'",
    "UPDATE krappdatafield SET lprecision=10000 WHERE ldatapackid=10 AND strname='strmemo'",
    "UPDATE krappdatafield SET lprecision=200 WHERE ldatapackid=11 AND strname='strtitle'",
    // Owners: a few orders each for Anna and Ben, the rest everybody's.
    "UPDATE krorder SET lownerid=1 WHERE strno IN ('A2', 'C4', 'D3', 'F1')",
    "UPDATE krorder SET lownerid=2 WHERE strno IN ('A3', 'C2', 'D1', 'E4')",
};

void AddSiteUsers(CKvDbConnection& connection) {
  for (const char* sql : kSiteRows) connection.Execute(sql, nullptr, 1);
  for (const DemoUser& user : kDemoUsers) {
    const std::string hash = HashPassword(user.password);
    if (hash.empty()) throw CKvDbException(E_OUTOFMEMORY, "cannot hash the demo users' passwords");
    const std::string sql = "INSERT INTO kruser (lid, strname, strfullname, strpasswordhash, ldatapackid) VALUES (" +
                            std::to_string(user.id) + ", '" + user.name + "', '" + user.fullName + "', '" + hash +
                            "', " + std::to_string(user.datapackId) + ")";
    connection.Execute(sql.c_str(), nullptr, 1);
  }
}

// The repository is there when its form table is, empty or not: a database
// with a repository of its own is never given the demo application.
bool HasRepository(CKvDbConnection& connection) {
  try {
    CKvDbRowset rowset;
    rowset.Open("SELECT COUNT(*) FROM krappform", &connection, -1, -1, 0);
    return true;
  } catch (const CKvDbException&) {
    return false;
  }
}

}  // namespace

bool PrepareDemoDatabase(CKvDbConnection& connection, const std::string& url) {
  if (HasRepository(connection)) return false;
  const kvdemo::SqlDialect dialect = kvdemo::DialectOf(url);
  // All or nothing, so that a failed first run leaves no half application
  // behind that the next run would take for a repository.
  connection.BeginTrans();
  try {
    kvdemo::CreateRepositoryTables(connection, dialect);
    kvdemo::CreateDemoApplication(connection, dialect);
    kvdemo::FillDemoOrders(connection);
    for (const char* sql : kUploadRows) connection.Execute(sql, nullptr, 1);
    AddSiteUsers(connection);
    connection.CommitTrans();
  } catch (...) {
    connection.RollbackTrans();
    throw;
  }
  return true;
}

void WriteDemoFiles(const std::string& filesDir) {
  fs::path path = fs::path(filesDir) / kUploadUrl;
  std::error_code ec;
  if (fs::exists(path, ec)) return;
  fs::create_directories(path.parent_path(), ec);
  std::ofstream(path) << kUploadContent;
}
