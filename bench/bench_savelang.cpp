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

#include "BenchComponent.h"
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

DemoDatabase CreateDemoDatabase(const char* name, int languageRows) {
  DemoDatabase db;
  db.path = bench::ScratchPath(name);
  db.session = bench::NewSession("sqlite:" + db.path + "?mode=rwc");
  auto connection = bench::SessionConnection(db.session.Get());
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
  explicit OrderSaves(IDispatch* session)
      : m_pump(bench::BoundRecordPump(session, kvdemo::kFormOrderEdit)) {}
  void Run() {
    for (int i = 0; i < kSaves; ++i) m_saver.Save(m_pump.Get(), LONG{i});
  }

 private:
  ComPtr<IKvDataPump> m_pump;
  const bench::OrderSaver m_saver{"B-1", "Bestellung", "Order"};
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
