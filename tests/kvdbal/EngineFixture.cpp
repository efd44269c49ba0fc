#include "EngineFixture.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>

namespace {
std::atomic<int> g_counter{0};

std::string WorkDir() {
  const char* dir = std::getenv("KV_TEST_WORKDIR");
  return dir && *dir ? dir : std::filesystem::temp_directory_path().string();
}

std::string PgServer() {
  const char* server = std::getenv("KV_TEST_PG");
  return server ? server : "";
}
}  // namespace

void LayerTest::SetUp() {
  EngineTest::SetUp();
  if (IsSkipped()) return;
  std::string unique = std::to_string(getpid()) + "_" + std::to_string(g_counter++);
  if (IsPostgres()) {
    m_pgSchema = "kvdbal_" + unique;
    {
      IDispatch* session = nullptr;
      KvDbOpenSessionConnection(PgServer(), &session);
      CKvDbConnection admin(session, false);
      admin.Execute(("CREATE SCHEMA " + m_pgSchema).c_str(), nullptr, 1);
    }
  } else {
    m_sqlitePath = WorkDir() + "/kvdbal_test_" + unique + ".db";
    std::filesystem::remove(m_sqlitePath);
  }
  m_db = Connect();
}

void LayerTest::TearDown() {
  m_db.reset();
  if (!m_pgSchema.empty()) {
    IDispatch* session = nullptr;
    KvDbOpenSessionConnection(PgServer(), &session);
    CKvDbConnection admin(session, false);
    admin.Execute(("DROP SCHEMA " + m_pgSchema + " CASCADE").c_str(), nullptr, 1);
  }
  if (!m_sqlitePath.empty()) {
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(m_sqlitePath + suffix);
  }
}

std::string LayerTest::ConnectionString(const std::string& options) const {
  if (IsPostgres()) {
    std::string uri = PgServer();
    uri += uri.find('?') == std::string::npos ? '?' : '&';
    uri += "options=-csearch_path%3D" + m_pgSchema;
    if (!options.empty()) uri += "&" + options;
    return uri;
  }
  return "sqlite:" + m_sqlitePath + "?mode=rwc" + (options.empty() ? "" : "&" + options);
}

std::unique_ptr<CKvDbConnection> LayerTest::Connect(const std::string& options) const {
  IDispatch* session = nullptr;
  KvDbOpenSessionConnection(ConnectionString(options), &session);
  return std::make_unique<CKvDbConnection>(session, false);
}

void LayerTest::Exec(const std::string& sql) const { m_db->Execute(sql.c_str(), nullptr, 1); }

long LayerTest::QueryLong(const std::string& sql) const {
  CKvDbRowset rs;
  rs.Open(sql.c_str(), m_db.get(), -1, -1, 0);
  return rs.IsEOF() ? -1 : rs.GetField(0)->GetLongValue();
}

std::string LayerTest::QueryString(const std::string& sql) const {
  CKvDbRowset rs;
  rs.Open(sql.c_str(), m_db.get(), -1, -1, 0);
  return rs.IsEOF() ? "<no row>" : rs.GetField(0)->GetStringValue();
}
