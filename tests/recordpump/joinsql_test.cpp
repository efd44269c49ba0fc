#include "pump_fixtures.h"

namespace {

// A VT_ARRAY|VT_VARIANT of field names, as a page script passes it.
CComVariant FieldArray(const std::vector<std::string>& names, UINT dims = 1) {
  SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(names.size()), 0}, {1, 0}};
  CComVariant v;
  v.vt = VT_ARRAY | VT_VARIANT;
  v.parray = SafeArrayCreate(VT_VARIANT, dims, bounds);
  for (LONG i = 0; i < static_cast<LONG>(names.size()); ++i) {
    const CComVariant name(names[i]);
    const LONG index[2] = {i, 0};
    EXPECT_EQ(SafeArrayPutElement(v.parray, index, &name), S_OK);
  }
  return v;
}

const CComVariant kDistinct = CComVariant::Bool(true);
const CComVariant kAllFields = CComVariant::Bool(false);

class JoinSqlTest : public PumpTest {
 protected:
  void UseServer(const std::string& options, LONG userId = 7) {
    db = TestDatabase::Create(GetParam(), options);
    session = db->NewSession(userId);
    BindSession(session.Get());
  }
  std::string Select(LONG pack, VARIANT distinct, VARIANT* fields = nullptr, LONG lcid = 1031) {
    CComBSTR text;
    EXPECT_EQ(pump->GetSQLJoinSelect(pack, lcid, distinct, fields, &text), S_OK);
    return text.ToUtf8();
  }
  std::string Where(LONG pack, const char* condition) {
    CComBSTR text;
    EXPECT_EQ(pump->GetSQLJoinWhere(pack, CComBSTR(condition).Get(), 1031, &text), S_OK);
    return text.ToUtf8();
  }
};

// The standard dialect joins the language rows in the FROM part, the others
// in the WHERE condition.
TEST_P(JoinSqlTest, EachDialectJoinsTheLanguageRowsItsOwnWay) {
  const struct {
    const char* options;
    const char* from;
    const char* condition;
    const char* where;
  } dialects[] = {
      {"servertype=1",
       "krorder LEFT OUTER JOIN (SELECT * FROM krorder_l WHERE krorder_l.llcid=1031) krorder_l "
       "ON krorder_l.lparentid=krorder.lid",
       "strno='A1'", "lownerid=7 OR lownerid=-1 AND strno='A1'"},
      {"servertype=2", "krorder, OUTER (SELECT * FROM krorder_l WHERE krorder_l.llcid=1031) krorder_l",
       "strno='A1'", "krorder_l.lparentid=krorder.lid AND lownerid=7 OR lownerid=-1 AND strno='A1'"},
      {"servertype=3", "krorder, (SELECT * FROM krorder_l WHERE krorder_l.llcid=1031) krorder_l", "",
       "krorder.lid=krorder_l.lparentid (+) AND lownerid=7 OR lownerid=-1"},
  };
  for (const auto& d : dialects) {
    UseServer(d.options);
    CComVariant fields = FieldArray({"strno", "strtitle"});
    EXPECT_EQ(Select(10, kDistinct, &fields),
              "SELECT DISTINCT krorder.strno as strno, krorder_l.strtitle as strtitle FROM " + std::string(d.from));
    EXPECT_EQ(fields.vt, VT_EMPTY);
    EXPECT_EQ(Where(10, d.condition), d.where);
  }
  // A pack without language pack and record rights: no join, no filter.
  EXPECT_EQ(Where(14, ""), "");
  EXPECT_EQ(Select(14, kAllFields),
            "SELECT krlinenote.lid as lid, krlinenote.lparentid as lparentid, krlinenote.dtedit as "
            "dtedit, krlinenote.luserid as luserid, krlinenote.strnote as strnote FROM krlinenote");
}

