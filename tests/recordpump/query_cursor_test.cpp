#include "pump_fixtures.h"

namespace {

class QueryCursorTest : public PumpTest {
 protected:
  void Query(const std::string& sql) {
    ASSERT_EQ(pump->QueryInit(session.Get(), CComBSTR(sql).Get()), S_OK);
  }
  LONG Move(HRESULT (IKvDataPump::*move)(LONG*)) {
    LONG id = 0;
    EXPECT_EQ((pump.Get()->*move)(&id), S_OK);
    return id;
  }
  bool AtEnd() {
    VARIANT_BOOL eof = 0;
    EXPECT_EQ(pump->get_IsEOF(&eof), S_OK);
    return eof == VARIANT_TRUE;
  }
  CComVariant Value(const char* f, LONG lcid = 0, bool ex = false) { return CursorValue(pump.Get(), f, lcid, ex); }
};

TEST_P(QueryCursorTest, ValuesAreTypedNullIsEmptyAndOptionsTranslate) {
  db->Exec("INSERT INTO krorder (lid, strstate, lamount) VALUES (1, '2|7', 42), (2, '2|', NULL), "
           "(3, '|2', NULL), (4, '2|9', NULL)");
  Query("SELECT lid, strstate, strstate AS StrState, strcolor, lamount FROM krorder ORDER BY lid");
  EXPECT_EQ(TextOf(Value("strcolor")), "");
  const CComVariant amount = Value("lamount");
  EXPECT_EQ(amount.vt, VT_I4);
  EXPECT_EQ(amount.lVal, 42);
  EXPECT_EQ(Value("lamount", 0, true).vt, VT_I4);
  EXPECT_EQ(TextOf(Value("strstate", 1033, true)), "open|closed");
  // Texts are keyed by the field name exactly as the page passes it.
  EXPECT_EQ(TextOf(Value("StrState", 1031, true)), "2|7");

  std::vector<std::string> german;
  for (; !AtEnd(); Move(&IKvDataPump::MoveNext))
    german.push_back(TextOf(Value("strstate", 1031, true)));
  EXPECT_EQ(german, (std::vector<std::string>{"offen|geschlossen", "offen", "|offen", "offen|9"}));
}

TEST_P(QueryCursorTest, ASecondQueryReplacesTheFirstWithItsTexts) {
  db->Exec("INSERT INTO krorder (lid, strcolor) VALUES (1, 'red')");
  db->Exec("INSERT INTO krorderline (lid) VALUES (1)");
  Query("SELECT lid, strcolor FROM krorder");
  EXPECT_EQ(TextOf(Value("strcolor", 1031, true)), "rot");
  // The order lines have no control texts: nothing of the orders' is left.
  Query("SELECT lid, 'red' AS strcolor FROM krorderline");
  ASSERT_FALSE(AtEnd());
  EXPECT_EQ(TextOf(Value("strcolor", 1031, true)), "red");
}

TEST_P(QueryCursorTest, FailuresAreTracedAndSwallowed) {
  Query("SELECT lid FROM krorder");
  TraceCapture trace;
  // Anything but a host session: the pump itself is an IDispatch.
  ComPtr<IDispatch> notASession;
  ASSERT_EQ(pump.As(&notASession), S_OK);
  ASSERT_EQ(pump->QueryInit(notASession.Get(), CComBSTR("SELECT lid FROM krorder").Get()), S_OK);
  EXPECT_TRUE(AtEnd());
  EXPECT_EQ(Move(&IKvDataPump::MoveFirst), -1);
  EXPECT_NE(trace.Text().find("[COM error]\nLocation: KvDataPump"), std::string::npos);
  EXPECT_NE(trace.Text().find("HR: 0x80004003"), std::string::npos);

  trace.Clear();
  Query("SELECT nosuchcolumn FROM krorder");
  EXPECT_NE(trace.Text().find("[CKvDbException]\nLocation: KvDataPump"), std::string::npos);
  // The rowset was made for the query, but the statement never opened.
  EXPECT_FALSE(static_cast<CKvDataPump*>(pump.Get())->HasOpenQuery());
  EXPECT_EQ(trace.Text().find("Returning:"), std::string::npos);
}

KV_ON_BOTH_ENGINES(QueryCursorTest);

}  // namespace
