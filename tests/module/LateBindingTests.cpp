// Every method of both classes called by name through IDispatch on objects
// created by ProgID from the registered module, as a page script calls them.
// Reads are checked against a twin object called through the vtable in
// lockstep; writes against the database.
#include <iostream>
#include <string>

#include "ModuleSupport.h"
#include "platform/host/HostComponents.h"
#include "src/pagedpump/IKvDRPump.h"
#include "src/recordpump/IKvDataPump.h"
#include "tests/fixture/TestDatabase.h"

namespace {

// "type:value", so a mismatch shows both sides readably.
std::string Describe(HRESULT hr, const VARIANT& v) {
  std::string s = "hr=" + std::to_string(hr) + " vt=" + std::to_string(v.vt) + ":";
  switch (v.vt) {
    case VT_I4: return s + std::to_string(v.lVal);
    case VT_I2: return s + std::to_string(v.iVal);
    case VT_BOOL: return s + std::to_string(v.boolVal);
    case VT_R8: return s + std::to_string(v.dblVal);
    case VT_BSTR: return s + Utf8FromBstr(v.bstrVal);
    default: return s;
  }
}

VARIANT Long(LONG l) {
  VARIANT v;
  v.vt = VT_I4;
  v.lVal = l;
  return v;
}

VARIANT Bool(VARIANT_BOOL b) {
  VARIANT v;
  v.vt = VT_BOOL;
  v.boolVal = b;
  return v;
}

VARIANT Bstr(BSTR b) {  // borrows b for the description only
  VARIANT v;
  v.vt = VT_BSTR;
  v.bstrVal = b;
  return v;
}

// The late-bound call's method result and value, described.
std::string LateResult(const LateBound& late, const char* name, std::vector<CComVariant> args) {
  CComVariant result;
  EXCEPINFO excep{};
  const HRESULT hr =
      late.Call(name, args, &result, DISPATCH_METHOD | DISPATCH_PROPERTYGET, nullptr, &excep);
  return Describe(MethodResult(hr, excep), result);
}

class LateBindingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_hostComponents.Ok());
    m_db = TestDatabase::Create();
    m_session = m_db->NewSession();
  }
  void TearDown() override {
    if (HasFailure()) std::cout << "Trace:\n" << m_trace.Text() << std::endl;
  }

  void InsertUpload(LONG lid, const std::string& url) {
    m_db->Exec("INSERT INTO kruploadfile (lid, strfilename, strphysicalpath, luserid, strurl, lappid, "
               "ltemplateid, strcontenttype) VALUES (" +
               std::to_string(lid) + ", 'a.txt', 'x', 1, '" + url + "', 1, 0, 'text/plain')");
    m_db->WriteFile(url, "content");
  }

  // The host's own components, which the record pump creates by class id.
  KvHostComponentsRegistration m_hostComponents;
  TraceCapture m_trace;
  std::unique_ptr<TestDatabase> m_db;
  ComPtr<IDispatch> m_session;
};

