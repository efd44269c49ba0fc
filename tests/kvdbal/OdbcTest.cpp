// What the ODBC engine adds: the layer's options inside an ODBC string, the
// driver's own word on a bad string, and the texts and values every engine
// must carry alike (standard SQL literals, values longer than any buffer,
// values a column refuses, a server session that goes away mid-page).
#include <string>
#include <vector>

#include "EngineFixture.h"
#include "platform/com/AsciiCase.h"
#include "platform/kvdbal/ConnectionString.h"
#include "tests/fixture/Bytes.h"

namespace {

using kvdbal::ConnectionSettings;

TEST(OdbcConnectionString, LayerOptionsAreAttributesTheDriverNeverSees) {
  ConnectionSettings s = kvdbal::ParseConnectionString(
      "odbc:DSN=shop;UID=web;PWD={p?w;d&x=}}};kvdbal.servertype=2; KVDBAL.statementcache = 0 ;Port=1");
  EXPECT_EQ(s.engine, ConnectionSettings::Engine::Odbc);
  EXPECT_EQ(s.target, "DSN=shop;UID=web;PWD={p?w;d&x=}}};Port=1");
  EXPECT_EQ(s.serverType, 2);
  EXPECT_EQ(s.statementCacheSize, 0);
  // Looks like an option, but is a password.
  s = kvdbal::ParseConnectionString("odbc:DSN=shop;PWD={;kvdbal.servertype=3}");
  EXPECT_EQ(s.target, "DSN=shop;PWD={;kvdbal.servertype=3}");
  EXPECT_FALSE(s.serverType.has_value());
  EXPECT_EQ(s.saveLock, ConnectionSettings::SaveLock::None);
  s = kvdbal::ParseConnectionString("odbc:DSN=shop;kvdbal.savelock=table");
  EXPECT_EQ(s.saveLock, ConnectionSettings::SaveLock::Table);
  for (const char* bad : {"odbc:DSN=x;kvdbal.mode=rwc", "odbc:DSN=x;kvdbal.savelock=row", "odbc:DSN=x;kvdbal.nosuch=1", "odbc:DSN=x;kvdbal.busytimeout=soon",
                          "odbc:DSN=x;PWD={open", "odbc:kvdbal.servertype=2"})
    EXPECT_KVDB_ERROR(kvdbal::ParseConnectionString(bad), KVDB_E_CONNECTION);
}

class OdbcTest : public LayerTest {
 protected:
  // The test's connection string with attribute keyword's value replaced.
  std::string With(const std::string& keyword, const std::string& value) const {
    std::string text = ConnectionString();
    const std::string lower = LowerAscii(text);
    const size_t at = lower.find(";" + keyword + "=");
    if (at == std::string::npos) return text + ";" + keyword + "=" + value;
    const size_t end = text.find(';', at + 1);
    return text.substr(0, at) + ";" + keyword + "=" + value + (end == std::string::npos ? "" : text.substr(end));
  }
  static std::string OpenFailure(const std::string& connectionString) {
    IDispatch* session = nullptr;
    const std::string message = EXPECT_KVDB_ERROR(KvDbOpenSessionConnection(connectionString, &session), KVDB_E_CONNECTION);
    EXPECT_EQ(session, nullptr);
    return message;
  }
};

TEST_P(OdbcTest, ABadStringGivesTheDriversOwnMessageWithItsState) {
  if (!IsOdbc()) GTEST_SKIP() << "only the ODBC engine reads odbc: strings";
  const std::string noDriver = OpenFailure("odbc:Driver={No Such Driver};Database=x");
  EXPECT_PRED_FORMAT2(::testing::IsSubstring, "No Such Driver", noDriver);
  EXPECT_PRED_FORMAT2(::testing::IsSubstring, "(SQLSTATE ", noDriver);
  // MariaDB's driver says the login was refused; PostgreSQL's, that it
  // could not connect.
  EXPECT_PRED_FORMAT2(::testing::IsSubstring, IsMariaDB() ? "(SQLSTATE 28000" : "(SQLSTATE 08001",
                      OpenFailure(With("uid", "nosuchuser")));
  const std::string unreachable =
      OpenFailure(IsMariaDB() ? With("socket", "/nonexistent/kv.sock") : With("servername", "/nonexistent"));
  EXPECT_PRED_FORMAT2(::testing::IsSubstring, "cannot connect to the ODBC data source", unreachable);
  EXPECT_PRED_FORMAT2(::testing::IsSubstring, "(SQLSTATE ", unreachable);
}

// Stored texts carry backslashes (upload paths); || joins and double quotes
// name columns, as standard SQL says.
TEST_P(OdbcTest, StandardSqlTextsMeanTheSameOnEveryEngine) {
  Exec("CREATE TABLE t (lid INTEGER PRIMARY KEY, strpath VARCHAR(100))");
  Exec("INSERT INTO t (lid, strpath) VALUES (1, '\\files\\a.pdf'), (2, 'it''s')");
  EXPECT_EQ(QueryString("SELECT strpath FROM t WHERE lid = 1"), "\\files\\a.pdf");
  EXPECT_EQ(QueryString("SELECT \"strpath\" || '|' || 'x' FROM t WHERE lid = 2"), "it's|x");
  EXPECT_EQ(QueryLong("SELECT COUNT(*) FROM t WHERE strpath = '\\files\\a.pdf'"), 1);
}

// Far longer than any driver buffer, with characters of every UTF-8 length.
TEST_P(OdbcTest, LongValuesTravelWholeBothWays) {
  Exec(std::string("CREATE TABLE l (lid INTEGER PRIMARY KEY, strmemo ") + LongTextType() + ", blobdata " +
       BinaryType() + ")");
  std::string text;
  while (text.size() < 300 * 1024) text += "a\\ü€😀 ";
  std::string bytes(200 * 1024, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  const CComVariant blob = BytesVariant(bytes);
  {
    CKvDbRowset rs;
    rs.Open("SELECT * FROM l WHERE lid = -1", m_db.get(), 0, 2, 0);
    rs.AddNew();
    rs.GetField("lid")->SetValue(CComVariant(LONG{1}));
    rs.GetField("strmemo")->SetValue(CComVariant(std::string_view(text)));
    rs.GetField("blobdata")->SetValue(blob);
    rs.Update();
    rs.AddNew();
    rs.GetField("lid")->SetValue(CComVariant(LONG{2}));
    // Chunks end between characters: the text repeats a 12-byte piece.
    for (size_t at = 0; at < text.size(); at += 48000)
      rs.GetField("strmemo")->AppendChunk(CComVariant(std::string_view(text).substr(at, 48000)));
    rs.Update();
  }
  CKvDbRowset rs;
  rs.Open("SELECT lid, strmemo, blobdata FROM l ORDER BY lid", m_db.get(), -1, -1, 0);
  EXPECT_EQ(rs.GetField("blobdata")->GetStringValue(), bytes);
  EXPECT_TRUE(rs.GetField("strmemo")->GetStringValue() == text) << "row 1's text differs";
  const CComVariant memo = rs.GetField("strmemo")->GetValue();
  ASSERT_EQ(memo.vt, VT_BSTR);
  EXPECT_TRUE(Utf8FromBstr(memo.bstrVal) == text);
  rs.MoveNext();
  EXPECT_TRUE(rs.GetField("strmemo")->GetStringValue() == text) << "row 2's text differs";
}

TEST_P(OdbcTest, AValueTheColumnCannotTakeWritesNothing) {
  if (IsSQLite()) GTEST_SKIP() << "SQLite does not hold a text to its declared length";
  Exec("CREATE TABLE v (lid INTEGER PRIMARY KEY, strcode VARCHAR(4))");
  m_db->BeginTrans();
  Exec("INSERT INTO v (lid, strcode) VALUES (1, 'ok')");
  CKvDbRowset rs;
  rs.Open("SELECT * FROM v WHERE lid = -1", m_db.get(), 0, 2, 0);
  rs.AddNew();
  rs.GetField("lid")->SetValue(CComVariant(LONG{2}));
  rs.GetField("strcode")->SetValue(CComVariant(std::string_view("far too long")));
  EXPECT_KVDB_ERROR(rs.Update(), KVDB_E_ERRORSINCOMMAND);
  m_db->RollbackTrans();
  EXPECT_EQ(QueryLong("SELECT COUNT(*) FROM v"), 0);
  EXPECT_KVDB_ERROR(Exec("INSERT INTO v (lid, strcode) VALUES (3, 'far too long')"), KVDB_E_ERRORSINCOMMAND);
  EXPECT_EQ(QueryLong("SELECT COUNT(*) FROM v"), 0);
}

TEST_P(OdbcTest, AServerSessionThatGoesAwayMidPageIsReportedAndTheNextPageReadsAgain) {
  if (!IsMariaDB())
    GTEST_SKIP() << "needs a database of the test's own whose sessions it may end: MariaDB gives each test one, "
                    "PostgreSQL tests share a database";
  Exec("CREATE TABLE p (lid INTEGER PRIMARY KEY)");
  Exec("INSERT INTO p (lid) SELECT seq FROM seq_1_to_3000");
  CKvDbRowset rs;
  rs.Open("SELECT lid FROM p ORDER BY lid", m_db.get(), -1, -1, 0);
  rs.Move(1000);
  EXPECT_EQ(rs.GetField(0)->GetLongValue(), 1001);
  // Every other session on the test's database ends: the rowset's reader.
  // (Inside a transaction the query runs on the connection's own session.)
  m_db->BeginTrans();
  CKvDbRowset sessions;
  sessions.Open("SELECT id FROM information_schema.processlist WHERE db = DATABASE() AND id <> CONNECTION_ID()",
                m_db.get(), -1, -1, 0);
  std::vector<long> ids;
  for (; !sessions.IsEOF(); sessions.MoveNext()) ids.push_back(sessions.GetField(0)->GetLongValue());
  sessions.Close();
  m_db->CommitTrans();
  for (long id : ids) Exec("KILL CONNECTION " + std::to_string(id));
  EXPECT_KVDB_ERROR(rs.Move(1000), KVDB_E_CONNECTION);
  rs.Open("SELECT lid FROM p ORDER BY lid", m_db.get(), -1, -1, 0);
  rs.Move(2500);
  EXPECT_EQ(rs.GetField(0)->GetLongValue(), 2501);
}

KV_ON_BOTH_ENGINES(OdbcTest);

}  // namespace
