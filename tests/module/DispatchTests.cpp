// Late binding as the type library describes it: names, dispatch ids, help
// strings, argument coercion and the failures a script can provoke.
#include <string>
#include <vector>

#include "ModuleSupport.h"
#include "src/pagedpump/IKvDRPump.h"
#include "src/recordpump/IKvDataPump.h"
#include "tests/fixture/TestDatabase.h"

namespace {

std::string Text(BSTR b) {
  std::string s = Utf8FromBstr(b);
  SysFreeString(b);
  return s;
}

struct MemberDoc {
  const char* name;
  DISPID id;
  const char* help;
};

void ExpectMembers(IDispatch* object, const std::vector<MemberDoc>& members) {
  ASSERT_NE(object, nullptr);
  LateBound late{ComPtr<IDispatch>(object)};
  ComPtr<ITypeInfo> info;
  ASSERT_EQ(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.ReleaseAndGetAddressOf()), S_OK);
  TYPEATTR attr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr.cFuncs, members.size());
  for (const MemberDoc& m : members) {
    EXPECT_EQ(late.Id(m.name), m.id) << m.name;
    BSTR name = nullptr, help = nullptr;
    ASSERT_EQ(info->GetDocumentation(m.id, &name, &help, nullptr, nullptr), S_OK) << m.name;
    EXPECT_EQ(Text(name), m.name);
    EXPECT_EQ(Text(help), m.help);
  }
}

