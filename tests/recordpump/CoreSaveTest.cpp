// Saving the field value store: inserts with new ids, updates by id,
// language rows, long fields, skipped fields, rollback and retry.
#include <string>
#include <vector>

#include "pump_fixtures.h"
#include "CoreSleepHook.h"
#include "tests/fixture/Bytes.h"

namespace {

class CoreSaveTest : public CorePumpTest {
 protected:
  void SetUp() override {
    CorePumpTest::SetUp();
    ASSERT_EQ(S_OK, Bind(kOrderEditForm));
  }
};

TEST_F(CoreSaveTest, InsertTakesTheNextIdAndASecondSaveUpdatesIt) {
  Set("strno", Str("first"));
  EXPECT_EQ(1, Save());  // empty table
  EXPECT_EQ("first", Text("krorder", "strno", 1));

  for (int id = 2; id <= 7; ++id)
    db->Exec("INSERT INTO krorder (lid, strno) VALUES (" + std::to_string(id) + ", 'x')");
  ASSERT_EQ(S_OK, pump->CleanFieldValues());
  Set("strno", Str("eighth"));
  EXPECT_EQ(8, Save());
  EXPECT_EQ("eighth", Text("krorder", "strno", 8));

  // Saving the same store again updates the row it inserted.
  Set("strno", Str("eighth, changed"));
  EXPECT_EQ(8, Save());
  EXPECT_EQ(8, db->Count("krorder"));
  EXPECT_EQ("eighth, changed", Text("krorder", "strno", 8));
  EXPECT_TRUE(trace.Lines().empty()) << trace.Text();
}

TEST_F(CoreSaveTest, IdsArriveAsTextsOrOtherNumbersAndWhatIsNoIdIsRefused) {
  db->Exec("INSERT INTO krorder (lid, strno) VALUES (5, 'old'), (6, 'old')");
  db->Exec("INSERT INTO krorder_l (lid, lparentid, llcid, strtitle) VALUES (50, 5, 1031, 'alt')");
  // As a form post gives them: texts, for the record and its language row.
  Set("lid", Str("5"));
  Set("strno", Str("by text"));
  Set("lid", Str("50"), 1031);
  Set("strtitle", Str("neu"), 1031);
  EXPECT_EQ(5, Save());
  EXPECT_EQ("by text", Text("krorder", "strno", 5));
  EXPECT_EQ("neu", db->QueryString("SELECT strtitle FROM krorder_l WHERE lid=50"));
  EXPECT_EQ(1, db->Count("krorder_l"));

  // A whole double names the record; an empty text is a new record's id.
  for (const auto& [lid, saved] : {std::pair{CComVariant(6.0), 6}, std::pair{Str(""), 7}}) {
    ASSERT_EQ(S_OK, pump->CleanFieldValues());
    Set("lid", lid);
    Set("strno", Str("given"));
    EXPECT_EQ(saved, Save());
    EXPECT_EQ("given", Text("krorder", "strno", saved));
  }

  for (const CComVariant& bad : {Str("abc"), Str("1.5"), CComVariant(1.5), Str("99999999999")}) {
    trace.Clear();
    ASSERT_EQ(S_OK, pump->CleanFieldValues());
    Set("lid", bad);
    Set("strno", Str("lost"));
    EXPECT_EQ(-77, Save(E_FAIL));
    EXPECT_TRUE(TraceHas("The value of lid is no whole number in the id range")) << trace.Text();
  }
  EXPECT_EQ(3, db->Count("krorder"));
  EXPECT_EQ(0, db->Count("krorder", "strno='lost'"));
}

TEST_F(CoreSaveTest, NoIdIsLeftAfterTheTopOfTheRange) {
  db->Exec("INSERT INTO krorder (lid, strno) VALUES (2147483647, 'top')");
  Set("strno", Str("one too many"));
  EXPECT_EQ(-77, Save(E_FAIL));
  EXPECT_TRUE(TraceHas("No id is left in krorder after 2147483647")) << trace.Text();
  EXPECT_EQ(1, db->Count("krorder"));

  // A language table at the top takes the new main row back with it.
  db->Exec("DELETE FROM krorder");
  db->Exec("INSERT INTO krorder_l (lid, lparentid, llcid) VALUES (2147483647, 0, 1031)");
  trace.Clear();
  Set("strtitle", Str("Titel"), 1031);
  EXPECT_EQ(-77, Save(E_FAIL));
  EXPECT_TRUE(TraceHas("No id is left in krorder_l after 2147483647")) << trace.Text();
  EXPECT_EQ(0, db->Count("krorder"));
  EXPECT_EQ(1, db->Count("krorder_l"));
}

TEST_F(CoreSaveTest, UpdateOfAMissingRowWritesNothing) {
  db->Exec("INSERT INTO krorder (lid, strno) VALUES (1, 'keep')");
  Set("lid", I4(99));
  Set("strno", Str("lost"));
  EXPECT_EQ(-77, Save());
  EXPECT_TRUE(TraceHas("Dataset with lid = 99 does not exist")) << trace.Text();
  EXPECT_EQ(1, db->Count("krorder"));
  EXPECT_EQ("keep", Text("krorder", "strno", 1));

  // A missing language row rolls the freshly inserted main row back too.
  trace.Clear();
  ASSERT_EQ(S_OK, pump->CleanFieldValues());
  Set("strno", Str("new"));
  Set("lid", I4(77), 1031);
  Set("strtitle", Str("Titel"), 1031);
  EXPECT_EQ(-77, Save());
  EXPECT_TRUE(TraceHas("Dataset with lid = 77 does not exist")) << trace.Text();
  EXPECT_EQ(1, db->Count("krorder"));
  EXPECT_EQ(0, db->Count("krorder_l"));
}

TEST_F(CoreSaveTest, LanguageRowsAreInsertedThenFoundByIdOrByParentAndLanguage) {
  Set("strno", Str("with texts"));
  Set("strtitle", Str("Titel"), 1031);
  Set("strtitle", Str("Title"), 1033);
  const LONG id = Save();
  ASSERT_EQ(1, id);
  EXPECT_EQ(2, db->Count("krorder_l", "lparentid=1"));
  EXPECT_EQ("Titel", db->QueryString("SELECT strtitle FROM krorder_l WHERE lparentid=1 AND llcid=1031"));
  EXPECT_EQ("Title", db->QueryString("SELECT strtitle FROM krorder_l WHERE lparentid=1 AND llcid=1033"));
  const LONG germanId = db->QueryLong("SELECT lid FROM krorder_l WHERE llcid=1031");

  // The same store again: the language row is found by its own id.
  Set("strtitle", Str("Titel 2"), 1031);
  StatementCapture statements;
  EXPECT_EQ(1, Save());
  EXPECT_EQ(2, db->Count("krorder_l"));
  EXPECT_EQ("Titel 2", db->QueryString("SELECT strtitle FROM krorder_l WHERE llcid=1031"));
  EXPECT_TRUE(Saw(statements, "SELECT * FROM krorder_l WHERE lid=" + std::to_string(germanId)));

  // A fresh store for the same record finds it by parent and language.
  ASSERT_EQ(S_OK, pump->CleanFieldValues());
  Set("lid", I4(1));
  Set("strtitle", Str("Titel 3"), 1031);
  statements.Clear();
  EXPECT_EQ(1, Save());
  EXPECT_EQ(2, db->Count("krorder_l"));
  EXPECT_EQ("Titel 3", db->QueryString("SELECT strtitle FROM krorder_l WHERE llcid=1031"));
  EXPECT_TRUE(Saw(statements, "SELECT * FROM krorder_l WHERE lparentid=1 AND llcid=1031"));
  EXPECT_TRUE(trace.Lines().empty()) << trace.Text();
}

TEST_F(CoreSaveTest, FieldsThatCannotBeWrittenAreSkippedAndTraced) {
  Set("strno", Str("kept"));
  Set("nosuchcolumn", Str("x"));
  Set("strno; DROP TABLE krorder", Str("x"));
  Set("lamount", I4(3));
  EXPECT_EQ(1, Save());
  EXPECT_EQ("kept", Text("krorder", "strno", 1));
  EXPECT_EQ(3, db->QueryLong("SELECT lamount FROM krorder WHERE lid=1"));
  EXPECT_EQ(2, TraceCount("Location: KvDataPump,")) << trace.Text();
  EXPECT_FALSE(TraceHas("Returning:")) << trace.Text();
}

TEST_F(CoreSaveTest, LongFieldsTakeTextAndBytesOfAnySize) {
  const std::string megabyte(1 << 20, 'm');
  Set("strmemo", Str(megabyte));
  std::string bytes(70000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  Set("blobdata", BytesVariant(bytes));
  Set("strmemo_l", Str(megabyte + "!"), 1031);
  ASSERT_EQ(1, Save());
  EXPECT_EQ(1 << 20, db->QueryLong("SELECT length(strmemo) FROM krorder WHERE lid=1"));
  EXPECT_EQ(megabyte, Text("krorder", "strmemo", 1));
  EXPECT_EQ(70000, db->QueryLong("SELECT length(blobdata) FROM krorder WHERE lid=1"));
  EXPECT_EQ((1 << 20) + 1, db->QueryLong("SELECT length(strmemo_l) FROM krorder_l"));
  ASSERT_EQ(S_OK, pump->MoveTo(1));
  EXPECT_EQ(megabyte, TextOf(Read("strmemo")));
  EXPECT_EQ(megabyte + "!", TextOf(ReadEx("strmemo_l", 1031)));

  // An empty text is set, not appended: the field becomes empty, not NULL.
  ASSERT_EQ(S_OK, pump->CleanFieldValues());
  Set("lid", I4(1));
  Set("strmemo", Str(""));
  ASSERT_EQ(1, Save());
  EXPECT_FALSE(db->QueryIsNull("SELECT strmemo FROM krorder WHERE lid=1"));
  EXPECT_EQ(0, db->QueryLong("SELECT length(strmemo) FROM krorder WHERE lid=1"));

  // Two entries of one long field: the row holds the last, in both rows.
  ASSERT_EQ(S_OK, pump->CleanFieldValues());
  Set("lid", I4(1));
  Set("strmemo", Str("first"));
  Set("strMemo", Str("second"));
  Set("strmemo_l", Str("erste"), 1031);
  Set("strmemo_l", Str("zweite"), 1031);
  ASSERT_EQ(1, Save());
  EXPECT_EQ("second", Text("krorder", "strmemo", 1));
  EXPECT_EQ("zweite", db->QueryString("SELECT strmemo_l FROM krorder_l WHERE lparentid=1"));
  EXPECT_TRUE(trace.Lines().empty()) << trace.Text();
}

TEST_F(CoreSaveTest, RefusedRowIsRolledBackAndReportedWithTheDatabaseCode) {
  // A refusal that is no collision: the language row of the new record is
  // refused after its main row was written.
  db->Exec("CREATE TRIGGER krorder_l_refuse BEFORE INSERT ON krorder_l WHEN NEW.strtitle = 'bad' "
           "BEGIN SELECT RAISE(ABORT, 'title refused'); END");
  Set("strno", Str("main"));
  Set("strtitle", Str("bad"), 1031);
  LONG id = -77;
  const HRESULT hr = pump->SaveFieldValues(&id);
  EXPECT_TRUE(FAILED(hr));
  EXPECT_NE(E_FAIL, hr);
  EXPECT_EQ(-77, id);
  EXPECT_EQ(0, db->Count("krorder"));
  EXPECT_EQ(0, db->Count("krorder_l"));
  EXPECT_TRUE(TraceHas("[CKvDbException]")) << trace.Text();
  EXPECT_TRUE(TraceHas("title refused")) << trace.Text();
  EXPECT_FALSE(TraceHas("Returning:")) << trace.Text();
  EXPECT_FALSE(TraceHas("collision")) << trace.Text();
}

// Values no column can hold: the save either skips them with a report and
// keeps the rest, or is refused as a whole with a report and writes nothing.
// Never half a record, never silence.
TEST_F(CoreSaveTest, ValuesTheColumnCannotTakeAreSkippedAndTheRestIsSaved) {
  CComVariant error;
  error.vt = VT_ERROR;
  error.scode = DISP_E_PARAMNOTFOUND;
  CComVariant variants;
  variants.vt = VT_ARRAY | VT_VARIANT;
  variants.parray = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  ASSERT_NE(nullptr, variants.parray);
  const CComVariant twelve = Str("twelve"), half = Str("1.5"), notADate = Str("not a date"),
                    huge = CComVariant(1e30);
  const std::pair<const char*, const CComVariant*> all[] = {
      {"lamount", &error},  {"strmemo", &error}, {"lamount", &variants}, {"strmemo", &variants},
      {"lamount", &twelve}, {"lamount", &half},  {"lamount", &huge},     {"dtorder", &notADate}};
  for (const auto& [column, odd] : all) {
    SCOPED_TRACE(std::string(column) + " vt " + std::to_string(odd->vt));
    trace.Clear();
    db->Exec("DELETE FROM krorder");
    ASSERT_EQ(S_OK, pump->CleanFieldValues());
    Set("strno", Str("rest"));
    Set(column, *odd);
    Set("dblprice", CComVariant(2.5));
    EXPECT_EQ(1, Save());
    EXPECT_TRUE(TraceHas("[CKvDbException]")) << trace.Text();
    EXPECT_EQ("rest", Text("krorder", "strno", 1));
    EXPECT_EQ("2.5", Text("krorder", "dblprice", 1));
    EXPECT_TRUE(db->QueryIsNull("SELECT " + std::string(column) + " FROM krorder WHERE lid=1"));
  }
}

class CoreSaveRetryTest : public CoreSaveTest {
 protected:
  void SetUp() override {
    CoreSaveTest::SetUp();
    // Every new row with strno 'taken' is refused as a duplicate while row 1
    // holds that number.
    db->Exec("CREATE UNIQUE INDEX krorder_strno_unique ON krorder (strno)");
    db->Exec("INSERT INTO krorder (lid, strno) VALUES (1, 'taken')");
    Set("strno", Str("taken"));
    Set("strtitle", Str("Titel"), 1031);
  }
  std::vector<DWORD> waits;
};

TEST_F(CoreSaveRetryTest, CollisionRollsBackWaitsAndRetriesWithAFreshAttempt) {
  ScopedSleepHook hook([&](DWORD ms) {
    waits.push_back(ms);
    db->Exec("UPDATE krorder SET strno='moved' WHERE lid=1");
  });
  EXPECT_EQ(2, Save());
  ASSERT_EQ(1u, waits.size());
  EXPECT_LE(waits[0], 255u);
  EXPECT_EQ(1, TraceCount("Data save collision. ID: 2 Retry: 1\n")) << trace.Text();
  EXPECT_EQ(2, db->Count("krorder"));
  EXPECT_EQ(1, db->Count("krorder_l", "lparentid=2"));
  EXPECT_FALSE(TraceHas("Returning:")) << trace.Text();
}

TEST_F(CoreSaveRetryTest, HundredCollisionsGiveUpWithEFail) {
  ScopedSleepHook hook([&](DWORD ms) { waits.push_back(ms); });
  EXPECT_EQ(-77, Save(E_FAIL));
  EXPECT_EQ(100u, waits.size());
  for (DWORD ms : waits) EXPECT_LE(ms, 255u);
  EXPECT_EQ(100, TraceCount("Data save collision. ID: 2 Retry: "));
  EXPECT_EQ(1, TraceCount("Data save collision. ID: 2 Retry: 100\n"));
  // The last collision's exception, then the frame's own report.
  EXPECT_EQ(1, HeadingCount("CKvDbException")) << trace.Text();
  EXPECT_EQ("Returning: 0X80004005\n", trace.Lines().back().text);
  EXPECT_EQ(1, db->Count("krorder"));
  EXPECT_EQ(0, db->Count("krorder_l"));
}

// With savelock=table another writer holding the database past the busy
// timeout is a collision before any row is written: the save waits, then
// tries again.
class CoreLockedSaveTest : public CoreSaveTest {
 protected:
  void SetUp() override {
    Open(TestDatabase::Engine::SQLite, "savelock=table");
    ASSERT_EQ(S_OK, Bind(kOrderEditForm));
  }
};

TEST_F(CoreLockedSaveTest, WriterHoldingTheTablesPastTheTimeoutIsACollision) {
  IDispatch* opened = nullptr;
  KvDbOpenSessionConnection(db->ConnectionString(), &opened);
  CKvDbConnection holder(opened, true);
  opened->Release();
  holder.BeginTransWriting({"krorder"});
  std::vector<DWORD> waits;
  ScopedSleepHook hook([&](DWORD ms) {
    waits.push_back(ms);
    holder.CommitTrans();
  });
  Set("strno", Str("after the wait"));
  EXPECT_EQ(1, Save());
  EXPECT_EQ(1u, waits.size());
  EXPECT_EQ(1, TraceCount("Data save collision. ID: -1 Retry: 1\n")) << trace.Text();
  EXPECT_EQ("after the wait", Text("krorder", "strno", 1));
}

}  // namespace
