// Saves under many writers: 1, 8, 32 and 64 writer processes, each with a
// connection of its own, share one number of new orders (each with two
// language rows) on PostgreSQL (when KV_BENCH_PG names a server) and on an
// SQLite file, once as a save behaves by default (nothing locked, a
// collision rolls back and sleeps up to 255 ms) and once with the
// connection option savelock=table (saves into one table wait for each
// other before they read the new id). The figures (saves per second,
// attempts rolled back) go to stderr. The line compares 64 writers with one
// doing the same number of saves, both with savelock=table, so 1 means no
// time lost to writers waiting for each other.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchComponent.h"
#include "BenchUtil.h"
#include "demoapp/DemoSchema.h"

namespace {

constexpr int kSaves = 1280;  // in all, whatever the number of writers
constexpr int kWriterCounts[] = {1, 8, 32, 64};

void CreateSchema(const std::string& url) {
  ComPtr<IDispatch> session = bench::NewSession(url);
  auto connection = bench::SessionConnection(session.Get());
  const kvdemo::SqlDialect dialect = kvdemo::DialectOf(url);
  if (dialect == kvdemo::SqlDialect::PostgreSQL) connection->Execute("SET client_min_messages TO WARNING", nullptr, 1);
  for (const char* table : {"krappform", "krappeditpack", "krappviewpack", "krappdatapack", "krappdatafield",
                            "krappcontrol", "krlang", "kruploadfile", "krorder", "krorder_l", "krorderline",
                            "krorderline_l", "krlinenote"})
    connection->Execute((std::string("DROP TABLE IF EXISTS ") + table).c_str(), nullptr, 1);
  kvdemo::CreateRepositoryTables(*connection, dialect);
  kvdemo::CreateDemoApplication(*connection, dialect);
}

// A writer: binds its pump and saves once (statements prepared), says it is
// ready, waits for the start, saves, and exits with the number of attempts
// it rolled back (255 for a failed save).
int RunWriter(const std::string& url, int saves, int readyFd, int goFd) {
  int rollbacks = 0;
  KvDbSetStatementObserver([&](const std::string& sql) { rollbacks += sql == "ROLLBACK"; });
  try {
    ComPtr<IDispatch> session = bench::NewSession(url);
    ComPtr<IKvDataPump> pump = bench::BoundRecordPump(session.Get(), kvdemo::kFormOrderEdit);
    const bench::OrderSaver saver("bench", "Bestellung", "order");
    saver.Save(pump.Get(), 0);
    rollbacks = 0;
    char byte = 'r';
    if (write(readyFd, &byte, 1) != 1 || read(goFd, &byte, 1) != 0) return 255;
    for (int i = 0; i < saves; ++i) saver.Save(pump.Get(), i);
  } catch (...) {
    return 255;
  }
  return rollbacks < 255 ? rollbacks : 254;
}

struct Run {
  double seconds = 0;
  int rollbacks = 0;
};

Run TimeWriters(const std::string& url, int writers) {
  int ready[2], go[2];
  if (pipe(ready) != 0 || pipe(go) != 0) throw std::runtime_error("no pipe");
  std::vector<pid_t> children;
  for (int w = 0; w < writers; ++w) {
    const int share = kSaves / writers + (w < kSaves % writers ? 1 : 0);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("cannot fork");
    if (pid == 0) {
      close(ready[0]);
      close(go[1]);
      _exit(RunWriter(url, share, ready[1], go[0]));
    }
    children.push_back(pid);
  }
  close(ready[1]);
  close(go[0]);
  char byte;
  int readyCount = 0;
  while (readyCount < writers && read(ready[0], &byte, 1) == 1) ++readyCount;
  close(ready[0]);
  const auto start = std::chrono::steady_clock::now();
  close(go[1]);  // every writer's read ends: go
  Run run;
  bool failed = readyCount < writers;
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 255)
      failed = true;
    else
      run.rollbacks += WEXITSTATUS(status);
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (failed) throw std::runtime_error("a writer failed");
  return run;
}

Run TimeOnFreshSchema(const std::string& url, int writers) {
  CreateSchema(url);
  return TimeWriters(url, writers);
}

constexpr const char* kSaveLock = "savelock=table";

std::string WithOption(const std::string& url, const char* option) {
  return url + (url.find('?') == std::string::npos ? "?" : "&") + option;
}

// Prints the figures of each number of writers, each on a fresh schema,
// without and with the save lock.
void MeasureEngine(const char* engine, const std::function<std::string()>& freshDatabase) {
  for (bool locked : {false, true}) {
    for (int writers : kWriterCounts) {
      const std::string url = freshDatabase();
      const Run run = TimeOnFreshSchema(locked ? WithOption(url, kSaveLock) : url, writers);
      std::fprintf(stderr,
                   "bench_saves_writers %s%s: %2d writers, %d saves, %.2f s, %.0f saves/s, %d attempts rolled back\n",
                   engine, locked ? " savelock=table" : "", writers, kSaves, run.seconds, kSaves / run.seconds,
                   run.rollbacks);
    }
  }
}

}  // namespace

int main() {
  try {
    char dir[] = "/tmp/bench_saves_XXXXXX";
    if (!mkdtemp(dir)) throw std::runtime_error("no temporary directory");
    int file = 0;
    MeasureEngine("sqlite", [&] {
      return std::string("sqlite:") + dir + "/saves" + std::to_string(++file) + ".db?mode=rwc";
    });
    std::filesystem::remove_all(dir);

    const char* pg = std::getenv("KV_BENCH_PG");
    if (!pg || !*pg) {
      std::fprintf(stderr, "bench_saves_writers: KV_BENCH_PG is not set, PostgreSQL skipped\n");
      return 0;
    }
    MeasureEngine("postgresql", [&] { return std::string(pg); });
    // Best of alternating runs: the machine's other work moves single runs
    // by more than the difference measured.
    const std::string locked = WithOption(pg, kSaveLock);
    double one = 1e9, many = 1e9;
    for (int i = 0; i < 3; ++i) {
      one = std::min(one, TimeOnFreshSchema(locked, 1).seconds);
      many = std::min(many, TimeOnFreshSchema(locked, 64).seconds);
    }
    bench::PrintRatio("pg_saves_64_writers", many / one, 1.5);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_saves_writers: %s\n", e.what());
  } catch (const CException& e) {
    std::fprintf(stderr, "bench_saves_writers: %s\n", e.Message().c_str());
  }
  return 1;
}
