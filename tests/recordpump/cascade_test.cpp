// Cascade delete of a three-level tree with language rows and uploaded files,
// walked through the host's data pack object.
#include "pump_fixtures.h"

namespace {

class CascadeTest : public FilesPumpTest {
 protected:
  void SetUp() override {
    FilesPumpTest::SetUp();
    if (!Ready()) return;
    BuildOrderTree();
  }

  HRESULT Cascade(bool killChildren, bool internal) {
    CComBSTR idField("lid"), parent("lparentid");
    return pump->CascadeDelete(idField.Get(), parent.Get(), killChildren ? VARIANT_TRUE : VARIANT_FALSE,
                               internal ? VARIANT_TRUE : VARIANT_FALSE);
  }

  std::vector<LONG> Ids(const std::string& table) {
    std::vector<LONG> ids;
    const long n = db->Count(table);
    for (long i = 0; i < n; ++i)
      ids.push_back(db->QueryLong("SELECT lid FROM " + table + " ORDER BY lid LIMIT 1 OFFSET " +
                                  std::to_string(i)));
    return ids;
  }

  // The table each DELETE statement acts on, in order.
  static std::vector<std::string> DeletedTables(const std::vector<std::string>& statements) {
    std::vector<std::string> tables;
    for (const std::string& s : Only(statements, "DELETE FROM ")) {
      const size_t start = std::string("DELETE FROM ").size();
      tables.push_back(s.substr(start, s.find(' ', start) - start));
    }
    return tables;
  }

