// Deleting the current record: its row and its language rows, nothing else,
// and failures that only the trace learns about.
#include "pump_fixtures.h"

namespace {

class DeleteTest : public FilesPumpTest {
 protected:
  void SetUp() override {
    FilesPumpTest::SetUp();
    if (!Ready()) return;
    db->Exec("INSERT INTO krorder (lid, strno, lfile) VALUES (5, 'A5', 1)");
    db->Exec("INSERT INTO krorder (lid, strno) VALUES (6, 'A6')");
    for (int lcid : {1031, 1033, 1036})
      db->Exec("INSERT INTO krorder_l (lid, lparentid, llcid) VALUES (" + std::to_string(lcid) +
               ", 5, " + std::to_string(lcid) + ")");
    db->Exec("INSERT INTO krorder_l (lid, lparentid, llcid) VALUES (1, 6, 1031)");
    db->Exec("INSERT INTO krorderline (lid, lparentid) VALUES (1, 5)");
    Upload(1, "files/a5.pdf");
  }
};

TEST_P(DeleteTest, DeleteRemovesTheRowAndAllItsLanguageRowsOnly) {
  ASSERT_EQ(S_OK, Bind(kOrderEditForm, 5));
  StatementCapture statements;
  EXPECT_EQ(S_OK, pump->Delete());
  EXPECT_EQ((std::vector<std::string>{"BEGIN", "DELETE FROM krorder WHERE lid=5",
                                      "DELETE FROM krorder_l WHERE lparentid=5", "COMMIT"}),
            statements.Statements());
  EXPECT_EQ(0, db->Count("krorder", "lid=5"));
  EXPECT_EQ(0, db->Count("krorder_l", "lparentid=5"));
  // The neighbour, the child record, the upload row and its file stay.
  EXPECT_EQ(1, db->Count("krorder", "lid=6"));
  EXPECT_EQ(1, db->Count("krorder_l", "lparentid=6"));
  EXPECT_EQ(1, db->Count("krorderline"));
  EXPECT_EQ(1, db->Count("kruploadfile"));
  EXPECT_TRUE(db->FileExists("files/a5.pdf"));
  EXPECT_TRUE(trace.Lines().empty()) << trace.Text();
}

TEST_P(DeleteTest, DeleteExRemovesOneLanguageRowOrTheRecordAlone) {
  ASSERT_EQ(S_OK, Bind(kOrderEditForm, 5));
  EXPECT_EQ(S_OK, pump->DeleteEx(1031));
  EXPECT_EQ(0, db->Count("krorder_l", "lparentid=5 AND llcid=1031"));
  EXPECT_EQ(2, db->Count("krorder_l", "lparentid=5"));
  EXPECT_EQ(1, db->Count("krorder_l", "lparentid=6 AND llcid=1031"));
  EXPECT_EQ(1, db->Count("krorder", "lid=5"));

  EXPECT_EQ(S_OK, pump->DeleteEx(0));
  EXPECT_EQ(0, db->Count("krorder", "lid=5"));
  EXPECT_EQ(2, db->Count("krorder_l", "lparentid=5")) << "the language rows are left behind";
  EXPECT_TRUE(trace.Lines().empty()) << trace.Text();
}

KV_ON_BOTH_ENGINES(DeleteTest);

}  // namespace
