#include "EngineFixture.h"

void LayerTest::SetUp() {
  EngineTest::SetUp();
  if (IsSkipped()) return;
  m_database = TestDatabase::Create(GetParam(), "", /*withApplication=*/false);
  m_db = Connect();
}

void LayerTest::TearDown() {
  m_db.reset();  // before its file or schema goes
  m_database.reset();
}

std::string LayerTest::ConnectionString(const std::string& options) const {
  return TestDatabase::WithOptions(m_database->ConnectionString(), options);
}

std::string LayerTest::SqlitePath() const {
  if (!IsSQLite()) return "";
  const std::string& text = m_database->ConnectionString();
  return text.substr(7, text.find('?') - 7);  // after "sqlite:"
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

std::string FailureOf(const std::function<void()>& call, HRESULT hr, const char* what) {
  try {
    call();
  } catch (const CKvDbException& e) {
    EXPECT_EQ(static_cast<uint32_t>(e.GetResult()), static_cast<uint32_t>(hr)) << what << ": " << e.Message();
    return e.Message();
  }
  ADD_FAILURE() << what << " raised nothing";
  return "";
}
