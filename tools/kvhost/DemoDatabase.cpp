#include "DemoDatabase.h"

#include <filesystem>
#include <fstream>

#include "demoapp/DemoSchema.h"

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