TEST_F(LateBindingTest, RecordPumpAnswersByNameAsItDoesThroughItsVtable) {
  LateBound late(CreateByProgId(u"KvHtmlDbTools.KvDataPump"));
  ASSERT_TRUE(late.Object());
  ComPtr<IKvDataPump> direct;
  ASSERT_EQ(CreateByProgId(u"KvHtmlDbTools.KvDataPump").As(&direct), S_OK);

  ASSERT_EQ(late.Call("Init", {VDispatch(m_session.Get()), VLong(100)}), S_OK);
  ASSERT_EQ(direct->Init(m_session.Get(), 100), S_OK);

  // Saving: insert, update of the same store, a fresh store after CleanFieldValues.
  ASSERT_EQ(late.Call("SetFieldValue", {VText("strno"), VText("A1")}), S_OK);
  ASSERT_EQ(late.Call("SetFieldValue", {VText("strcolor"), VText("red|blue")}), S_OK);
  ASSERT_EQ(late.Call("SetFieldValueEx", {VText("strtitle"), VLong(1031), VText("Titel")}), S_OK);
  CComVariant first = late.Get("SaveFieldValues");
  ASSERT_EQ(first.vt, VT_I4);
  EXPECT_EQ(first.lVal, 1);
  EXPECT_EQ(m_db->QueryString("SELECT strtitle FROM krorder_l WHERE lparentid=1 AND llcid=1031"),
            "Titel");
  ASSERT_EQ(late.Call("SetFieldValue", {VText("strno"), VText("A2")}), S_OK);
  EXPECT_EQ(late.Get("SaveFieldValues").lVal, 1);
  EXPECT_EQ(m_db->QueryString("SELECT strno FROM krorder WHERE lid=1"), "A2");
  ASSERT_EQ(late.Call("CleanFieldValues", {}), S_OK);
  ASSERT_EQ(late.Call("SetFieldValue", {VText("strno"), VText("B1")}), S_OK);
  EXPECT_EQ(late.Get("SaveFieldValues").lVal, 2);
  EXPECT_EQ(m_db->Count("krorder"), 2);

  // Reading the record.
  ASSERT_EQ(late.Call("MoveTo", {VLong(1)}), S_OK);
  ASSERT_EQ(direct->MoveTo(1), S_OK);
  {
    CComVariant d;
    HRESULT hr = direct->ValueByFieldName(CComBSTR("strno").Get(), VText("none"), &d);
    EXPECT_EQ(LateResult(late, "ValueByFieldName", {VText("strno"), VText("none")}), Describe(hr, d));
    EXPECT_EQ(TextOf(d), "A2");
  }
  {
    CComVariant d;
    HRESULT hr = direct->ValueByFieldNameEx(CComBSTR("strcolor").Get(), VText(""), 1031, &d);
    EXPECT_EQ(LateResult(late, "ValueByFieldNameEx", {VText("strcolor"), VText(""), VLong(1031)}),
              Describe(hr, d));
    EXPECT_EQ(TextOf(d), "rot|blau");
  }
  {
    CComVariant d;
    HRESULT hr = direct->CompareByFieldName(CComBSTR("strno").Get(), VText("A2"), VText("yes"),
                                            VText("no"), &d);
    EXPECT_EQ(LateResult(late, "CompareByFieldName",
                         {VText("strno"), VText("A2"), VText("yes"), VText("no")}),
              Describe(hr, d));
    EXPECT_EQ(TextOf(d), "yes");
  }
  {
    CComVariant d;
    HRESULT hr = direct->GetValueDirect(CComBSTR("krorder").Get(), 2, CComBSTR("strno").Get(), &d);
    EXPECT_EQ(LateResult(late, "GetValueDirect", {VText("krorder"), VLong(2), VText("strno")}),
              Describe(hr, d));
    EXPECT_EQ(TextOf(d), "B1");
  }
  {
    CComVariant d;
    HRESULT hr = direct->GetValueDirectEx(CComBSTR("krorder").Get(), 1, CComBSTR("strtitle").Get(),
                                          1031, &d);
    EXPECT_EQ(LateResult(late, "GetValueDirectEx",
                         {VText("krorder"), VLong(1), VText("strtitle"), VLong(1031)}),
              Describe(hr, d));
    EXPECT_EQ(TextOf(d), "Titel");
  }

  // Join SQL: the caller's field array is taken over through the VARIANT*.
  {
    CComBSTR d;
    CComVariant fields = VTextArray({"strtitle"});
    HRESULT hr = direct->GetSQLJoinSelect(10, 1031, VBool(false), &fields, &d);
    std::vector<CComVariant> args{VLong(10), VLong(1031), VBool(false), VTextArray({"strtitle"})};
    CComVariant l;
    EXCEPINFO excep{};
    HRESULT lateHr = late.Call("GetSQLJoinSelect", args, &l, DISPATCH_METHOD, nullptr, &excep);
    EXPECT_EQ(Describe(MethodResult(lateHr, excep), l), Describe(hr, Bstr(d.Get())));
    EXPECT_EQ(args[3].vt, VT_EMPTY);
    EXPECT_NE(d.ToUtf8().find("krorder_l.strtitle as strtitle"), std::string::npos) << d.ToUtf8();
  }
  {
    CComBSTR d;
    HRESULT hr = direct->GetSQLJoinWhere(10, CComBSTR("strno='A1'").Get(), 1031, &d);
    EXPECT_EQ(LateResult(late, "GetSQLJoinWhere", {VLong(10), VText("strno='A1'"), VLong(1031)}),
              Describe(hr, Bstr(d.Get())));
    EXPECT_EQ(d.ToUtf8(), "lownerid=1 OR lownerid=-1 AND strno='A1'");
  }

  // The query cursor, in lockstep.
  const char* query = "SELECT lid, strno, strcolor FROM krorder ORDER BY lid";
  ASSERT_EQ(late.Call("QueryInit", {VDispatch(m_session.Get()), VText(query)}), S_OK);
  ASSERT_EQ(direct->QueryInit(m_session.Get(), CComBSTR(query).Get()), S_OK);
  {
    VARIANT_BOOL eof = 7;
    HRESULT hr = direct->get_IsEOF(&eof);
    EXPECT_EQ(LateResult(late, "IsEOF", {}), Describe(hr, Bool(eof)));
    EXPECT_EQ(eof, VARIANT_FALSE);
  }
  const auto sameValue = [&](const char* field) {
    CComVariant d;
    HRESULT hr = direct->get_Value(CComBSTR(field).Get(), &d);
    EXPECT_EQ(LateResult(late, "Value", {VText(field)}), Describe(hr, d));
  };
  const auto sameMove = [&](const char* name, HRESULT (IKvDataPump::*move)(LONG*)) {
    LONG id = -99;
    HRESULT hr = (direct.Get()->*move)(&id);
    EXPECT_EQ(LateResult(late, name, {}), Describe(hr, Long(id))) << name;
  };
  sameValue("strno");
  sameMove("MoveNext", &IKvDataPump::MoveNext);
  sameValue("strno");
  {
    CComVariant d;
    HRESULT hr = direct->get_ValueEx(CComBSTR("strcolor").Get(), 1031, &d);
    EXPECT_EQ(LateResult(late, "ValueEx", {VText("strcolor"), VLong(1031)}), Describe(hr, d));
  }
  sameMove("MoveFirst", &IKvDataPump::MoveFirst);
  sameValue("lid");
  sameMove("MoveLast", &IKvDataPump::MoveLast);
  sameValue("lid");
  sameMove("MovePrevious", &IKvDataPump::MovePrevious);
  sameValue("lid");
  EXPECT_EQ(late.Call("CloseQuery", {}), S_OK);
  EXPECT_EQ(direct->CloseQuery(), S_OK);

  // Files: clearing a file field removes the stored file, its upload row and
  // the reference. The query cursor and the direct lookups rebound the
  // tables, so the page binds its form again.
  ASSERT_EQ(late.Call("Init", {VDispatch(m_session.Get()), VLong(100)}), S_OK);
  InsertUpload(1, "files/main.txt");
  InsertUpload(2, "files/lang.txt");
  m_db->Exec("UPDATE krorder SET lfile=1 WHERE lid=1");
  m_db->Exec("UPDATE krorder_l SET lfile_l=2 WHERE lparentid=1 AND llcid=1031");
  const long langRow = m_db->QueryLong("SELECT lid FROM krorder_l WHERE lparentid=1 AND llcid=1031");
  EXPECT_EQ(late.Call("ClearFileField", {VLong(1), VText("lfile")}), S_OK);
  EXPECT_TRUE(m_db->QueryIsNull("SELECT lfile FROM krorder WHERE lid=1"));
  EXPECT_FALSE(m_db->FileExists("files/main.txt"));
  EXPECT_EQ(late.Call("ClearFileFieldEx", {VLong(langRow), VText("lfile_l"), VLong(1031)}), S_OK);
  EXPECT_TRUE(m_db->QueryIsNull("SELECT lfile_l FROM krorder_l WHERE lid=" + std::to_string(langRow)));
  EXPECT_FALSE(m_db->FileExists("files/lang.txt"));
  EXPECT_EQ(m_db->Count("kruploadfile"), 0);

  // Clone, then the three ways of deleting.
  ASSERT_EQ(late.Call("MoveTo", {VLong(1)}), S_OK);
  CComVariant clone = late.Get("Clone", {VText("lid"), VText("lparentid"), VBool(false)});
  ASSERT_EQ(clone.vt, VT_I4);
  EXPECT_EQ(clone.lVal, 3);
  EXPECT_EQ(m_db->QueryString("SELECT strno FROM krorder WHERE lid=3"), "A2");

  EXPECT_EQ(late.Call("DeleteEx", {VLong(1031)}), S_OK);
  EXPECT_EQ(m_db->Count("krorder_l", "lparentid=1"), 0);
  EXPECT_EQ(m_db->Count("krorder", "lid=1"), 1);
  EXPECT_EQ(late.Call("Delete", {}), S_OK);
  EXPECT_EQ(m_db->Count("krorder", "lid=1"), 0);

  m_db->Exec("INSERT INTO krorderline (lid, lparentid, strname) VALUES (1, 2, 'line')");
  ASSERT_EQ(late.Call("MoveTo", {VLong(2)}), S_OK);
  EXPECT_EQ(late.Call("CascadeDelete", {VText("lid"), VText("lparentid"), VBool(true), VBool(false)}),
            S_OK);
  EXPECT_EQ(m_db->Count("krorder", "lid=2"), 0);
  EXPECT_EQ(m_db->Count("krorderline"), 0);
}

