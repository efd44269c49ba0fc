// Set-ups shared by the record pump tests, all on the demo database:
// CorePumpTest (SQLite, one pump, the trace of the test), PumpTest (either
// engine) and FilesPumpTest (either engine, with the host's data pack and
// file copier and a real application directory for uploads). Records and
// uploads are created with real rows and real files.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/com/ObjBase.h"
#include "platform/host/HostComponents.h"
#include "src/outside/FileServices.h"
#include "src/recordpump/KvDataPump.h"
#include "tests/fixture/Engines.h"
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
// A value's text; anything but a string reads as its type, which no
// expected text matches.
inline std::string TextOf(const VARIANT& v) {
  return v.vt == VT_BSTR ? Utf8FromBstr(v.bstrVal) : std::string("<vt ") + std::to_string(v.vt) + ">";
}

inline ComPtr<IKvDataPump> NewDataPump() {
  ComPtr<IKvDataPump> pump;
  EXPECT_EQ(CKvDataPump::CreateInstance(IKvDataPump::kIid, pump.ReleaseAndGetVoidAddress()), S_OK);
  return pump;
}

// A field of a cursor's current row, through get_ValueEx when ex.
template <class Cursor>
CComVariant CursorValue(Cursor* cursor, const char* field, LONG lcid, bool ex) {
  CComVariant v;
  const CComBSTR name(field);
  EXPECT_EQ(ex ? cursor->get_ValueEx(name.Get(), lcid, &v) : cursor->get_Value(name.Get(), &v), S_OK);
  return v;
}

inline bool Saw(const StatementCapture& capture, const std::string& sql) {
  const auto& s = capture.Statements();
  return std::find(s.begin(), s.end(), sql) != s.end();
}

// The trace of a test and what tests ask of it.
struct TraceChecks {
  bool TraceHas(const std::string& text) const { return trace.Text().find(text) != std::string::npos; }
  int TraceCount(const std::string& text) const { return Lines(false, text); }
  int HeadingCount(const std::string& heading) const { return Lines(true, heading); }
  // Headings equal to text, or body lines that contain it.
  int Lines(bool headings, const std::string& text) const {
    int n = 0;
    for (const auto& line : trace.Lines())
      if (line.heading == headings && (headings ? line.text == text : line.text.find(text) != std::string::npos)) ++n;
    return n;
  }

  TraceCapture trace;
};

// A pump and a fresh demo database with a session on it.
class PumpParts {
 protected:
  // connectionOptions: the access layer's, as TestDatabase::Create takes them.
  void Open(TestDatabase::Engine engine, const std::string& connectionOptions = "") {
    db = TestDatabase::Create(engine, connectionOptions);
    ASSERT_TRUE(db);
    session = db->NewSession();
    pump = NewDataPump();
    ASSERT_TRUE(pump);
  }

  HRESULT Bind(LONG formId, LONG recordId = -1) {
    const HRESULT hr = pump->Init(session.Get(), formId);
    if (recordId != -1) pump->MoveTo(recordId);
    return hr;
  }
  void Set(const std::string& field, const CComVariant& value, LONG lcid = 0) {
    EXPECT_EQ(S_OK, pump->SetFieldValueEx(CComBSTR(field).Get(), lcid, value));
  }

  // A column of the row with the given id, as text or as a number.
  std::string Text(const std::string& table, const std::string& column, LONG id) {
    return db->QueryString("SELECT " + column + " FROM " + table + " WHERE lid=" + std::to_string(id));
  }
  long Number(const std::string& table, const std::string& column, LONG id) {
    return db->QueryLong("SELECT " + column + " FROM " + table + " WHERE lid=" + std::to_string(id));
  }

  std::unique_ptr<TestDatabase> db;
  ComPtr<IDispatch> session;
  ComPtr<IKvDataPump> pump;
};

class CorePumpTest : public ::testing::Test, public TraceChecks, public PumpParts {
 protected:
  void SetUp() override { Open(TestDatabase::Engine::SQLite); }

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

  // Saves and returns the id; pVal starts at -77 so an untouched result shows.
  LONG Save(HRESULT expected = S_OK) {
    LONG id = -77;
    EXPECT_EQ(expected, pump->SaveFieldValues(&id));
    return id;
  }
};

class PumpTest : public EngineTest, public PumpParts {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (!IsSkipped()) Open(GetParam());
  }

  // Hands the pump a session without binding a form or loading texts.
  void BindSession(IDispatch* s) { ASSERT_EQ(pump->QueryInit(s, CComBSTR("SELECT 1").Get()), S_OK); }
};

class FilesPumpTest : public PumpTest, public TraceChecks {
 protected:
  void SetUp() override {
    PumpTest::SetUp();
    if (!Ready()) return;
    dataPackCookie = KvRegisterHostDataPack();
    fileCopierCookie = KvRegisterHostFileCopier();
    ASSERT_NE(0u, dataPackCookie);
    ASSERT_NE(0u, fileCopierCookie);
    m_savedRoots = KvGetFileRoots();
    m_rootsSaved = true;
    // Deleting below the application directory only.
    KvSetFileRoots({db->BasePath()});
    session = db->NewSession(kUserId);
  }

