// Shared set-up of the query, lookup and join tests: a record pump on the
// demo database and small readers of its results.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "src/recordpump/KvDataPump.h"
#include "tests/fixture/Engines.h"

inline ComPtr<IKvDataPump> NewDataPump() {
  ComPtr<IKvDataPump> pump;
  EXPECT_EQ(CKvDataPump::CreateInstance(IKvDataPump::kIid, pump.ReleaseAndGetVoidAddress()), S_OK);
  return pump;
}

inline std::string StringOf(const VARIANT& v) {
  EXPECT_EQ(v.vt, VT_BSTR);
  return v.vt == VT_BSTR ? Utf8FromBstr(v.bstrVal) : std::string("<not a string>");
}

inline bool Saw(const StatementCapture& capture, const std::string& sql) {
  const auto& s = capture.Statements();
  return std::find(s.begin(), s.end(), sql) != s.end();
}

class PumpTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped()) return;
    db = TestDatabase::Create(GetParam());
    session = db->NewSession();
    pump = NewDataPump();
  }

  // Hands the pump a session without binding a form or loading texts.
  void BindSession(IDispatch* s) { ASSERT_EQ(pump->QueryInit(s, CComBSTR("SELECT 1").Get()), S_OK); }

  std::unique_ptr<TestDatabase> db;
  ComPtr<IDispatch> session;
  ComPtr<IKvDataPump> pump;
};