TEST_F(LateBindingTest, PagedPumpAnswersByNameAsItDoesThroughItsVtable) {
  for (int i = 1; i <= 3; ++i)
    m_db->Exec("INSERT INTO krorder (lid, strno, strcolor) VALUES (" + std::to_string(i) + ", 'N" +
               std::to_string(i) + "', 'red')");
  LateBound late(CreateByProgId(u"KvHtmlDbTools.KvDRPump"));
  ASSERT_TRUE(late.Object());
  ComPtr<IKvDRPump> direct;
  ASSERT_EQ(CreateByProgId(u"KvHtmlDbTools.KvDRPump").As(&direct), S_OK);

  const char* query = "SELECT lid, strno, strcolor FROM krorder";
  {
    LONG count = -99;
    HRESULT hr = direct->Init(m_session.Get(), CComBSTR(query).Get(), CComBSTR("ORDER BY lid").Get(),
                              1, VARIANT_FALSE, &count);
    EXPECT_EQ(LateResult(late, "Init", {VDispatch(m_session.Get()), VText(query), VText("ORDER BY lid"),
                                        VLong(1), VBool(false)}),
              Describe(hr, Long(count)));
    EXPECT_EQ(count, 3);
  }
  const auto sameFlag = [&](const char* name, HRESULT (IKvDRPump::*get)(LONG*)) {
    LONG flag = -99;
    HRESULT hr = (direct.Get()->*get)(&flag);
    EXPECT_EQ(LateResult(late, name, {}), Describe(hr, Long(flag))) << name;
  };
  const auto sameValue = [&](const char* field) {
    CComVariant d;
    HRESULT hr = direct->get_Value(CComBSTR(field).Get(), &d);
    EXPECT_EQ(LateResult(late, "Value", {VText(field)}), Describe(hr, d));
    return d;
  };
  const auto bothMove = [&](const char* name, HRESULT (IKvDRPump::*move)()) {
    EXPECT_EQ(LateResult(late, name, {}), Describe((direct.Get()->*move)(), VARIANT{})) << name;
  };

  EXPECT_EQ(sameValue("lid").lVal, 2);  // the page starts at the second row
  {
    CComVariant d;
    HRESULT hr = direct->get_ValueEx(CComBSTR("strcolor").Get(), 1031, &d);
    EXPECT_EQ(LateResult(late, "ValueEx", {VText("strcolor"), VLong(1031)}), Describe(hr, d));
    EXPECT_EQ(TextOf(d), "rot");
  }
  sameFlag("IsEOF", &IKvDRPump::get_IsEOF);
  // A script that looked the id up once calls MoveNext by its dispatch id, 3.
  {
    std::vector<CComVariant> none;
    EXPECT_EQ(late.InvokeId(3, DISPATCH_METHOD, none, nullptr), S_OK);
    EXPECT_EQ(direct->MoveNext(), S_OK);
  }
  EXPECT_EQ(sameValue("lid").lVal, 3);
  bothMove("MoveNext", &IKvDRPump::MoveNext);
  sameFlag("IsEOF", &IKvDRPump::get_IsEOF);
  bothMove("MoveFirst", &IKvDRPump::MoveFirst);
  sameFlag("IsBOF", &IKvDRPump::get_IsBOF);
  EXPECT_EQ(sameValue("lid").lVal, 1);
  bothMove("MoveLast", &IKvDRPump::MoveLast);
  bothMove("MovePrevious", &IKvDRPump::MovePrevious);
  EXPECT_EQ(sameValue("lid").lVal, 2);
  bothMove("Close", &IKvDRPump::Close);
}

}  // namespace
