// Rows written through rowsets opened for writing, transactions, and the
// collision codes that the saving code retries on.
#include <vector>

#include "EngineFixture.h"
#include "tests/fixture/Bytes.h"

namespace {

class WriteTest : public LayerTest {
 protected:
  void SetUp() override {
    LayerTest::SetUp();
    if (IsSkipped()) return;
    Exec(std::string("CREATE TABLE w (lid INTEGER PRIMARY KEY, strname VARCHAR(20), lqty INTEGER, "
                     "strmemo TEXT, blobdata ") + BinaryType() + ")");
  }
  // Inserts a row the way the saving code does: AddNew on an empty result.
  void Insert(LONG lid, const char* name) {
    CKvDbRowset rs;
    rs.Open("SELECT * FROM w WHERE lid = -1", m_db.get(), 0, 2, 0);
    rs.AddNew();
    rs.GetField("lid")->SetValue(CComVariant(lid));
    rs.GetField("strname")->SetValue(CComVariant(std::string_view(name)));
    rs.Update();
  }
};

TEST_P(WriteTest, AddNewInsertsAndUpdateChangesOnlyTheSetColumns) {
  Insert(1, "first");
  Exec("UPDATE w SET lqty = 9 WHERE lid = 1");
  EXPECT_EQ(QueryString("SELECT strname FROM w WHERE lid = 1"), "first");

  std::vector<std::string> statements;
  KvDbSetStatementObserver([&](const std::string& sql) { statements.push_back(sql); });
  CKvDbRowset rs;
  rs.Open("SELECT * FROM w WHERE lid=1", m_db.get(), 0, 2, 0);
  rs.GetField("strname")->SetValue(CComVariant(std::string_view("renamed")));
  EXPECT_EQ(rs.GetField("strname")->GetStringValue(), "renamed");  // the row shows what was set
  rs.Update();
  KvDbSetStatementObserver({});
  rs.Close();

  ASSERT_EQ(statements.size(), 2u);
  // Marks are numbered, except through ODBC, which has only "?".
  const std::string mark1 = IsOdbc() ? "?" : IsPostgres() ? "$1" : "?1", mark2 = IsOdbc() ? "?" : IsPostgres() ? "$2" : "?2";
  EXPECT_EQ(statements[1], "UPDATE w SET strname = " + mark1 + " WHERE lid = " + mark2);
  EXPECT_EQ(QueryString("SELECT strname FROM w WHERE lid = 1"), "renamed");
  EXPECT_EQ(QueryLong("SELECT lqty FROM w WHERE lid = 1"), 9);
}

// What a caller set on a row reads back before the row is stored, as the
// text and the number the row will hold; bytes keep every byte.
TEST_P(WriteTest, ValuesSetOnARowReadBackBeforeAndAfterTheRowIsStored) {
  CKvDbRowset rs;
  rs.Open("SELECT * FROM w WHERE lid = -1", m_db.get(), 0, 2, 0);
  rs.AddNew();
  const auto of = [](VARTYPE vt, long long bits) {
    CComVariant v;
    v.vt = vt;
    v.llVal = bits;
    return v;
  };
  const std::string kBytes("a\0\xff" "b", 4);
  CComVariant single = of(VT_R4, 0), bytes = BytesVariant(kBytes);
  single.fltVal = 1.5f;
  const std::pair<CComVariant, std::string> cases[] = {
      {of(VT_I2, -3), "-3"}, {of(VT_I8, 1LL << 40), "1099511627776"}, {of(VT_UI1, 200), "200"},
      {single, "1.5"},       {CComVariant(2.25), "2.25"},             {CComVariant::Bool(true), "1"},
      {bytes, kBytes},       {of(VT_CY, 12345), "1.2345"}};
  for (const auto& [value, text] : cases) {
    rs.GetField("strname")->SetValue(value);
    EXPECT_EQ(rs.GetField("strname")->GetStringValue(), text) << "type " << value.vt;
  }
  rs.GetField("lqty")->SetValue(of(VT_I2, 7));
  EXPECT_EQ(rs.GetField("lqty")->GetLongValue(), 7);
  rs.GetField("lid")->SetValue(CComVariant(LONG{1}));
  rs.GetField("blobdata")->SetValue(bytes);
  rs.Update();
  EXPECT_EQ(QueryString("SELECT strname FROM w WHERE lid = 1"), "1.2345");

  rs.Open("SELECT blobdata FROM w WHERE lid = 1", m_db.get(), -1, -1, 0);
  const CComVariant stored = rs.GetField(0)->GetValue();
  ASSERT_EQ(stored.vt, VT_ARRAY | VT_UI1);
  EXPECT_EQ(std::string_view(static_cast<const char*>(stored.parray->pvData), stored.parray->rgsabound[0].cElements),
            kBytes);
  EXPECT_EQ(rs.GetField(0)->GetStringValue(), kBytes);
}

TEST_P(WriteTest, ValuesTheColumnCannotTakeAreRefusedBeforeTheRowIsStored) {
  Exec("CREATE TABLE typed (lid INTEGER PRIMARY KEY, lqty INTEGER, ssmall SMALLINT, dblprice DOUBLE "
       "PRECISION, bflag BOOLEAN, dtedit TIMESTAMP, strname VARCHAR(20))");
  CKvDbRowset rs;
  rs.Open("SELECT * FROM typed WHERE lid = -1", m_db.get(), 0, 2, 0);
  rs.AddNew();
  rs.GetField("lid")->SetValue(CComVariant(LONG{1}));
  const auto text = [](const char* t) { return CComVariant(std::string_view(t)); };
  struct Refused {
    const char* column;
    CComVariant value;
    HRESULT hr;
  };
  CComVariant error;
  error.vt = VT_ERROR;
  const Refused refused[] = {
      {"lqty", text("twelve"), DISP_E_TYPEMISMATCH}, {"lqty", text("1.5"), DISP_E_TYPEMISMATCH},
      {"lqty", CComVariant(2.5), DISP_E_TYPEMISMATCH}, {"ssmall", CComVariant(LONG{40000}), DISP_E_OVERFLOW},
      {"dblprice", text("cheap"), DISP_E_TYPEMISMATCH}, {"bflag", text("maybe"), DISP_E_TYPEMISMATCH},
      {"dtedit", text("not a date"), DISP_E_TYPEMISMATCH}, {"dtedit", CComVariant(2.5), DISP_E_TYPEMISMATCH},
      {"strname", error, DISP_E_TYPEMISMATCH},
  };
  for (const Refused& r : refused) EXPECT_KVDB_ERROR(rs.GetField(r.column)->SetValue(r.value), r.hr);
  // What the columns can take goes in, texts included, and the row is stored.
  rs.GetField("lqty")->SetValue(text(" 12 "));
  rs.GetField("ssmall")->SetValue(CComVariant(LONG{-7}));
  rs.GetField("dblprice")->SetValue(text("2.25"));
  // MariaDB's BOOLEAN is a TINYINT, which takes numbers only.
  rs.GetField("bflag")->SetValue(IsMariaDB() ? CComVariant(LONG{1}) : text("true"));
  rs.GetField("dtedit")->SetValue(text("2024-03-05 10:00:00"));
  rs.GetField("strname")->SetValue(CComVariant(LONG{5}));
  rs.Update();
  EXPECT_EQ(QueryLong("SELECT lqty FROM typed WHERE lid = 1"), 12);
  EXPECT_EQ(QueryString("SELECT strname FROM typed WHERE lid = 1"), "5");
  EXPECT_EQ(QueryLong("SELECT COUNT(*) FROM typed WHERE dblprice = 2.25 AND ssmall = -7"), 1);
}

TEST_P(WriteTest, LongFieldsCollectChunks) {
  Insert(1, "x");
  CKvDbRowset rs;
  rs.Open("SELECT * FROM w WHERE lid = 1", m_db.get(), 0, 2, 0);
  CKvDbField* memo = rs.GetField("strmemo");
  ASSERT_EQ(memo->GetAttributes() & kvDbFieldLong, kvDbFieldLong);
  memo->AppendChunk(CComVariant(std::string_view("Grüße, ")));
  memo->AppendChunk(CComVariant(std::string_view("world")));
  std::string bytes("\x01\x00\x02", 3);
  for (char c : bytes) rs.GetField("blobdata")->AppendChunk(BytesVariant(std::string(1, c)));
  EXPECT_KVDB_ERROR(rs.GetField("strname")->AppendChunk(CComVariant(std::string_view("no"))),
                    KVDB_E_NOTSUPPORTED);
  rs.Update();
  rs.Close();
  EXPECT_EQ(QueryString("SELECT strmemo FROM w WHERE lid = 1"), "Grüße, world");
  EXPECT_EQ(QueryString("SELECT blobdata FROM w WHERE lid = 1"), bytes);

  // A chunk after the row was stored starts the value afresh.
  rs.Open("SELECT * FROM w WHERE lid = 1", m_db.get(), 0, 2, 0);
  rs.GetField("strmemo")->AppendChunk(CComVariant(std::string_view("new")));
  rs.Update();
  rs.Close();
  EXPECT_EQ(QueryString("SELECT strmemo FROM w WHERE lid = 1"), "new");
}

TEST_P(WriteTest, DuplicateKeyIsACollision) {
  Insert(1, "first");
  EXPECT_KVDB_ERROR(Insert(1, "again"), KVDB_E_COLLISION_DUPKEY);
  EXPECT_KVDB_ERROR(Exec("INSERT INTO w (lid) VALUES (1)"), KVDB_E_COLLISION_DUPKEY);
  m_db->BeginTrans();
  EXPECT_KVDB_ERROR(Insert(1, "in transaction"), KVDB_E_COLLISION_DUPKEY);
  m_db->RollbackTrans();
  EXPECT_EQ(QueryString("SELECT strname FROM w WHERE lid = 1"), "first");
}

TEST_P(WriteTest, UpdatingARowDeletedMeanwhileIsACollision) {
  Insert(1, "x");
  CKvDbRowset rs;
  rs.Open("SELECT * FROM w WHERE lid = 1", m_db.get(), 0, 2, 0);
  rs.GetField("lqty")->SetValue(CComVariant(LONG{1}));
  Connect()->Execute("DELETE FROM w WHERE lid = 1", nullptr, 1);
  EXPECT_KVDB_ERROR(rs.Update(), KVDB_E_COLLISION_CHANGED);
}

TEST_P(WriteTest, NewRowReadsBackAndUnsetColumnsStayNull) {
  CKvDbRowset rs;
  rs.Open("SELECT * FROM w WHERE lid = -1", m_db.get(), 0, 2, 0);
  ASSERT_TRUE(rs.IsEOF());
  rs.AddNew();
  EXPECT_EQ(rs.GetField("lqty")->GetValue().vt, VT_NULL);
  rs.GetField("lid")->SetValue(CComVariant(LONG{7}));
  rs.Update();
  EXPECT_EQ(rs.GetField("lid")->GetLongValue(), 7);
  // The stored new row can be changed again through the same rowset.
  rs.GetField("lqty")->SetValue(CComVariant(LONG{3}));
  rs.Update();
  rs.Close();
  EXPECT_EQ(QueryLong("SELECT lqty FROM w WHERE lid = 7"), 3);
  EXPECT_EQ(QueryString("SELECT strname FROM w WHERE lid = 7"), "");
}

TEST_P(WriteTest, WritingNeedsAWritableRowsetOnOneTable) {
  Insert(1, "x");
  CKvDbRowset rs;
  rs.Open("SELECT * FROM w", m_db.get(), -1, -1, 0);
  EXPECT_KVDB_ERROR(rs.AddNew(), KVDB_E_NOTSUPPORTED);
  EXPECT_KVDB_ERROR(rs.GetField("lqty")->SetValue(CComVariant(LONG{1})), KVDB_E_NOTSUPPORTED);
  rs.Open("SELECT w.lid, x.lid AS other FROM w, w x", m_db.get(), 0, 2, 0);
  rs.GetField(0)->SetValue(CComVariant(LONG{5}));
  EXPECT_KVDB_ERROR(rs.Update(), KVDB_E_NOTSUPPORTED);
  rs.Open("SELECT * FROM w WHERE lid = 99", m_db.get(), 0, 2, 0);
  EXPECT_KVDB_ERROR(rs.GetField("lqty")->SetValue(CComVariant(LONG{1})), KVDB_E_NOCURRENTROW);
}

TEST_P(WriteTest, TableWithoutKeyUpdatesJustTheCurrentRow) {
  Exec("CREATE TABLE nokey (a INTEGER, b VARCHAR(10))");
  Exec("INSERT INTO nokey (a, b) VALUES (1, 'same')");
  Exec("INSERT INTO nokey (a, b) VALUES (1, 'same')");
  Exec("INSERT INTO nokey (a, b) VALUES (2, NULL)");
  CKvDbRowset rs;
  rs.Open("SELECT * FROM nokey WHERE a = 1", m_db.get(), 0, 2, 0);
  rs.GetField("b")->SetValue(CComVariant(std::string_view("changed")));
  rs.Update();
  rs.Open("SELECT * FROM nokey WHERE a = 2", m_db.get(), 0, 2, 0);
  rs.GetField("a")->SetValue(CComVariant(LONG{3}));
  rs.Update();
  rs.Close();
  EXPECT_EQ(QueryLong("SELECT COUNT(*) FROM nokey WHERE b = 'changed'"), 1);
  EXPECT_EQ(QueryLong("SELECT COUNT(*) FROM nokey WHERE b = 'same'"), 1);
  EXPECT_EQ(QueryLong("SELECT COUNT(*) FROM nokey WHERE a = 3 AND b IS NULL"), 1);
}

TEST_P(WriteTest, RowsetLeftFromARolledBackTransactionDoesNotDisturbTheNext) {
  Insert(1, "a");
  Insert(2, "b");
  CKvDbRowset rs;
  m_db->BeginTrans();
  rs.Open("SELECT lid FROM w ORDER BY lid", m_db.get(), -1, -1, 0);
  m_db->RollbackTrans();
  m_db->BeginTrans();
  rs.Close();  // its cursor went with the rollback
  Insert(3, "c");
  m_db->CommitTrans();
  EXPECT_EQ(QueryLong("SELECT COUNT(*) FROM w"), 3);
}

KV_ON_BOTH_ENGINES(WriteTest);

}  // namespace
