// kvdemo: the demo application's database, walked the way the component
// walks it. It creates the demo database when it is missing, then follows a
// typical edit (read a record, change and save values, read them back) and a
// paged read (count, sort, skip, read rows) through the access layer and the
// host session, and finally shows what the trace received.
//
//   kvdemo [--db CONNECTION]     default: sqlite:<repo>/data/demo.db
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "demoapp/DemoSchema.h"
#include "platform/host/HostSession.h"
#include "platform/host/TraceSinks.h"
#include "src/common/LangTexts.h"
#include "src/common/Session.h"
#include "src/diagnostics/Frames.h"

namespace {

constexpr const char* kSource = "kvdemo";

bool HasRepository(CKvDbConnection& connection) {
  try {
    CKvDbRowset rowset;
    rowset.Open("SELECT COUNT(*) FROM krappform", &connection, -1, -1, 0);
    return rowset.GetField(0)->GetLongValue() > 0;
  } catch (const CKvDbException&) {
    return false;
  }
}

void PrepareDatabase(const std::string& url, IHostSession* session) {
  std::unique_ptr<CKvDbConnection> connection = OpenSessionConnection(session);
  if (HasRepository(*connection)) {
    std::printf("database %s: demo application present\n", url.c_str());
    return;
  }
  const kvdemo::SqlDialect dialect = kvdemo::DialectOf(url);
  kvdemo::CreateRepositoryTables(*connection, dialect);
  kvdemo::CreateDemoApplication(*connection, dialect);
  kvdemo::FillDemoOrders(*connection);
  std::printf("database %s: demo application created with five orders\n", url.c_str());
}

// The option texts of a form's controls, loaded as binding a form does.
CLangTextMap FormTexts(CKvDbConnection& connection, LONG datapackId) {
  CLangTextMap texts;
  CKvDbRowset rowset;
  rowset.Open(("SELECT c.lid, f.strname FROM krappdatafield f, krappcontrol c WHERE f.ldatapackid=" +
               std::to_string(datapackId) + " AND f.bsystem=0 AND c.ldatafieldid=f.lid")
                  .c_str(),
              &connection, -1, -1, 0);
  std::vector<std::pair<LONG, std::string>> controls;
  for (; !rowset.IsEOF(); rowset.MoveNext())
    controls.emplace_back(rowset.GetField(0)->GetLongValue(), rowset.GetField(1)->GetStringValue());
  rowset.Close();
  for (const auto& [control, field] : controls) {
    rowset.Open(("SELECT strident, lcid, strtext FROM krlang WHERE ltableid=" + std::to_string(control) +
                 " AND ltype=7")
                    .c_str(),
                &connection, -1, -1, 0);
    for (; !rowset.IsEOF(); rowset.MoveNext())
      texts[LangTextKey(field, rowset.GetField(0)->GetStringValue(), rowset.GetField(1)->GetLongValue())] =
          rowset.GetField(2)->GetStringValue();
    rowset.Close();
  }
  return texts;
}

void ShowOrder(CKvDbConnection& connection, const CLangTextMap& texts, LONG id, const char* when) {
  CKvDbRowset rowset;
  rowset.Open(("SELECT strno, strcolor, strstate, lamount, dblprice FROM krorder WHERE lid=" + std::to_string(id))
                  .c_str(),
              &connection, -1, -1, 0);
  if (rowset.IsEOF()) {
    std::printf("  %s: order %d not found\n", when, static_cast<int>(id));
    return;
  }
  const std::string color = rowset.GetField(1)->GetStringValue();
  const std::string state = rowset.GetField(2)->GetStringValue();
  std::printf("  %s: order %d no=%s color=%s (de: %s) state=%s (en: %s) amount=%ld price=%s\n", when,
              static_cast<int>(id), rowset.GetField(0)->GetStringValue().c_str(), color.c_str(),
              TranslateMultiValue(texts, "strcolor", color, 1031).c_str(), state.c_str(),
              TranslateMultiValue(texts, "strstate", state, 1033).c_str(), rowset.GetField(3)->GetLongValue(),
              rowset.GetField(4)->GetStringValue().c_str());
}

// Edit form 100 on order 1: read, change amount and state, save, read back.
HRESULT TypicalEdit(IHostSession* session) {
  return StandardFrame(kSource, [&] {
    std::unique_ptr<CKvDbConnection> connection = OpenSessionConnection(session);
    std::printf("edit: session valid=%d user=%d base path=%s\n", SessionIsValid(session) ? 1 : 0,
                static_cast<int>(SessionUserId(session)), SessionBasePath(session).c_str());
    CKvDbRowset rowset;
    rowset.Open("SELECT krappeditpack.ldatapackid, krappdatapack.strtable FROM krappform, krappeditpack, "
                "krappdatapack WHERE krappform.lid=100 AND krappeditpack.lid=krappform.lpackid AND "
                "krappdatapack.lid=krappeditpack.ldatapackid",
                connection.get(), -1, -1, 0);
    const LONG pack = rowset.GetField(0)->GetLongValue();
    std::printf("  form 100 edits data pack %d, table %s\n", static_cast<int>(pack),
                rowset.GetField(1)->GetStringValue().c_str());
    rowset.Close();
    const CLangTextMap texts = FormTexts(*connection, pack);
    ShowOrder(*connection, texts, 1, "read ");

    // Saving goes through a rowset opened for writing, as the record pump saves.
    rowset.Open("SELECT lid, lamount, strstate, luserid FROM krorder WHERE lid = 1", connection.get(), 0, 2, 0);
    const LONG amount = rowset.GetField("lamount")->GetLongValue();
    const bool open = rowset.GetField("strstate")->GetStringValue() == "2";
    rowset.GetField("lamount")->SetValue(CComVariant(static_cast<LONG>(amount + 1)));
    rowset.GetField("strstate")->SetValue(CComVariant(open ? "7" : "2"));
    rowset.GetField("luserid")->SetValue(CComVariant(SessionUserId(session)));
    rowset.Update();
    rowset.Close();
    ShowOrder(*connection, texts, 1, "saved");
    return S_OK;
  });
}

// Page 2 (two rows a page) of the orders sorted by number, colours in German.
HRESULT PagedRead(IHostSession* session) {
  return StandardFrame(kSource, [&] {
    std::unique_ptr<CKvDbConnection> connection = OpenSessionConnection(session);
    const std::string query = "SELECT lid, strno, strcolor FROM krorder";
    CKvDbRowset rowset;
    rowset.Open("SELECT COUNT(*) AS lcount FROM krorder", connection.get(), -1, -1, 0);
    const long count = rowset.GetField(0)->GetLongValue();
    rowset.Close();
    CLangTextMap texts;
    LoadQueryLangTexts(texts, query + " ORDER BY strno", *connection, rowset);
    rowset.Open((query + " ORDER BY strno").c_str(), connection.get(), -1, -1, 0);
    rowset.Move(2);
    std::printf("paged read: %ld orders, page 2:\n", count);
    for (int row = 0; row < 2 && !rowset.IsEOF(); ++row, rowset.MoveNext()) {
      const std::string color = rowset.GetField("strcolor")->GetStringValue();
      std::printf("  lid=%ld no=%s color=%s\n", rowset.GetField("lid")->GetLongValue(),
                  rowset.GetField("strno")->GetStringValue().c_str(),
                  TranslateMultiValue(texts, "strcolor", color, 1031).c_str());
    }
    return S_OK;
  });
}

// Two failures as the component reports them: a statement on a missing
// table, and a session whose validity flag cannot be read.
void Failures(IDispatch* sessionDispatch, IHostSession* session) {
  const HRESULT hr = StandardFrame(kSource, [&] {
    std::unique_ptr<CKvDbConnection> connection = OpenSessionConnection(session);
    connection->Execute("UPDATE krnosuchtable SET lid=1", nullptr, 1);
    return S_OK;
  });
  std::printf("failures: statement on a missing table returned 0x%08X\n", static_cast<unsigned>(hr));
  KvConfigureHostSession(sessionDispatch, [](KvHostSessionConfig& c) {
    c.failures.push_back({KvHostCall::Valid, E_ACCESSDENIED, "The session has expired."});
  });
  const HRESULT swallowed = SwallowingFrame(kSource, [&] { SessionIsValid(session); });
  std::printf("failures: unreadable session flag swallowed, result 0x%08X\n", static_cast<unsigned>(swallowed));
}

}  // namespace

