#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "platform/host/HostSession.h"
#include "tests/fixture/TestDatabase.h"

namespace {

class Fixture : public ::testing::TestWithParam<TestDatabase::Engine> {
 protected:
  void SetUp() override {
    if (GetParam() == TestDatabase::Engine::Postgres && !TestDatabase::PostgresAvailable())
      GTEST_SKIP() << "KV_TEST_PG is not set";
    db = TestDatabase::Create(GetParam());
  }
  std::unique_ptr<TestDatabase> db;
};

// The column names of a table, in the order the table has them.
std::vector<std::string> Columns(TestDatabase& db, const std::string& table) {
  IDispatch* raw = nullptr;
  KvDbOpenSessionConnection(db.ConnectionString(), &raw);
  CKvDbConnection connection(raw, true);
  raw->Release();
  CKvDbRowset rowset;
  rowset.Open(("SELECT * FROM " + table).c_str(), &connection, -1, -1, 0);
  std::vector<std::string> names;
  for (int i = 0; i < rowset.GetFieldCount(); ++i) names.push_back(rowset.GetField(i)->GetName());
  return names;
}

}  // namespace

TEST_P(Fixture, RepositoryDescribesTheDemoTablesAsTheyAre) {
  // A form binds the way the component binds it: form -> pack -> data pack -> table.
  EXPECT_EQ(db->QueryString("SELECT d.strtable FROM krappform f, krappeditpack e, krappdatapack d "
                            "WHERE f.lid=100 AND e.lid=f.lpackid AND d.lid=e.ldatapackid"),
            "krorder");
  EXPECT_EQ(db->QueryString("SELECT d.strtable FROM krappform f, krappviewpack v, krappdatapack d "
                            "WHERE f.lid=101 AND f.ltype=0 AND v.lid=f.lpackid AND d.lid=v.ldatapackid"),
            "krorder");
  EXPECT_EQ(db->QueryString("SELECT strtable FROM krappdatapack WHERE strname='#10'"), "krorder_l");
  EXPECT_EQ(db->Count("krappdatapack", "strname='#14'"), 0);
  EXPECT_EQ(db->QueryLong("SELECT ldatapackid FROM krappdatapack WHERE lid=14"), 12);
  EXPECT_EQ(db->QueryLong("SELECT lrecrightsmask FROM krappdatapack WHERE lid=10"), 1);

  // Fields follow the columns of each table in order, system fields flagged.
  for (const auto& [pack, table] : std::vector<std::pair<int, std::string>>{
           {10, "krorder"}, {11, "krorder_l"}, {12, "krorderline"}, {13, "krorderline_l"}, {14, "krlinenote"}}) {
    const std::vector<std::string> columns = Columns(*db, table);
    ASSERT_EQ(db->Count("krappdatafield", "ldatapackid=" + std::to_string(pack)), long(columns.size())) << table;
    for (size_t i = 0; i < columns.size(); ++i)
      EXPECT_EQ(db->QueryString("SELECT strname FROM krappdatafield WHERE lid=" + std::to_string(pack * 100 + i + 1)),
                columns[i]);
  }
  EXPECT_EQ(db->Count("krappdatafield", "bsystem=1 AND ldatapackid=10"), 5);
  EXPECT_EQ(db->Count("krappdatafield", "strdatatype='FILE'"), 3);
  // Only columns of a language table are language-dependent: a main-table
  // column marked so could not be looked up directly.
  EXPECT_EQ(db->Count("krappdatafield", "lprecision2=4"), 1);
  EXPECT_EQ(db->Count("krappdatafield f, krappdatapack p",
                      "f.ldatapackid=p.lid AND f.lprecision2=4 AND p.strname NOT LIKE '#%'"),
            0);

  // Control texts: the key pieces the component joins.
  EXPECT_EQ(db->QueryString("SELECT l.strtext FROM krappcontrol c, krappdatafield f, krlang l WHERE c.lid=501 AND "
                            "f.lid=c.ldatafieldid AND f.strname='strstate' AND l.ltableid=c.lid AND l.ltype=7 AND "
                            "l.strident='7' AND l.lcid=1031"),
            "geschlossen");
  EXPECT_EQ(db->Count("krappcontrol c, krappdatafield f", "f.lid=c.ldatafieldid AND f.strname='strcolor'"), 2);
  EXPECT_EQ(db->Count("krlang"), 9);
  EXPECT_EQ(db->Count("krorder") + db->Count("kruploadfile") + db->Count("krorder_l"), 0);
}

