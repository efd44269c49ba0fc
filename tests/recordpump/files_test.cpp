// Emptying file fields with real files below a temporary application
// directory: the file, then the upload row, then the field; a file that
// cannot be deleted leaves the database as it was.
#include "pump_fixtures.h"

namespace {

class ClearFileFieldTest : public FilesPumpTest {
 protected:
  void SetUp() override {
    FilesPumpTest::SetUp();
    if (!Ready()) return;
    db->Exec("INSERT INTO krorder (lid, strno, lfile) VALUES (5, 'A5', 1)");
    db->Exec("INSERT INTO krorder (lid, strno, lfile) VALUES (6, 'A6', 2)");
    db->Exec("INSERT INTO krorder_l (lid, lparentid, llcid, lfile_l) VALUES (30, 5, 1031, 3)");
    Upload(1, "files/a5.pdf");
    Upload(2, "files/a6.pdf");
    Upload(3, "files/de/a5.pdf");
    ASSERT_EQ(S_OK, Bind(kOrderEditForm));
  }

  // Through ClearFileFieldEx when a language is given.
  HRESULT Clear(LONG id, const std::string& field, LONG lcid = -1) {
    const CComBSTR name(field);
    return lcid < 0 ? pump->ClearFileField(id, name.Get()) : pump->ClearFileFieldEx(id, name.Get(), lcid);
  }
  void ExpectUntouched() {
    EXPECT_EQ(3, db->Count("kruploadfile"));
    EXPECT_EQ(1, db->QueryLong("SELECT lfile FROM krorder WHERE lid=5"));
    EXPECT_EQ(2, db->QueryLong("SELECT lfile FROM krorder WHERE lid=6"));
    EXPECT_EQ(3, db->QueryLong("SELECT lfile_l FROM krorder_l WHERE lid=30"));
  }
};

TEST_P(ClearFileFieldTest, FileGoesFirstThenTheUploadRowThenTheField) {
  // Each statement is seen together with whether the file is still there.
  std::vector<std::pair<std::string, bool>> seen;
  KvDbSetStatementObserver([&](const std::string& sql) {
    seen.emplace_back(sql, db->FileExists("files/a5.pdf"));
  });
  const HRESULT hr = Clear(5, "lfile");
  KvDbSetStatementObserver({});

  EXPECT_EQ(S_OK, hr);
  const std::vector<std::pair<std::string, bool>> expected = {
      {"SELECT lfile FROM krorder WHERE lid = 5", true},
      {"SELECT strurl FROM kruploadfile WHERE lid = 1", true},
      {"BEGIN", false},
      {"DELETE FROM kruploadfile WHERE lid = 1", false},
      {"UPDATE krorder SET lfile = NULL WHERE lid = 5", false},
      {"COMMIT", false},
  };
  EXPECT_EQ(expected, seen);
  EXPECT_FALSE(db->FileExists("files/a5.pdf"));
  EXPECT_EQ(0, db->Count("kruploadfile", "lid=1"));
  EXPECT_TRUE(db->QueryIsNull("SELECT lfile FROM krorder WHERE lid=5"));
  // The other records and files are not touched.
  EXPECT_TRUE(db->FileExists("files/a6.pdf"));
  EXPECT_TRUE(db->FileExists("files/de/a5.pdf"));
  EXPECT_EQ(2, db->Count("kruploadfile"));
  EXPECT_TRUE(trace.Lines().empty()) << trace.Text();
}

TEST_P(ClearFileFieldTest, UrlLeadingOutOfTheApplicationDeletesNothing) {
  PointUploadOneOutside();
  ASSERT_EQ(S_OK, Bind(kOrderEditForm));

  EXPECT_EQ(S_OK, Clear(5, "lfile"));
  EXPECT_TRUE(db->FileExists("outside.txt"));
  ExpectUntouched();
  EXPECT_EQ(1, HeadingCount("File Warning"));
  EXPECT_TRUE(TraceHas("outside.txt. GetLastError returns 5\n")) << trace.Text();
}

TEST_P(ClearFileFieldTest, ExWorksOnTheRecordOrOnALanguageRowById) {
  StatementCapture statements;
  EXPECT_EQ(S_OK, Clear(30, "lfile_l", 1031));
  EXPECT_EQ((std::vector<std::string>{"SELECT lfile_l FROM krorder_l WHERE lid=30 AND llcid=1031",
                                      "SELECT strurl FROM kruploadfile WHERE lid=3",
                                      "BEGIN", "DELETE FROM kruploadfile WHERE lid=3",
                                      "UPDATE krorder_l SET lfile_l=NULL WHERE lid=30", "COMMIT"}),
            statements.Statements());
  EXPECT_FALSE(db->FileExists("files/de/a5.pdf"));
  EXPECT_TRUE(db->QueryIsNull("SELECT lfile_l FROM krorder_l WHERE lid=30"));

  // The language row is matched by its own id and its language.
  db->Exec("UPDATE krorder_l SET lfile_l=2 WHERE lid=30");
  statements.Clear();
  EXPECT_EQ(S_OK, Clear(30, "lfile_l", 1033));
  EXPECT_EQ(1u, statements.Statements().size());
  EXPECT_TRUE(db->FileExists("files/a6.pdf"));

  statements.Clear();
  EXPECT_EQ(S_OK, Clear(5, "lfile", 0));
  EXPECT_EQ((std::vector<std::string>{"SELECT lfile FROM krorder WHERE lid=5",
                                      "SELECT strurl FROM kruploadfile WHERE lid=1",
                                      "BEGIN", "DELETE FROM kruploadfile WHERE lid=1",
                                      "UPDATE krorder SET lfile=NULL WHERE lid=5", "COMMIT"}),
            statements.Statements());
  EXPECT_FALSE(db->FileExists("files/a5.pdf"));
  EXPECT_TRUE(trace.Lines().empty()) << trace.Text();
}

KV_ON_BOTH_ENGINES(ClearFileFieldTest);

}  // namespace
