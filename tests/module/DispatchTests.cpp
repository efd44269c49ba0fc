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

ComPtr<ITypeInfo> TypeInfoOf(IDispatch* object) {
  ComPtr<ITypeInfo> info;
  EXPECT_EQ(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.ReleaseAndGetAddressOf()), S_OK);
  return info;
}

struct MemberDoc {
  const char* name;
  DISPID id;
  const char* help;
};

void ExpectMembers(IDispatch* object, const std::vector<MemberDoc>& members) {
  ASSERT_NE(object, nullptr);
  LateBound late{ComPtr<IDispatch>(object)};
  ComPtr<ITypeInfo> info = TypeInfoOf(object);
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

TEST(TypeInformationTest, RecordPumpMembersCarryTheirIdsAndHelpStrings) {
  ComPtr<IDispatch> pump = CreateByProgId(u"KvHtmlDbTools.KvDataPump");
  ASSERT_TRUE(pump);
  UINT count = 0;
  ASSERT_EQ(pump->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ComPtr<ITypeInfo> none;
  EXPECT_EQ(pump->GetTypeInfo(1, 0, none.ReleaseAndGetAddressOf()), DISP_E_BADINDEX);

  const char* names[] = {"Init", "MoveTo", "SaveFieldValues", "ValueByFieldName",
                         "CompareByFieldName", "SetFieldValue", "CleanFieldValues", "Delete",
                         "CascadeDelete", "GetValueDirect", "QueryInit", "CloseQuery", "IsEOF",
                         "MoveNext", "Value", "Clone", "ClearFileField", "SetFieldValueEx",
                         "MoveFirst", "MovePrevious", "MoveLast", "ValueByFieldNameEx",
                         "ClearFileFieldEx", "DeleteEx", "GetValueDirectEx", "GetSQLJoinSelect",
                         "GetSQLJoinWhere", "ValueEx"};
  std::vector<std::string> helps;
  std::vector<MemberDoc> members;
  for (DISPID id = 1; id <= 28; ++id) {
    const std::string name = names[id - 1];
    const bool property = name == "IsEOF" || name == "Value" || name == "ValueEx";
    helps.push_back((property ? "property " : "method ") +
                    (name == "GetSQLJoinSelect" ? std::string("GetSQJoinSelect") : name));
  }
  for (DISPID id = 1; id <= 28; ++id) members.push_back({names[id - 1], id, helps[id - 1].c_str()});
  ExpectMembers(pump.Get(), members);

  BSTR name = nullptr, help = nullptr;
  ComPtr<ITypeInfo> info = TypeInfoOf(pump.Get());
  ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), "IKvDataPump");
  EXPECT_EQ(Text(help), "IKvDataPump Interface");

  // Parameter names and kinds as the library publishes them.
  BSTR params[8] = {};
  UINT got = 0;
  ASSERT_EQ(info->GetNames(26, params, 8, &got), S_OK);
  std::vector<std::string> paramNames;
  for (UINT i = 0; i < got; ++i) paramNames.push_back(Text(params[i]));
  EXPECT_EQ(paramNames, (std::vector<std::string>{"GetSQLJoinSelect", "p_lDatapackId", "p_lLCID",
                                                  "p_vDistinct", "p_pvFields", "pSelect"}));
  const FUNCDESC* desc = nullptr;
  ASSERT_EQ(info->GetFuncDesc(25, &desc), S_OK);
  ASSERT_EQ(desc->cParams, 5);
  EXPECT_EQ(desc->invkind, INVOKE_FUNC);
  EXPECT_EQ(desc->lprgelemdescParam[3].vt, VT_BYREF | VT_VARIANT);
  EXPECT_EQ(desc->lprgelemdescParam[4].vt, VT_BYREF | VT_BSTR);
  EXPECT_EQ(desc->lprgelemdescParam[4].wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
  ASSERT_EQ(info->GetFuncDesc(12, &desc), S_OK);
  EXPECT_EQ(desc->memid, 13);
  EXPECT_EQ(desc->invkind, INVOKE_PROPERTYGET);
}

TEST(TypeInformationTest, PagedPumpMembersSkipDispatchIdTwo) {
  ComPtr<IDispatch> pump = CreateByProgId(u"KvHtmlDbTools.KvDRPump");
  ASSERT_TRUE(pump);
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
}

TEST(TypeInformationTest, LibraryAndClassesAreDescribed) {
  ComPtr<IDispatch> pump = CreateByProgId(u"KvHtmlDbTools.KvDRPump");
  ASSERT_TRUE(pump);
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(TypeInfoOf(pump.Get())->GetContainingTypeLib(lib.ReleaseAndGetAddressOf(), nullptr), S_OK);
  BSTR name = nullptr, help = nullptr;
  ASSERT_EQ(lib->GetDocumentation(-1, &name, &help, nullptr, nullptr), S_OK);
  EXPECT_EQ(Text(name), "KVHTMLDBTOOLSLib");
  EXPECT_EQ(Text(help), "KvHtmlDbTools 1.0 Type Library");
  TLIBATTR attr;
  ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
  EXPECT_EQ(attr.wMajorVerNum, 1);
  EXPECT_EQ(attr.wMinorVerNum, 0);
  EXPECT_EQ(attr.lcid, 0x409u);

  struct CoClass {
    CLSID clsid;
    const char* name;
    const char* help;
    IID dual;
  };
  for (const CoClass& c : {CoClass{CLSID_KvDataPump, "KvDataPump", "KvDataPump", IKvDataPump::kIid},
                           CoClass{CLSID_KvDRPump, "KvDRPump", "KvDRPump Class", IKvDRPump::kIid}}) {
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(c.clsid, info.ReleaseAndGetAddressOf()), S_OK) << c.name;
    ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, &name, &help, nullptr, nullptr), S_OK);
    EXPECT_EQ(Text(name), c.name);
    EXPECT_EQ(Text(help), c.help);
    TYPEATTR typeAttr;
    ASSERT_EQ(info->GetTypeAttr(&typeAttr), S_OK);
    EXPECT_EQ(typeAttr.typekind, TKIND_COCLASS);
    EXPECT_EQ(typeAttr.guidDefaultInterface, c.dual);
  }
}

