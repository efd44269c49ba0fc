// How column values come out: VARIANT types by declared type, NULLs,
// expression columns, the long and string readings, field lookup.
#include "EngineFixture.h"
#include "platform/kvdbal/ConnectionString.h"

namespace {

class ValuesTest : public LayerTest {
 protected:
  void SetUp() override {
    LayerTest::SetUp();
    if (IsSkipped()) return;
    Exec(std::string("CREATE TABLE vals (lid INTEGER PRIMARY KEY, ssmall SMALLINT, bflag BOOLEAN, "
                     "dblprice DOUBLE PRECISION, strmemo TEXT, strname VARCHAR(20), dtedit TIMESTAMP, "
                     "lbig BIGINT, blobdata ") + BinaryType() + ")");
  }
  DATE SampleDate() {
    DATE date = 0;
    EXPECT_TRUE(DateFromParts({2024, 2, 29, 13, 45, 7}, &date));
    return date;
  }
};

TEST_P(ValuesTest, ColumnsMapToVariantsByDeclaredType) {
  std::string date = m_db->GetService().StringFromDATE(SampleDate(), 3);
  EXPECT_EQ(date, "'2024-02-29 13:45:07'");
  Exec("INSERT INTO vals (lid, ssmall, bflag, dblprice, strmemo, strname, dtedit, lbig) VALUES "
       "(1, 7, TRUE, 2.5, 'memo ü', 'name', " + date + ", 3000000000)");
  Exec("INSERT INTO vals (lid) VALUES (2)");

  CKvDbRowset rs;
  rs.Open("SELECT * FROM vals ORDER BY lid", m_db.get(), -1, -1, 0);
  ASSERT_EQ(rs.GetFieldCount(), 9);
  // Each value's type, and its number (a boolean's true is -1).
  const struct {
    const char* field;
    VARTYPE vt;
    double number;
  } columns[] = {{"lid", VT_I4, 1},       {"ssmall", VT_I2, 7},           {"bflag", VT_BOOL, -1},
                 {"dblprice", VT_R8, 2.5}, {"dtedit", VT_DATE, SampleDate()},
                 {"lbig", VT_R8, 3000000000.0}};  // lbig does not fit 32 bits
  for (const auto& c : columns) {
    const CComVariant v = rs.GetField(c.field)->GetValue();
    // MariaDB's BOOLEAN is a TINYINT(1) holding 1 or 0.
    if (IsMariaDB() && c.vt == VT_BOOL) {
      EXPECT_EQ(v.vt, VT_I2) << c.field;
      EXPECT_EQ(rs.GetField(c.field)->GetLongValue(), 1) << c.field;
      continue;
    }
    EXPECT_EQ(v.vt, c.vt) << c.field;
    CComVariant number;
    ASSERT_EQ(VariantChangeType(&number, &v, 0, VT_R8), S_OK) << c.field;
    EXPECT_NEAR(number.dblVal, c.number, 1e-6) << c.field;
  }
  const CComVariant memo = rs.GetField("strmemo")->GetValue();
  ASSERT_EQ(memo.vt, VT_BSTR);
  EXPECT_EQ(Utf8FromBstr(memo.bstrVal), "memo ü");

  EXPECT_EQ(rs.GetField("strmemo")->GetAttributes() & kvDbFieldLong, kvDbFieldLong);
  EXPECT_EQ(rs.GetField("blobdata")->GetAttributes() & kvDbFieldLong, kvDbFieldLong);
  EXPECT_EQ(rs.GetField("strname")->GetAttributes() & kvDbFieldLong, 0);
  EXPECT_EQ(rs.GetField("lid")->GetAttributes() & kvDbFieldLong, 0);

  EXPECT_EQ(rs.GetField("dblprice")->GetStringValue(), "2.5");
  EXPECT_EQ(rs.GetField("lbig")->GetStringValue(), "3000000000");
  EXPECT_EQ(rs.GetField("bflag")->GetLongValue(), 1);
  EXPECT_EQ(rs.GetField("ssmall")->GetStringValue(), "7");
  EXPECT_KVDB_ERROR(rs.GetField("strname")->GetLongValue(), DISP_E_TYPEMISMATCH);

  rs.MoveNext();  // the row of NULLs
  for (int i = 1; i < rs.GetFieldCount(); ++i) {
    CKvDbField* field = rs.GetField(i);
    EXPECT_EQ(field->GetValue().vt, VT_NULL) << field->GetName();
    EXPECT_EQ(field->GetLongValue(), 0) << field->GetName();
    EXPECT_EQ(field->GetStringValue(), "") << field->GetName();
  }
}

TEST_P(ValuesTest, ServerTypeComesFromTheEngineUnlessTheConnectionStringSaysOtherwise) {
  // Through ODBC only Informix and Oracle have dialects of their own.
  EXPECT_EQ(m_db->GetDbType(), IsPostgres() ? kvDbServerPostgreSQL : IsSQLite() ? kvDbServerSQLite : kvDbServerStandard);
  EXPECT_EQ(Connect("servertype=2")->GetDbType(), kvDbServerTempInto);
  EXPECT_EQ(Connect("servertype=3")->GetDbType(), kvDbServerOuterPlus);
  IDispatch* session = nullptr;
  EXPECT_KVDB_ERROR(KvDbOpenSessionConnection(ConnectionString("servertype=x"), &session), KVDB_E_CONNECTION);
  EXPECT_EQ(session, nullptr);
}

TEST(ConnectionStringTest, SessionConnectionIsAnEmptyDispatchObject) {
  IDispatch* raw = nullptr;
  KvDbOpenSessionConnection("sqlite::memory:", &raw);
  ComPtr<IDispatch> session = ComPtr<IDispatch>::Attach(raw);
  UINT count = 7;
  EXPECT_EQ(session->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(session->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr), E_NOTIMPL);
  // Two wrappers on one session share its engine connection.
  CKvDbConnection first(session.Get(), true);
  CKvDbConnection second(session.Get(), true);
  first.Execute("CREATE TABLE t (a INTEGER)", nullptr, 1);
  long affected = -1;
  second.Execute("INSERT INTO t VALUES (1); INSERT INTO t VALUES (2)", &affected, 1);
  EXPECT_EQ(affected, 2);
}

// A host's default for an SQLite option: added after '?' or '&', never over
// the string's own setting, and not for another engine's string.
TEST(ConnectionStringTest, AHostsSqliteDefaultGivesWayToTheStringsOwnOption) {
  using kvdbal::WithSqliteDefault;
  const struct {
    const char* given;
    const char* expected;
  } cases[] = {
      {"sqlite:/d/a.db", "sqlite:/d/a.db?busytimeout=9"},
      {"sqlite:/d/a.db?mode=rwc", "sqlite:/d/a.db?mode=rwc&busytimeout=9"},
      {"sqlite:/d/a.db?busytimeout=5", "sqlite:/d/a.db?busytimeout=5"},
      {"sqlite:/d/a.db?mode=rw&busytimeout=5", "sqlite:/d/a.db?mode=rw&busytimeout=5"},
      // A name that only ends in the option's name is another option.
      {"sqlite:/d/a.db?xbusytimeout=5", "sqlite:/d/a.db?xbusytimeout=5&busytimeout=9"},
      {"postgresql://h/db", "postgresql://h/db"},
      {"odbc:DSN=x", "odbc:DSN=x"},
  };
  for (const auto& c : cases) EXPECT_EQ(WithSqliteDefault(c.given, "busytimeout", "9"), c.expected) << c.given;
  EXPECT_EQ(kvdbal::ParseConnectionString(WithSqliteDefault("sqlite:/d/a.db", "busytimeout", "9")).busyTimeoutMs, 9);
}

TEST_P(ValuesTest, FieldsAreFoundByIndexNameOrVariantAndUnknownOnesRaise) {
  Exec("INSERT INTO vals (lid, strname) VALUES (3, 'x')");
  CKvDbRowset rs;
  rs.Open("SELECT lid, strname FROM vals", m_db.get(), -1, -1, 0);
  CComVariant byName(std::string_view("strname"));
  CComVariant byIndex(LONG{1});
  EXPECT_EQ(rs.GetField(byName)->GetStringValue(), "x");
  EXPECT_EQ(rs.GetField(byIndex)->GetStringValue(), "x");
  EXPECT_EQ(rs.GetField(byName), rs.GetField(1));
  EXPECT_EQ(rs.GetField(1)->GetName(), "strname");
  EXPECT_KVDB_ERROR(rs.GetField("strnone"), KVDB_E_BADCOLUMN);
  EXPECT_KVDB_ERROR(rs.GetField(CComVariant(std::string_view("strnone"))), KVDB_E_BADCOLUMN);
  EXPECT_KVDB_ERROR(rs.GetField(2), KVDB_E_BADCOLUMN);
  EXPECT_KVDB_ERROR(rs.GetField(-1), KVDB_E_BADCOLUMN);
}

TEST_P(ValuesTest, ExpressionColumnsMapByTheirValue) {
  CKvDbRowset rs;
  rs.Open("SELECT MAX(lid) as maxid FROM vals", m_db.get(), -1, -1, 0);
  ASSERT_FALSE(rs.IsEOF());
  EXPECT_EQ(rs.GetField("maxid")->GetValue().vt, VT_NULL);
  EXPECT_EQ(rs.GetField("maxid")->GetLongValue(), 0);  // so the next id of an empty table is 1

  Exec("INSERT INTO vals (lid, dblprice) VALUES (41, 0.125)");
  rs.Open("SELECT MAX(lid) as maxid, COUNT(*) AS lcount, MAX(lid)+1 AS nextid, MAX(dblprice) AS p "
          "FROM vals", m_db.get(), -1, -1, 0);
  CComVariant max = rs.GetField("MAXID")->GetValue();  // names match without regard to case
  EXPECT_EQ(max.vt, VT_I4);
  EXPECT_EQ(max.lVal, 41);
  CComVariant count = rs.GetField("lcount")->GetValue();
  EXPECT_EQ(count.vt, VT_I4);
  EXPECT_EQ(count.lVal, 1);
  EXPECT_EQ(rs.GetField("nextid")->GetLongValue(), 42);
  EXPECT_EQ(rs.GetField("p")->GetValue().vt, VT_R8);
  EXPECT_EQ(rs.GetField("p")->GetStringValue(), "0.125");
}

KV_ON_BOTH_ENGINES(ValuesTest);

TEST(DateServiceTest, ModesGiveDateTimeAndDateTimeLiterals) {
  DATE date = 0;
  ASSERT_TRUE(DateFromParts({1999, 12, 31, 23, 59, 58}, &date));
  CKvDbService service;
  EXPECT_EQ(service.StringFromDATE(date, 3), "'1999-12-31 23:59:58'");
  EXPECT_EQ(service.StringFromDATE(date, 1), "'1999-12-31'");
  EXPECT_EQ(service.StringFromDATE(date, 2), "'23:59:58'");
  EXPECT_KVDB_ERROR(service.StringFromDATE(date, 9), E_INVALIDARG);
}

}  // namespace