TEST(TypeInformationTest, MembersAreDescribedAndFoundByNameWithoutRegardToCase) {
  ComPtr<IDispatch> pump = CreateByProgId(u"KvHtmlDbTools.KvDRPump");
  ASSERT_TRUE(pump);
  // Each class describes itself through one type information.
  const ComPtr<IDispatch> recordPump = CreateByProgId(u"KvHtmlDbTools.KvDataPump");
  for (IDispatch* object : {pump.Get(), recordPump.Get()}) {
    UINT count = 0;
    ASSERT_EQ(object->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ComPtr<ITypeInfo> none;
    EXPECT_EQ(object->GetTypeInfo(1, 0, none.ReleaseAndGetAddressOf()), DISP_E_BADINDEX);
  }
  ExpectMembers(pump.Get(), {{"Init", 1, "method Init"},
                             {"MoveNext", 3, "method MoveNext"},
                             {"IsEOF", 4, "property IsEOF"},
                             {"Close", 5, "method Close"},
                             {"Value", 6, "property Value"},
                             {"MoveFirst", 7, "method MoveFirst"},
                             {"MoveLast", 8, "method MoveLast"},
                             {"MovePrevious", 9, "method MovePrevious"},
                             {"IsBOF", 10, "property IsBOF"},
                             {"ValueEx", 11, "property ValueEx"}});
  std::vector<CComVariant> none;
  EXPECT_EQ(LateBound(pump).InvokeId(2, DISPATCH_METHOD, none, nullptr), DISP_E_MEMBERNOTFOUND);

  // Names match without regard to case; parameter names give their
  // positions, unknown names are marked.
  EXPECT_EQ(LateBound(recordPump).Id("MOVENEXT"), 14);
  std::u16string member = u"GetSQLJoinWhere", lcid = u"P_LLCID", where = u"p_pszWhere", nope = u"p_x";
  LPOLESTR names[] = {member.data(), lcid.data(), where.data(), nope.data()};
  DISPID ids[4] = {};
  EXPECT_EQ(recordPump->GetIDsOfNames(IID_NULL, names, 4, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(std::vector<DISPID>(ids, ids + 4), (std::vector<DISPID>{27, 2, 1, DISPID_UNKNOWN}));
  EXPECT_EQ(recordPump->GetIDsOfNames(IID_NULL, &names[3], 1, 0, ids), DISP_E_UNKNOWNNAME);  // no such member
}

class CoercionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_db = TestDatabase::Create();
    m_session = m_db->NewSession();
    m_pump = LateBound(CreateByProgId(u"KvHtmlDbTools.KvDataPump"));
    ASSERT_TRUE(m_pump.Object());
    // A form id given as numeric text is taken as the number.
    ASSERT_EQ(m_pump.Call("Init", {VDispatch(m_session.Get()), VText("100")}), S_OK);
  }

  // GetSQLJoinSelect on the given pack and LCID arguments, as a script calls it.
  HRESULT SelectFor(CComVariant packId, CComVariant lcid, UINT* argErr) {
    std::vector<CComVariant> args{packId, lcid, VBool(false), VEmpty()};
    CComVariant result;
    return m_pump.Call("GetSQLJoinSelect", args, &result, DISPATCH_METHOD | DISPATCH_PROPERTYGET, argErr);
  }

  std::unique_ptr<TestDatabase> m_db;
  ComPtr<IDispatch> m_session;
  LateBound m_pump{nullptr};
};

// Members a script calls without arguments of its own: each reaches its own
// method, as the row it leaves the pump on tells.
TEST_F(CoercionTest, EveryMoveReachesItsOwnMethod) {
  for (int i = 1; i <= 3; ++i)
    m_db->Exec("INSERT INTO krorder (lid, strno) VALUES (" + std::to_string(i) + ", 'x')");
  ASSERT_EQ(m_pump.Call("QueryInit", {VDispatch(m_session.Get()), VText("SELECT lid FROM krorder ORDER BY lid")}),
            S_OK);
  LateBound paged(CreateByProgId(u"KvHtmlDbTools.KvDRPump"));
  ASSERT_TRUE(paged.Object());
  paged.Get("Init", {VDispatch(m_session.Get()), VText("SELECT lid FROM krorder"), VText("ORDER BY lid"), VLong(0),
                     VBool(false)});
  for (const auto& [move, row] : {std::pair{"MoveLast", 3}, {"MovePrevious", 2}, {"MoveFirst", 1}}) {
    EXPECT_EQ(m_pump.Get(move).lVal, row) << move;  // the record pump answers with the id
    paged.Get(move);
    EXPECT_EQ(paged.Get("Value", {VText("lid")}).lVal, row) << move;
  }
  EXPECT_EQ(paged.Get("IsBOF").lVal, 0);

  // The record pump's language-aware deletion and file clearing.
  ASSERT_EQ(m_pump.Call("Init", {VDispatch(m_session.Get()), VLong(100)}), S_OK);
  ASSERT_EQ(m_pump.Call("MoveTo", {VLong(2)}), S_OK);
  ASSERT_EQ(m_pump.Call("DeleteEx", {VLong(0)}), S_OK);
  EXPECT_EQ(m_db->Count("krorder"), 2);
  StatementCapture statements;
  ASSERT_EQ(m_pump.Call("ClearFileFieldEx", {VLong(1), VText("lfile"), VLong(0)}), S_OK);
  ASSERT_FALSE(statements.Statements().empty());
  EXPECT_EQ(statements.Statements().front(), "SELECT lfile FROM krorder WHERE lid=1");
}

TEST_F(CoercionTest, BadArgumentsAreRefusedAndNamed) {
  UINT argErr = 99;
  EXPECT_EQ(SelectFor(VLong(10), VText("not a number"), &argErr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 2u);  // rgvarg runs last to first: the second of four arguments
  argErr = 99;
  EXPECT_EQ(SelectFor(VMissing(), VLong(1031), &argErr), DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(argErr, 3u);

  // A VARIANT parameter takes a left-out argument as it is: not distinct.
  std::vector<CComVariant> args{VLong(10), VLong(1031), VMissing(), VEmpty()};
  CComVariant result;
  ASSERT_EQ(m_pump.Call("GetSQLJoinSelect", args, &result), S_OK);
  EXPECT_EQ(TextOf(result).rfind("SELECT krorder.lid as lid", 0), 0u) << TextOf(result);

  std::vector<CComVariant> tooFew{VLong(10), VLong(1031), VEmpty()};
  EXPECT_EQ(m_pump.Call("GetSQLJoinSelect", tooFew, &result), DISP_E_BADPARAMCOUNT);
  std::vector<CComVariant> tooMany{VLong(10), VLong(1031), VEmpty(), VEmpty(), VEmpty()};
  EXPECT_EQ(m_pump.Call("GetSQLJoinSelect", tooMany, &result), DISP_E_BADPARAMCOUNT);
  std::vector<CComVariant> none;
  EXPECT_EQ(m_pump.InvokeId(99, DISPATCH_METHOD, none, &result), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(m_pump.InvokeId(7, DISPATCH_PROPERTYGET, none, &result), DISP_E_MEMBERNOTFOUND);
  std::vector<CComVariant> field{VText("strno")};
  EXPECT_EQ(m_pump.InvokeId(15, DISPATCH_PROPERTYPUT, field, &result), DISP_E_MEMBERNOTFOUND);
}

TEST_F(CoercionTest, ResultsAndFailuresReachTheCaller) {
  // A property read alone, as a script reads it; the old result is released.
  CComVariant result = VText("previous content");
  std::vector<CComVariant> none;
  ASSERT_EQ(m_pump.Call("QueryInit", {VDispatch(m_session.Get()), VText("SELECT lid FROM krorder")}),
            S_OK);
  ASSERT_EQ(m_pump.InvokeId(13, DISPATCH_PROPERTYGET, none, &result), S_OK);
  EXPECT_EQ(result.vt, VT_BOOL);
  EXPECT_EQ(result.boolVal, VARIANT_TRUE);  // an empty table
  // A caller that wants no result gets none, and nothing leaks.
  ASSERT_EQ(m_pump.InvokeId(13, DISPATCH_METHOD | DISPATCH_PROPERTYGET, none, nullptr), S_OK);

  // The caller's VARIANT* argument is the one the method works on: the
  // field array is taken over, through a reference as well.
  CComVariant variable = VTextArray({"strno"});
  VARIANT reference;
  reference.vt = VT_BYREF | VT_VARIANT;
  reference.pvarVal = &variable;
  std::vector<CComVariant> args{VLong(14), VLong(0), VBool(true), CComVariant(reference)};
  ASSERT_EQ(m_pump.Call("GetSQLJoinSelect", args, &result), S_OK);
  EXPECT_EQ(TextOf(result), "SELECT DISTINCT krlinenote.strno as strno FROM krlinenote");
  EXPECT_EQ(variable.vt, VT_EMPTY);

  // Named arguments fill the parameters they name.
  CComVariant lcid = VLong(1031), where = VText("x=1"), pack = VLong(10);
  VARIANTARG rgvarg[] = {lcid, where, pack};
  DISPID named[] = {2};
  DISPPARAMS params{rgvarg, named, 3, 1};
  result.Clear();
  ASSERT_EQ(m_pump.Object()->Invoke(27, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(TextOf(result), "lownerid=1 OR lownerid=-1 AND x=1");

  // A method that fails: the script sees an exception carrying its code.
  LateBound paged(CreateByProgId(u"KvHtmlDbTools.KvDRPump"));
  ASSERT_TRUE(paged.Object());
  std::vector<CComVariant> noSession{VEmpty(), VText("SELECT lid FROM krorder"), VText(""), VLong(0),
                                     VBool(false)};
  EXCEPINFO excep{};
  EXPECT_EQ(paged.Call("Init", noSession, &result, DISPATCH_METHOD, nullptr, &excep),
            DISP_E_EXCEPTION);
  EXPECT_EQ(excep.scode, E_FAIL);
}

}  // namespace
