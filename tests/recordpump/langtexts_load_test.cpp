// Which option texts land in the map for the tables a query names.
#include "pump_fixtures.h"
#include "src/common/LangTexts.h"

namespace {

class LoadQueryLangTextsTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped()) return;
    db = TestDatabase::Create(GetParam());
    // Give the order lines a control with a text too, so that finding the
    // second table of a query shows in the map.
    db->Exec("INSERT INTO krappcontrol (lid, ldatafieldid) SELECT 600, lid FROM krappdatafield "
             "WHERE ldatapackid=12 AND strname='strname'");
    db->Exec("INSERT INTO krlang (ltableid, ltype, strident, lcid, strtext) "
             "VALUES (600, 7, 'a', 1031, 'Alpha')");
    KvDbOpenSessionConnection(db->ConnectionString(), sessionConnection.ReleaseAndGetAddressOf());
    connection = std::make_unique<CKvDbConnection>(sessionConnection.Get(), true);
  }

  CLangTextMap Load(const std::string& sql) {
    CLangTextMap texts{{"stale_key_1031", "from an earlier load"}};
    LoadQueryLangTexts(texts, sql, *connection, rowset);
    EXPECT_FALSE(rowset.IsOpen());
    EXPECT_EQ(texts.count("stale_key_1031"), 0u);
    return texts;
  }

  std::unique_ptr<TestDatabase> db;
  ComPtr<IDispatch> sessionConnection;
  std::unique_ptr<CKvDbConnection> connection;
  CKvDbRowset rowset;
};

TEST_P(LoadQueryLangTextsTest, TablesOfTheFromClauseContributeTheirControlTexts) {
  const struct {
    const char* sql;
    bool orders;
    bool lines;
  } cases[] = {
      {"SELECT o.lid, l.strname FROM krorder o, krorderline l WHERE o.lid=l.lparentid ORDER BY o.lid",
       true, true},
      {"SELECT * FROM krorder LEFT OUTER JOIN krorderline ON krorder.lid=krorderline.lparentid",
       true, true},
      {"SELECT * FROM krorder INNER JOIN krorderline ON krorder.lid=krorderline.lparentid", true,
       true},
      {"select * from krorderline join krorder on krorder.lid=krorderline.lparentid", true, true},
      {"SELECT * FROM krappcontrol, krorder", false, false},
      {"SELECT 1", false, false},
      {"FROM krorder", false, false},
      {"SELECT dtfromdate FROM krorder", false, false},
      {"SELECT dtorder FROM krorder", true, false},
      {"SELECT o.lid FROM krorder\n o", false, false},
      {"SELECT o.lid FROM\r\nkrorder o\nWHERE o.lid=1", true, false},
  };
  for (const auto& c : cases) {
    const CLangTextMap texts = Load(c.sql);
    if (c.orders) {
      EXPECT_EQ(texts.at("strcolor_red_1031"), "rot") << c.sql;
      EXPECT_EQ(texts.at("strstate_7_1033"), "closed") << c.sql;
      EXPECT_EQ(texts.count("lid_x_1031"), 0u) << "system field texts never load";
    }
    EXPECT_EQ(texts.size(), (c.orders ? 8u : 0u) + (c.lines ? 1u : 0u)) << c.sql;
    if (c.lines) {
      EXPECT_EQ(texts.at("strname_a_1031"), "Alpha") << c.sql;
    }
  }
}

KV_ON_BOTH_ENGINES(LoadQueryLangTextsTest);

}  // namespace