  void ExpectOrderSixUntouched() {
    for (const auto& [table, row] : {std::pair{"krorder", "lid=6"}, {"krorder_l", "lid=61"}, {"krorderline", "lid=13"},
                                     {"krorderline_l", "lid=131"}, {"krlinenote", "lid=24"}})
      EXPECT_EQ(1, db->Count(table, row)) << table;
    EXPECT_EQ(2, db->Count("kruploadfile", "lid IN (2, 6)"));
    EXPECT_TRUE(db->FileExists("files/o6.pdf"));
    EXPECT_TRUE(db->FileExists("files/lines/l13.pdf"));
  }
};

TEST_P(CascadeTest, WholeTreeGoesBottomUpWithLanguageRowsUploadsAndFiles) {
  ASSERT_EQ(S_OK, Bind(kOrderEditForm, 5));
  StatementCapture statements;
  EXPECT_EQ(S_OK, Cascade(true, false));

  EXPECT_EQ(std::vector<LONG>{6}, Ids("krorder"));
  EXPECT_EQ(std::vector<LONG>{61}, Ids("krorder_l"));
  EXPECT_EQ(std::vector<LONG>{13}, Ids("krorderline"));
  EXPECT_EQ(std::vector<LONG>{131}, Ids("krorderline_l"));
  EXPECT_EQ(std::vector<LONG>{24}, Ids("krlinenote"));
  EXPECT_EQ((std::vector<LONG>{2, 6}), Ids("kruploadfile"));
  for (const char* gone : {"files/o5.pdf", "files/o5_de.pdf", "files/o5_en.pdf",
                           "files/lines/l11.pdf", "files/lines/l12.pdf"})
    EXPECT_FALSE(db->FileExists(gone)) << gone;
  ExpectOrderSixUntouched();
  EXPECT_TRUE(trace.Lines().empty()) << trace.Text();

  // Deepest level first; at each level the language rows before their
  // records, and each record's upload rows just before the record.
  const std::vector<std::string> expected = {
      "krlinenote",    "krlinenote",    "krlinenote",  "krorderline_l", "krorderline_l",
      "krorderline_l", "kruploadfile",  "krorderline", "kruploadfile",  "krorderline",
      "kruploadfile",  "krorder_l",     "kruploadfile", "krorder_l",    "kruploadfile",
      "krorder"};
  EXPECT_EQ(expected, DeletedTables(statements.Statements()));

  // Each level selects its rows by joining through the levels above.
  for (const char* select : {"SELECT krlinenote.lid FROM krorder,krorderline,krlinenote WHERE krorder.lid=5 AND "
                             "krorderline.lparentid=krorder.lid AND krlinenote.lparentid=krorderline.lid",
                             "SELECT krorderline_l.lid FROM krorder, krorderline, krorderline_l WHERE krorder.lid=5 "
                             "AND krorderline.lparentid=krorder.lid AND krorderline_l.lparentid=krorderline.lid",
                             "SELECT krorder_l.lid FROM krorder_l WHERE krorder_l.lparentid=5"})
    EXPECT_TRUE(Saw(statements, select)) << select;
}

TEST_P(CascadeTest, InternalHierarchyReachesOneGenerationOfTheSameTable) {
  db->Exec("INSERT INTO krorder (lid, lparentid, strno) VALUES (7, 5, 'child of 5')");
  db->Exec("INSERT INTO krorder (lid, lparentid, strno) VALUES (8, 7, 'grandchild of 5')");
  db->Exec("INSERT INTO krorderline (lid, lparentid, strname) VALUES (14, 7, 'line of 7')");
  db->Exec("INSERT INTO krlinenote (lid, lparentid, strnote) VALUES (25, 14, 'note of 14')");
  db->Exec("INSERT INTO krorderline (lid, lparentid, strname) VALUES (15, 8, 'line of 8')");
  ASSERT_EQ(S_OK, Bind(kOrderEditForm, 5));

  EXPECT_EQ(S_OK, Cascade(true, true));
  EXPECT_EQ((std::vector<LONG>{6, 8}), Ids("krorder"));
  EXPECT_EQ((std::vector<LONG>{13, 15}), Ids("krorderline"));
  EXPECT_EQ(std::vector<LONG>{24}, Ids("krlinenote"));
  ExpectOrderSixUntouched();
  EXPECT_TRUE(trace.Lines().empty()) << trace.Text();
}

TEST_P(CascadeTest, MissingFileIsWarnedAndItsRowsGoAnyway) {
  std::remove((db->BasePath() + "files/lines/l12.pdf").c_str());
  ASSERT_EQ(S_OK, Bind(kOrderEditForm, 5));
  EXPECT_EQ(S_OK, Cascade(true, false));
  EXPECT_EQ(1, HeadingCount("File Warning")) << trace.Text();
  EXPECT_TRUE(TraceHas("l12.pdf. GetLastError returns 2\n")) << trace.Text();
  EXPECT_EQ(0, db->Count("krorderline", "lid=12"));
  EXPECT_EQ((std::vector<LONG>{2, 6}), Ids("kruploadfile"));

  // Emptying a file field reports the same failure from a handler of its
  // own: the two warnings must not name one place.
  std::remove((db->BasePath() + "files/o6.pdf").c_str());
  CComBSTR field("lfile");
  EXPECT_EQ(S_OK, pump->ClearFileField(6, field.Get()));
  ASSERT_EQ(2, HeadingCount("File Warning")) << trace.Text();
  std::vector<std::string> locations;
  for (const auto& line : trace.Lines()) {
    if (!line.heading && line.text.rfind("Location: KvDataPump, ", 0) == 0)
      locations.push_back(line.text.substr(0, line.text.find('\n')));
  }
  ASSERT_EQ(2u, locations.size()) << trace.Text();
  EXPECT_NE(locations[0], locations[1]);
}

TEST_P(CascadeTest, UrlLeadingOutOfTheApplicationDeletesNothingOutside) {
  PointUploadOneOutside();
  ASSERT_EQ(S_OK, Bind(kOrderEditForm, 5));

  EXPECT_EQ(S_OK, Cascade(true, false));
  EXPECT_TRUE(db->FileExists("outside.txt"));
  EXPECT_TRUE(TraceHas("outside.txt. GetLastError returns 5\n")) << trace.Text();
  EXPECT_EQ(0, db->Count("krorder", "lid=5"));
}

KV_ON_BOTH_ENGINES(CascadeTest);

}  // namespace
