// Saving into a large language table against saving into an empty one, on
// the demo application's schema as it is created for users.
//   savefieldvalues_large_lang: SaveFieldValues of a new order with German
//     and English titles into a database whose language table holds 100,000
//     rows, against the same saves into a database whose language table is
//     empty. Each save looks its language rows up by parent and language, so
//     without an index on them the large side pays a scan per row.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "BenchUtil.h"
#include "demoapp/DemoSchema.h"
#include "platform/host/HostSession.h"
#include "src/recordpump/KvDataPump.h"

namespace {

constexpr int kLanguageRows = 100000;
constexpr int kSaves = 300;

struct DemoDatabase {
  std::string path;
  ComPtr<IDispatch> session;
};

std::unique_ptr<CKvDbConnection> SessionConnection(IDispatch* session) {
  ComPtr<IHostSession> host;
  ComPtr<IDispatch> connection;
  if (FAILED(session->QueryInterface(IHostSession::kIid, host.ReleaseAndGetVoidAddress())) ||
      FAILED(host->get_Connection(connection.ReleaseAndGetAddressOf())) || !connection)
    throw std::runtime_error("the session gives no connection");
  return std::make_unique<CKvDbConnection>(connection.Get(), true);
}

DemoDatabase CreateDemoDatabase(const char* name, int languageRows) {
  DemoDatabase db;
  db.path = bench::ScratchPath(name);
  KvHostSessionConfig config;
  config.connectionString = "sqlite:" + db.path + "?mode=rwc";
  if (FAILED(KvCreateHostSession(config, db.session.ReleaseAndGetAddressOf())))
    throw std::runtime_error("cannot create the host session");
  auto connection = SessionConnection(db.session.Get());
  kvdemo::CreateRepositoryTables(*connection, kvdemo::SqlDialect::SQLite);
  kvdemo::CreateDemoApplication(*connection, kvdemo::SqlDialect::SQLite);
  if (languageRows > 0) {
    // Rows of other orders, two languages each, with parents no new order gets.
    connection->Execute(("INSERT INTO krorder_l (lid, lparentid, llcid, strtitle) "
                         "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                         std::to_string(languageRows) +
                         ") SELECT i, 1000000 + i / 2, 1031 + (i % 2) * 2, 'title' FROM n")
                            .c_str(),
                        nullptr, 1);
  }
  return db;
}

class OrderSaves {
 public:
  explicit OrderSaves(IDispatch* session) {
    if (FAILED(CKvDataPump::CreateInstance(IKvDataPump::kIid, m_pump.ReleaseAndGetVoidAddress())) ||
        m_pump->Init(session, kvdemo::kFormOrderEdit) != S_OK)
      throw std::runtime_error("cannot bind the record pump");
  }
  void Run() {
    for (int i = 0; i < kSaves; ++i) {
      m_pump->CleanFieldValues();
      m_pump->SetFieldValue(m_no.Get(), m_noValue);
      m_pump->SetFieldValue(m_amount.Get(), CComVariant(LONG{i}));
      m_pump->SetFieldValueEx(m_title.Get(), 1031, m_german);
      m_pump->SetFieldValueEx(m_title.Get(), 1033, m_english);
      LONG id = 0;
      if (m_pump->SaveFieldValues(&id) != S_OK || id <= 0) throw std::runtime_error("save failed");
    }
  }

 private:
  ComPtr<IKvDataPump> m_pump;
  CComBSTR m_no{"strno"}, m_amount{"lamount"}, m_title{"strtitle"};
  CComVariant m_noValue{std::string_view("B-1")};
  CComVariant m_german{std::string_view("Bestellung")}, m_english{std::string_view("Order")};
};

}  // namespace

int main() {
  int status = 0;
  std::string paths[2];
  try {
    DemoDatabase empty = CreateDemoDatabase("savelang_empty", 0);
    paths[0] = empty.path;
    DemoDatabase large = CreateDemoDatabase("savelang_large", kLanguageRows);
    paths[1] = large.path;
    OrderSaves intoEmpty(empty.session.Get());
    OrderSaves intoLarge(large.session.Get());
    const double ratio = bench::CompareBest(5, [&] { intoLarge.Run(); }, [&] { intoEmpty.Run(); });
    bench::PrintRatio("savefieldvalues_large_lang", ratio, 1.5);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_savelang: %s\n", e.what());
    status = 1;
  } catch (const CException& e) {
    std::fprintf(stderr, "bench_savelang: %s\n", e.Message().c_str());
    status = 1;
  }
  for (const std::string& path : paths) {
    if (path.empty()) continue;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(path + suffix);
  }
  return status;
}
