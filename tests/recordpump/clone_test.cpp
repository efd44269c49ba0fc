// Cloning a three-level tree: new ids, parent links to the copies, columns
// copied by the database, and uploaded files copied or shared.
#include <ctime>

#include "pump_fixtures.h"
#include "tests/fixture/TempDir.h"

namespace {

class CloneTest : public FilesPumpTest {
 protected:
  void SetUp() override {
    FilesPumpTest::SetUp();
    if (!Ready()) return;
    BuildOrderTree();
    ASSERT_EQ(S_OK, Bind(kOrderEditForm, 5));
  }

  LONG Clone(bool files, HRESULT expected = S_OK, const std::string& idField = "",
             const std::string& parentField = "") {
    CComBSTR id(idField);
    CComBSTR parent(parentField);
    LONG newId = -77;
    EXPECT_EQ(expected, pump->Clone(id.Get(), parent.Get(), files ? VARIANT_TRUE : VARIANT_FALSE, &newId));
    return newId;
  }

  std::string FileContent(const std::string& relativePath) { return TempDir::Read(db->BasePath() + relativePath); }

  // Each cloned line and note is found by its text, below the expected parent.
  void ExpectTreeCopied(LONG newOrder) {
    for (const auto& [name, qty] : {std::pair{"pencil", 10}, std::pair{"paper", 500}}) {
      const std::string where = std::string("strname='") + name + "'";
      EXPECT_EQ(2, db->Count("krorderline", where)) << name;
      const LONG copy = db->QueryLong("SELECT MAX(lid) FROM krorderline WHERE " + where);
      EXPECT_GE(copy, 14);
      EXPECT_EQ(newOrder, Number("krorderline", "lparentid", copy));
      EXPECT_EQ(qty, Number("krorderline", "lqty", copy));
    }
    for (const auto& [note, line] : {std::pair{21, "pencil"}, std::pair{22, "paper"},
                                     std::pair{23, "paper"}}) {
      const std::string text = "note " + std::to_string(note);
      EXPECT_EQ(2, db->Count("krlinenote", "strnote='" + text + "'")) << text;
      const LONG copy = db->QueryLong("SELECT MAX(lid) FROM krlinenote WHERE strnote='" + text + "'");
      const LONG parent = Number("krlinenote", "lparentid", copy);
      EXPECT_EQ(line, Text("krorderline", "strname", parent));
      EXPECT_EQ(newOrder, Number("krorderline", "lparentid", parent)) << text;
    }
  }
};

TEST_P(CloneTest, TreeIsCopiedWithNewIdsAndParentsPointingToTheCopies) {
  StatementCapture statements;
  const LONG newId = Clone(false);
  EXPECT_EQ(7, newId) << "MAX(lid)+1 of krorder";
  EXPECT_TRUE(trace.Lines().empty()) << trace.Text();

  // The top copy keeps every listed column, its parent included.
  for (const char* column : {"luserid", "lownerid", "lparentid", "lamount", "lfile"})
    EXPECT_EQ(Number("krorder", column, 5), Number("krorder", column, 7)) << column;
  for (const char* column : {"strno", "strcolor", "dblprice", "dtorder", "strmemo"})
    EXPECT_EQ(Text("krorder", column, 5), Text("krorder", column, 7)) << column;

  // Children per table: MAX+1 each, depth first.
  EXPECT_EQ(5, db->Count("krorderline"));
  EXPECT_EQ(14, db->QueryLong("SELECT MIN(lid) FROM krorderline WHERE lparentid=7"));
  EXPECT_EQ(15, db->QueryLong("SELECT MAX(lid) FROM krorderline WHERE lparentid=7"));
  EXPECT_EQ(7, db->Count("krlinenote"));
  EXPECT_EQ(25, db->QueryLong("SELECT MIN(lid) FROM krlinenote WHERE lid > 24"));
  EXPECT_EQ(27, db->QueryLong("SELECT MAX(lid) FROM krlinenote"));
  ExpectTreeCopied(7);

  // Language packs are no child packs here, so their rows stay with the source.
  EXPECT_EQ(0, db->Count("krorder_l", "lparentid=7"));
  EXPECT_EQ(4, db->Count("krorderline_l"));

  // Without files the copies name the same upload rows.
  EXPECT_EQ(7, db->Count("kruploadfile"));
  EXPECT_EQ(Number("krorderline", "lfile", 11), db->QueryLong("SELECT lfile FROM krorderline WHERE "
                                                              "lparentid=7 AND strname='pencil'"));

  const std::vector<std::string> inserts = Only(statements.Statements(), "INSERT");
  ASSERT_EQ(6u, inserts.size());
  EXPECT_EQ(
      "INSERT INTO krorder (lid, dtedit, luserid, lownerid, lparentid, strno, strcolor, strstate, "
      "lamount, dblprice, dtorder, strmemo, lfile, blobdata) SELECT 7 AS lid, dtedit, luserid, "
      "lownerid, lparentid AS lparentid, strno, strcolor, strstate, lamount, dblprice, dtorder, "
      "strmemo, lfile, blobdata FROM krorder WHERE lid = 5",
      inserts[0]);
  EXPECT_EQ(0u, inserts[1].find("INSERT INTO krorderline (lid, lparentid, dtedit, luserid, strname, "
                                "lqty, lfile) SELECT 14 AS lid, 7 AS lparentid, "))
      << inserts[1];
  EXPECT_EQ(0u, inserts[2].find("INSERT INTO krlinenote")) << "a line's notes follow it at once";
}

TEST_P(CloneTest, FilesAreCopiedUnderUniqueNamesWithNewUploadRows) {
  db->WriteFile("files/o5_1.pdf", "taken");
  const std::time_t before = std::time(nullptr);
  const LONG newId = Clone(true);
  EXPECT_EQ(7, newId);
  EXPECT_TRUE(trace.Lines().empty()) << trace.Text();
  ExpectTreeCopied(7);

  // Three file fields in the copied tree: the order's and two lines'.
  EXPECT_EQ(10, db->Count("kruploadfile"));
  const LONG upload = Number("krorder", "lfile", 7);
  EXPECT_EQ(8, upload);
  // o5_1.pdf was taken; the upload is the copier's, the rest as in the source.
  for (const auto& [column, value] : std::initializer_list<std::pair<const char*, std::string>>{
           {"strurl", "files/o5_2.pdf"}, {"strphysicalpath", PhysicalPath("files/o5_2.pdf")},
           {"strfilename", "orig_o5.pdf"}, {"luserid", std::to_string(kUserId)}, {"lappid", "1"},
           {"ltemplateid", "9"}, {"strcontenttype", "application/pdf"}})
    EXPECT_EQ(value, Text("kruploadfile", column, upload)) << column;
  EXPECT_EQ("content of files/o5.pdf", FileContent("files/o5_2.pdf"));
  EXPECT_EQ("taken", FileContent("files/o5_1.pdf"));

  // Uploaded now.
  std::tm when{};
  const std::string uploaded = Text("kruploadfile", "dtupload", upload);
  ASSERT_EQ(6, std::sscanf(uploaded.c_str(), "%d-%d-%d %d:%d:%d", &when.tm_year, &when.tm_mon,
                           &when.tm_mday, &when.tm_hour, &when.tm_min, &when.tm_sec))
      << uploaded;
  when.tm_year -= 1900;
  when.tm_mon -= 1;
  when.tm_isdst = -1;
  const std::time_t stamp = std::mktime(&when);
  EXPECT_GE(stamp, before - 2);
  EXPECT_LE(stamp, std::time(nullptr) + 2);

  // The lines' files went to their own directory.
  const LONG pencilCopy = db->QueryLong("SELECT lid FROM krorderline WHERE lparentid=7 AND strname='pencil'");
  const LONG lineUpload = Number("krorderline", "lfile", pencilCopy);
  EXPECT_EQ("files/lines/l11_1.pdf", Text("kruploadfile", "strurl", lineUpload));
  EXPECT_EQ("content of files/lines/l11.pdf", FileContent("files/lines/l11_1.pdf"));
  EXPECT_TRUE(db->FileExists("files/lines/l12_1.pdf"));

  // The source is unchanged.
  EXPECT_EQ(1, Number("krorder", "lfile", 5));
  EXPECT_EQ(4, Number("krorderline", "lfile", 11));
  EXPECT_EQ("files/o5.pdf", Text("kruploadfile", "strurl", 1));
  EXPECT_EQ(7, Number("kruploadfile", "luserid", 1));
  EXPECT_EQ("content of files/o5.pdf", FileContent("files/o5.pdf"));
}

TEST_P(CloneTest, StoredTextsAreQuotedAndAFailedUploadRowTakesItsCopyBack) {
  // An apostrophe in every stored text the upload row copies.
  db->Exec("UPDATE kruploadfile SET strfilename='O''Neil.pdf', strcontenttype='x''y' WHERE lid=1");
  db->Exec("UPDATE kruploadfile SET strfilename='l''11.pdf' WHERE lid=4");
  // Line 12's upload row cannot be copied: its file name must stay unique.
  if (IsMariaDB()) {  // no partial indexes there: a check refuses any second such row
    const std::string original =
        std::to_string(db->QueryLong("SELECT lid FROM kruploadfile WHERE strfilename = 'orig_l12.pdf'"));
    db->Exec("ALTER TABLE kruploadfile ADD CONSTRAINT kruploadfile_name CHECK (strfilename <> 'orig_l12.pdf' "
             "OR lid = " + original + ")");
  } else {
    db->Exec("CREATE UNIQUE INDEX kruploadfile_name ON kruploadfile (strfilename) "
             "WHERE strfilename = 'orig_l12.pdf'");
  }

  EXPECT_EQ(7, Clone(true));
  const LONG upload = Number("krorder", "lfile", 7);
  EXPECT_EQ("O'Neil.pdf", Text("kruploadfile", "strfilename", upload));
  EXPECT_EQ("x'y", Text("kruploadfile", "strcontenttype", upload));
  EXPECT_EQ("content of files/o5.pdf", FileContent("files/o5_1.pdf"));

  const LONG paperCopy = db->QueryLong("SELECT lid FROM krorderline WHERE lparentid=7 AND strname='paper'");
  EXPECT_TRUE(db->QueryIsNull("SELECT lfile FROM krorderline WHERE lid=" + std::to_string(paperCopy)));
  EXPECT_FALSE(db->FileExists("files/lines/l12_1.pdf")) << "the copied file went with its row";
  EXPECT_EQ(1, HeadingCount("CKvDbException")) << trace.Text();

  // Deleting the whole copy leaves every file and upload row of the source.
  pump->MoveTo(7);
  CComBSTR idField("lid"), parentField("lparentid");
  EXPECT_EQ(S_OK, pump->CascadeDelete(idField.Get(), parentField.Get(), VARIANT_TRUE, VARIANT_FALSE));
  EXPECT_EQ(7, db->Count("kruploadfile"));
  for (const char* file : {"files/o5.pdf", "files/lines/l11.pdf", "files/lines/l12.pdf"})
    EXPECT_TRUE(db->FileExists(file)) << file;
}

// A copy that fails part-way takes everything back: FaultSweepTest's
// CloningAnOrderTreeWithItsFiles fails each of its engine calls in turn.
// With no id left for the copy, nothing is inserted at all.
TEST_P(CloneTest, NoIdLeftForTheCopyInsertsNothing) {
  db->Exec("INSERT INTO krorder (lid, lparentid, strno) VALUES (2147483647, 0, 'top')");
  StatementCapture statements;
  EXPECT_EQ(-1, Clone(true));
  EXPECT_TRUE(Only(statements.Statements(), "INSERT").empty());
  EXPECT_TRUE(TraceHas("No id is left in krorder after 2147483647")) << trace.Text();
  EXPECT_EQ(3, db->Count("krorder"));
}

TEST_P(CloneTest, FileStepFailureKeepsTheRowWithoutTheSourceUploads) {
  // Without a file copier each file field's copy fails inside its row copy.
  CoRevokeClassObject(fileCopierCookie);
  fileCopierCookie = 0;
  EXPECT_EQ(7, Clone(true));
  EXPECT_TRUE(db->QueryIsNull("SELECT lfile FROM krorder WHERE lid=7"));
  ExpectTreeCopied(7);
  EXPECT_TRUE(db->QueryIsNull("SELECT lfile FROM krorderline WHERE lparentid=7 AND strname='pencil'"));
  EXPECT_EQ(7, db->Count("kruploadfile"));
  EXPECT_EQ(3, HeadingCount("COM error")) << trace.Text();
  EXPECT_TRUE(TraceHas("HR: 0x80004003\n")) << trace.Text();
}

KV_ON_BOTH_ENGINES(CloneTest);

}  // namespace
