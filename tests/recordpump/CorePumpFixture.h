// Shared set-up of the record pump core tests: a fresh demo database, a
// session on it, the trace of the test, and one pump object.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "src/recordpump/KvDataPump.h"
#include "tests/fixture/TestDatabase.h"

// The demo application's forms.
constexpr LONG kOrderEditForm = 100;   // data pack 10, table krorder, language table krorder_l
constexpr LONG kOrderViewForm = 101;   // the same data pack through a view pack
constexpr LONG kLineEditForm = 102;    // data pack 12, table krorderline, language krorderline_l
constexpr LONG kNoteEditForm = 103;    // data pack 14, table krlinenote, no language pack

inline CComVariant Str(const std::string& text) { return CComVariant(std::string_view(text)); }
inline CComVariant I4(LONG value) { return CComVariant(value); }
inline CComVariant I2(SHORT value) {
  CComVariant v;
  v.vt = VT_I2;
  v.iVal = value;
  return v;
}
inline std::string TextOf(const VARIANT& v) {
  return v.vt == VT_BSTR ? Utf8FromBstr(v.bstrVal) : std::string("<vt ") + std::to_string(v.vt) + ">";
}

class CorePumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db = TestDatabase::Create();
    ASSERT_TRUE(db);
    session = db->NewSession();
    pump = NewPump();
    ASSERT_TRUE(pump);
  }

  static ComPtr<IKvDataPump> NewPump() {
    ComPtr<IKvDataPump> p;
    EXPECT_EQ(S_OK, CKvDataPump::CreateInstance(IKvDataPump::kIid, p.ReleaseAndGetVoidAddress()));
    return p;
  }
  static CKvDataPump& Impl(const ComPtr<IKvDataPump>& p) {
    return *static_cast<CKvDataPump*>(p.Get());
  }
  CKvDataPump& Impl() { return Impl(pump); }

  HRESULT Bind(LONG formId) { return pump->Init(session.Get(), formId); }

  CComVariant Read(const std::string& field, const CComVariant& def = CComVariant()) {
    CComBSTR name(field);
    CComVariant result;
    EXPECT_EQ(S_OK, pump->ValueByFieldName(name.Get(), def, &result));
    return result;
  }
  CComVariant ReadEx(const std::string& field, LONG lcid,
                     const CComVariant& def = CComVariant()) {
    CComBSTR name(field);
    CComVariant result;
    EXPECT_EQ(S_OK, pump->ValueByFieldNameEx(name.Get(), def, lcid, &result));
    return result;
  }
  bool Equals(const std::string& field, const CComVariant& value) {
    CComBSTR name(field);
    CComVariant result;
    EXPECT_EQ(S_OK, pump->CompareByFieldName(name.Get(), value, I4(1), I4(0), &result));
    EXPECT_EQ(VT_I4, result.vt);
    return result.vt == VT_I4 && result.lVal == 1;
  }

  void Set(const std::string& field, const CComVariant& value, LONG lcid = 0) {
    CComBSTR name(field);
    EXPECT_EQ(S_OK, pump->SetFieldValueEx(name.Get(), lcid, value));
  }
  // Saves and returns the id; pVal starts at -77 so an untouched result shows.
  LONG Save(HRESULT expected = S_OK) {
    LONG id = -77;
    EXPECT_EQ(expected, pump->SaveFieldValues(&id));
    return id;
  }

  bool TraceHas(const std::string& text) const {
    return trace.Text().find(text) != std::string::npos;
  }
  int TraceCount(const std::string& text) const {
    int n = 0;
    for (const auto& line : trace.Lines())
      if (line.text.find(text) != std::string::npos) ++n;
    return n;
  }

  TraceCapture trace;
  std::unique_ptr<TestDatabase> db;
  ComPtr<IDispatch> session;
  ComPtr<IKvDataPump> pump;
};