TEST_P(JoinSqlTest, DistinctFlagAndCallerFields) {
  BindSession(session.Get());
  CComVariant city = FieldArray({"strnote"});
  EXPECT_EQ(Select(14, kDistinct, &city), "SELECT DISTINCT krlinenote.strnote as strnote FROM krlinenote");
  EXPECT_EQ(Select(14, kDistinct), "SELECT DISTINCT  FROM krlinenote");
  CComVariant one;
  one.vt = VT_BOOL;
  one.boolVal = 1;
  EXPECT_EQ(Select(14, one), "SELECT  FROM krlinenote");
  const std::string all = Select(14, CComVariant(static_cast<LONG>(1)));
  EXPECT_EQ(all, Select(14, kAllFields));
  CComVariant twice = FieldArray({"strnote"});
  EXPECT_EQ(Select(14, kAllFields, &twice), all.substr(0, all.find(" FROM")) +
                                                ", krlinenote.strnote as strnote FROM krlinenote");
  CComVariant square = FieldArray({"strnote"}, 2);
  EXPECT_EQ(Select(14, kDistinct, &square), "SELECT DISTINCT  FROM krlinenote");
  EXPECT_EQ(square.vt, VT_EMPTY);
}

// The standard dialect's text runs as it is and yields each record once,
// with the language columns empty where the language has no row.
TEST_P(JoinSqlTest, StandardJoinRunsOnTheDatabase) {
  UseServer("", 1);
  db->Exec("INSERT INTO krorder (lid, lownerid, strno) VALUES (1, 1, 'A1'), (2, -1, 'A2'), (3, 5, 'A3')");
  db->Exec("INSERT INTO krorder_l (lid, lparentid, llcid, strtitle) VALUES "
           "(1, 1, 1031, 'Eins'), (2, 1, 1033, 'One'), (3, 3, 1031, 'Drei')");
  CComVariant fields = FieldArray({"lid", "strno", "strtitle"});
  const std::string sql = Select(10, kDistinct, &fields) + " WHERE " + Where(10, "") + " ORDER BY lid";
  ASSERT_EQ(pump->QueryInit(session.Get(), CComBSTR(sql).Get()), S_OK);
  std::vector<std::string> rows;
  VARIANT_BOOL eof = VARIANT_FALSE;
  for (LONG id = 0; pump->get_IsEOF(&eof) == S_OK && eof == VARIANT_FALSE; pump->MoveNext(&id)) {
    CComVariant no, title;
    pump->get_Value(CComBSTR("strno").Get(), &no);
    pump->get_Value(CComBSTR("strtitle").Get(), &title);
    rows.push_back(TextOf(no) + ":" + TextOf(title));
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"A1:Eins", "A2:"}));
}

TEST_P(JoinSqlTest, NoResultWithoutAValidSession) {
  BindSession(db->NewSession(1, false).Get());
  BSTR select = nullptr;
  BSTR where = nullptr;
  EXPECT_EQ(pump->GetSQLJoinSelect(10, 1031, kAllFields, nullptr, &select), S_OK);
  EXPECT_EQ(pump->GetSQLJoinWhere(10, nullptr, 1031, &where), S_OK);
  EXPECT_EQ(select, nullptr);
  EXPECT_EQ(where, nullptr);
}

// A negative data pack id stands for the form the pump is bound to; its
// owner filter follows the bound data pack's record rights.
TEST_P(JoinSqlTest, NegativePackIdUsesTheBoundForm) {
  UseServer("servertype=1");
  ASSERT_EQ(pump->Init(session.Get(), 100), S_OK);
  CComVariant fields = FieldArray({"strno", "strtitle"});
  CComVariant sameFields = FieldArray({"strno", "strtitle"});
  EXPECT_EQ(Select(-1, kDistinct, &fields), Select(10, kDistinct, &sameFields));
  EXPECT_EQ(Where(-1, "strno='A1'"), "lownerid=7 OR lownerid=-1 AND strno='A1'");
  ASSERT_EQ(pump->Init(session.Get(), 103), S_OK);
  EXPECT_EQ(Where(-1, ""), "");
  EXPECT_EQ(Select(-1, kDistinct), "SELECT DISTINCT  FROM krlinenote");
}

KV_ON_BOTH_ENGINES(JoinSqlTest);

}  // namespace