TEST_P(Fixture, HelpersReadWriteAndCapture) {
  StatementCapture statements;
  db->Exec("INSERT INTO krorder (lid, strno, strmemo) VALUES (1, 'A1', NULL)");
  EXPECT_EQ(statements.Statements(), std::vector<std::string>{"INSERT INTO krorder (lid, strno, strmemo) VALUES (1, 'A1', NULL)"});
  EXPECT_EQ(db->QueryLong("SELECT lid FROM krorder WHERE strno='A1'"), 1);
  EXPECT_EQ(db->QueryString("SELECT strno FROM krorder"), "A1");
  EXPECT_TRUE(db->QueryIsNull("SELECT strmemo FROM krorder"));
  EXPECT_FALSE(db->QueryIsNull("SELECT strno FROM krorder"));
  EXPECT_EQ(db->Count("krorder", "lid > 1"), 0);
  EXPECT_THROW(db->QueryLong("SELECT lid FROM krorder WHERE lid=99"), std::exception);

  ASSERT_EQ(db->BasePath().back(), '/');
  db->WriteFile("files/a/doc.pdf", "%PDF");
  EXPECT_TRUE(db->FileExists("files/a/doc.pdf"));
  EXPECT_TRUE(std::filesystem::exists(db->BasePath() + "files/a/doc.pdf"));

  ComPtr<IDispatch> session = db->NewSession(3, false);
  ComPtr<IHostSession> hostSession;
  ASSERT_EQ(session.As(&hostSession), S_OK);
  ComPtr<IHostApplication> application;
  hostSession->get_Application(application.ReleaseAndGetAddressOf());
  CComBSTR path;
  application->get_BasePath(&path);
  EXPECT_EQ(path.ToUtf8(), db->BasePath());
}

TEST_P(Fixture, EachDatabaseIsItsOwnAndGoesAway) {
  std::string workDir;
  {
    auto other = TestDatabase::Create(GetParam(), "servertype=2");
    EXPECT_NE(other->ConnectionString(), db->ConnectionString());
    EXPECT_NE(other->BasePath(), db->BasePath());
    other->Exec("INSERT INTO krorder (lid) VALUES (1)");
    EXPECT_EQ(db->Count("krorder"), 0);
    workDir = std::filesystem::path(other->BasePath()).parent_path().parent_path();
    ASSERT_TRUE(std::filesystem::exists(workDir));
  }
  EXPECT_FALSE(std::filesystem::exists(workDir));
}

TEST_P(Fixture, ForkedChildWorksOnAConnectionOfItsOwn) {
  // On the server, a backend process per connection shows whose connection is used.
  const bool server = GetParam() == TestDatabase::Engine::Postgres;
  const std::string whose = server ? "SELECT pg_backend_pid()" : "SELECT 0";
  const long parentBackend = db->QueryLong(whose);  // the parent's helper connection is open now
  const pid_t child = ::fork();
  if (child == 0) {
    int code = 2;
    try {
      db->Exec("INSERT INTO krorder (lid) VALUES (7)");
      code = db->Count("krorder") == 1 && (!server || db->QueryLong(whose) != parentBackend) ? 0 : 1;
    } catch (...) {
    }
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(db->QueryLong("SELECT lid FROM krorder"), 7);
}

INSTANTIATE_TEST_SUITE_P(Engines, Fixture,
                         ::testing::Values(TestDatabase::Engine::SQLite, TestDatabase::Engine::Postgres),
                         [](const auto& info) {
                           return info.param == TestDatabase::Engine::SQLite ? "SQLite" : "Postgres";
                         });