int main(int argc, char** argv) {
  std::string url;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--db") == 0 && i + 1 < argc) {
      url = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--db CONNECTION]\n", argv[0]);
      return 2;
    }
  }
  const std::filesystem::path dataDir = KV_DEMO_DATA_DIR;
  std::error_code ec;
  std::filesystem::create_directories(dataDir / "app", ec);
  if (url.empty()) url = "sqlite:" + (dataDir / "demo.db").string();

  auto trace = std::make_shared<KvTraceStore>();
  DWORD cookie = 0;
  KvRegisterMemoryTraceSink(trace, &cookie);

  KvHostSessionConfig config;
  config.connectionString = url;
  config.basePath = (dataDir / "app").string() + "/";
  IDispatch* raw = nullptr;
  KvCreateHostSession(config, &raw);
  ComPtr<IDispatch> sessionDispatch = ComPtr<IDispatch>::Attach(raw);
  int status = 0;
  try {
    ComPtr<IHostSession> session = QueryHostSession(sessionDispatch.Get());
    PrepareDatabase(url, session.Get());
    if (FAILED(TypicalEdit(session.Get())) || FAILED(PagedRead(session.Get()))) status = 1;
    Failures(sessionDispatch.Get(), session.Get());
  } catch (const CException& e) {
    std::fprintf(stderr, "kvdemo: %s: %s\n", e.GetRuntimeClassName(), e.Message().c_str());
    status = 1;
  } catch (const _com_error& e) {
    std::fprintf(stderr, "kvdemo: COM error 0x%08X\n", static_cast<unsigned>(e.Error()));
    status = 1;
  }

  std::printf("trace (%zu lines):\n", trace->Lines().size());
  for (const KvTraceLine& line : trace->Lines()) {
    if (line.heading)
      std::printf("[%s]\n", line.text.c_str());
    else
      std::fputs(line.text.c_str(), stdout);
  }
  KvRevokeTraceSink(cookie);
  return status;
}