TEST(NameLookupTest, NamesMatchWithoutRegardToCase) {
  ComPtr<IDispatch> pump = CreateByProgId(u"KvHtmlDbTools.KvDataPump");
  ASSERT_TRUE(pump);
  LateBound late(pump);
  EXPECT_EQ(late.Id("movenext"), 14);
  EXPECT_EQ(late.Id("MOVENEXT"), 14);
  EXPECT_EQ(late.Id("getsqljoinwhere"), 27);

  std::u16string unknown = u"MoveSideways";
  LPOLESTR one[] = {unknown.data()};
  DISPID id = 0;
  EXPECT_EQ(pump->GetIDsOfNames(IID_NULL, one, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);

  // Parameter names give their positions.
  std::u16string member = u"GetSQLJoinWhere", lcid = u"P_LLCID", where = u"p_pszWhere", nope = u"p_x";
  LPOLESTR names[] = {member.data(), lcid.data(), where.data(), nope.data()};
  DISPID ids[4] = {};
  EXPECT_EQ(pump->GetIDsOfNames(IID_NULL, names, 4, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 27);
  EXPECT_EQ(ids[1], 2);
  EXPECT_EQ(ids[2], 1);
  EXPECT_EQ(ids[3], DISPID_UNKNOWN);
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

  // The SELECT built for pack 10 with the given LCID argument.
  std::string SelectFor(CComVariant packId, CComVariant lcid, HRESULT* hr = nullptr,
                        UINT* argErr = nullptr) {
    std::vector<CComVariant> args{packId, lcid, VBool(false), VEmpty()};
    CComVariant result;
    HRESULT local = m_pump.Call("GetSQLJoinSelect", args, &result,
                                DISPATCH_METHOD | DISPATCH_PROPERTYGET, argErr);
    if (hr) *hr = local;
    return result.vt == VT_BSTR ? Utf8FromBstr(result.bstrVal) : std::string();
  }

  std::unique_ptr<TestDatabase> m_db;
  ComPtr<IDispatch> m_session;
  LateBound m_pump{nullptr};
};

TEST_F(CoercionTest, LongParametersTakeShortsDoublesAndNumericText) {
  const std::string expected = "(SELECT * FROM krorder_l WHERE krorder_l.llcid=1031) krorder_l";
  EXPECT_NE(SelectFor(VShort(10), VLong(1031)).find(expected), std::string::npos);
  EXPECT_NE(SelectFor(VLong(10), VDouble(1031.0)).find(expected), std::string::npos);
  EXPECT_NE(SelectFor(VText("10"), VText("1031")).find(expected), std::string::npos);
  // The form bound from "100" is pack 10 on krorder.
  EXPECT_NE(SelectFor(VLong(-1), VLong(1033)).find("FROM krorder LEFT OUTER JOIN (SELECT * FROM "
                                                   "krorder_l WHERE krorder_l.llcid=1033)"),
            std::string::npos);

  // A script variable passed by reference is read through.
  CComVariant variable = VLong(1031);
  VARIANT reference;
  reference.vt = VT_BYREF | VT_VARIANT;
  reference.pvarVal = &variable;
  EXPECT_NE(SelectFor(VLong(10), CComVariant(reference)).find(expected), std::string::npos);
}

TEST_F(CoercionTest, TextParametersTakeNumbersAndFlagsTakeIntegers) {
  CComVariant where = m_pump.Get("GetSQLJoinWhere", {VLong(10), VLong(42), VLong(1031)});
  EXPECT_EQ(TextOf(where), "lownerid=1 OR lownerid=-1 AND 42");

  for (int i = 1; i <= 3; ++i)
    m_db->Exec("INSERT INTO krorder (lid, strno) VALUES (" + std::to_string(i) + ", 'x')");
  LateBound paged(CreateByProgId(u"KvHtmlDbTools.KvDRPump"));
  ASSERT_TRUE(paged.Object());
  const auto count = [&](CComVariant distinct) {
    return paged.Get("Init", {VDispatch(m_session.Get()), VText("SELECT lid FROM krorder"), VText(""),
                              VLong(0), distinct});
  };
  EXPECT_EQ(count(VLong(1)).lVal, -1);  // non-zero: distinct, not counted
  EXPECT_EQ(count(VLong(0)).lVal, 3);
}

TEST_F(CoercionTest, BadArgumentsAreRefusedAndNamed) {
  HRESULT hr = S_OK;
  UINT argErr = 99;
  SelectFor(VLong(10), VText("not a number"), &hr, &argErr);
  EXPECT_EQ(hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 2u);  // rgvarg runs last to first: the second of four arguments

  argErr = 99;
  SelectFor(VMissing(), VLong(1031), &hr, &argErr);
  EXPECT_EQ(hr, DISP_E_PARAMNOTFOUND);
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