  // For the set-up of derived fixtures: false when the test does not run.
  bool Ready() const { return !IsSkipped() && !HasFatalFailure(); }

  void TearDown() override {
    if (dataPackCookie) CoRevokeClassObject(dataPackCookie);
    if (fileCopierCookie) CoRevokeClassObject(fileCopierCookie);
    KvHostDataPackFailNone();
    if (m_rootsSaved) KvSetFileRoots(m_savedRoots);
  }

  // The path of a file below the application directory as the component
  // writes it: Windows-style separators throughout.
  std::string PhysicalPath(const std::string& url) const {
    std::string path = db->BasePath() + url;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
  }

  // An upload row for url, with its file on disk unless withFile is false.
  void Upload(LONG id, const std::string& url, bool withFile = true) {
    const std::string name = url.substr(url.rfind('/') + 1);
    db->Exec("INSERT INTO kruploadfile (lid, strfilename, strphysicalpath, dtupload, luserid, strurl, "
             "lappid, ltemplateid, strcontenttype) VALUES (" +
             std::to_string(id) + ", 'orig_" + name + "', '" + PhysicalPath(url) +
             "', '2024-01-02 03:04:05', 7, '" + url + "', 1, 9, 'application/pdf')");
    if (withFile) db->WriteFile(url, "content of " + url);
  }

  // Upload 1 names ../../outside.txt, a file two levels above the
  // application, which moves to site/app/ with the file services confined
  // to it.
  void PointUploadOneOutside() {
    const std::string app = db->BasePath() + "site/app/";
    db->WriteFile("site/app/keep.txt", "x");
    db->WriteFile("outside.txt", "precious");
    KvSetFileRoots({app});
    session = db->NewSession(kUserId, true, app);
    db->Exec("UPDATE kruploadfile SET strurl='../../outside.txt' WHERE lid=1");
  }

  // Two orders with lines, line notes, language rows and uploaded files:
  //
  //   krorder 5 (file 1)          krorder_l 51 (5, 1031, file 3), 52 (5, 1033, file 7)
  //     krorderline 11 (file 4)   krorderline_l 111 (11, 1031)
  //       krlinenote 21
  //     krorderline 12 (file 5)   krorderline_l 121 (12, 1031), 122 (12, 1033)
  //       krlinenote 22, 23
  //   krorder 6 (file 2)          krorder_l 61 (6, 1031)
  //     krorderline 13 (file 6)   krorderline_l 131 (13, 1031)
  //       krlinenote 24
  void BuildOrderTree() {
    db->Exec("INSERT INTO krorder (lid, luserid, lownerid, lparentid, strno, strcolor, lamount, "
             "dblprice, dtorder, strmemo, lfile) VALUES (5, 3, -1, 0, 'A5', 'red', 12, 4.25, "
             "'2024-03-05 00:00:00', 'first order', 1)");
    db->Exec("INSERT INTO krorder (lid, lparentid, strno, lfile) VALUES (6, 0, 'A6', 2)");
    db->Exec("INSERT INTO krorder_l (lid, lparentid, llcid, strtitle, lfile_l) VALUES "
             "(51, 5, 1031, 'Erste', 3), (52, 5, 1033, 'First', 7), (61, 6, 1031, 'Zweite', NULL)");
    db->Exec("INSERT INTO krorderline (lid, lparentid, strname, lqty, lfile) VALUES "
             "(11, 5, 'pencil', 10, 4), (12, 5, 'paper', 500, 5), (13, 6, 'desk', 1, 6)");
    db->Exec("INSERT INTO krorderline_l (lid, lparentid, llcid, strtext) VALUES (111, 11, 1031, 'text 111'), "
             "(121, 12, 1031, 'text 121'), (122, 12, 1033, 'text 122'), (131, 13, 1031, 'text 131')");
    db->Exec("INSERT INTO krlinenote (lid, lparentid, strnote) VALUES (21, 11, 'note 21'), (22, 12, 'note 22'), "
             "(23, 12, 'note 23'), (24, 13, 'note 24')");
    for (const auto& [id, url] : {std::pair{1, "files/o5.pdf"}, {2, "files/o6.pdf"}, {3, "files/o5_de.pdf"},
                                  {4, "files/lines/l11.pdf"}, {5, "files/lines/l12.pdf"},
                                  {6, "files/lines/l13.pdf"}, {7, "files/o5_en.pdf"}})
      Upload(id, url);
  }

  // The statements that begin with prefix, in order.
  static std::vector<std::string> Only(const std::vector<std::string>& statements,
                                       const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& s : statements)
      if (s.rfind(prefix, 0) == 0) out.push_back(s);
    return out;
  }

  static constexpr LONG kUserId = 42;

  DWORD dataPackCookie = 0;
  DWORD fileCopierCookie = 0;

 private:
  std::vector<std::string> m_savedRoots;
  bool m_rootsSaved = false;
};
