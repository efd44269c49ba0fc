// Soak of concurrent saves: writer processes save orders with two language
// rows into one database while a reader pages through the orders, and one
// writer is killed with SIGKILL half way. Afterwards every id a writer was
// told it saved must be there exactly once and hold that writer's record,
// no order may lack its language rows, no language row its order, and the
// database must pass its integrity check. Prints its figures; exit 0 when
// every check holds.
//
//   soak_saves URL [WRITERS [SAVES]]     (defaults 8 and 1000)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "BenchComponent.h"
#include "demoapp/DemoSchema.h"
#include "platform/host/HostSession.h"
#include "src/pagedpump/KvDRPump.h"
#include "src/recordpump/KvDataPump.h"

namespace {

using Clock = std::chrono::steady_clock;

long QueryLong(CKvDbConnection& connection, const std::string& sql) {
  CKvDbRowset rowset;
  rowset.Open(sql.c_str(), &connection, -1, -1, 0);
  return rowset.IsEOF() ? -1 : rowset.GetField(0)->GetLongValue();
}

void CreateSchema(CKvDbConnection& connection, kvdemo::SqlDialect dialect) {
  // Dropping what is not there is no news worth a line per table.
  if (dialect == kvdemo::SqlDialect::PostgreSQL)
    connection.Execute("SET client_min_messages TO WARNING", nullptr, 1);
  for (const char* table : {"krappform", "krappeditpack", "krappviewpack", "krappdatapack",
                            "krappdatafield", "krappcontrol", "krlang", "kruploadfile", "krorder",
                            "krorder_l", "krorderline", "krorderline_l", "krlinenote"}) {
    connection.Execute((std::string("DROP TABLE IF EXISTS ") + table).c_str(), nullptr, 1);
  }
  kvdemo::CreateRepositoryTables(connection, dialect);
  kvdemo::CreateDemoApplication(connection, dialect);
}

// Named by the parent's process id, taken before the children are forked.
const pid_t kParent = getpid();

std::string ReportPath(int writer) {
  return "/tmp/soak_saves_" + std::to_string(kParent) + "_" + std::to_string(writer) + ".ids";
}

// A writer: each id the component reports as saved is appended to its file
// at once, so a writer killed mid-way leaves exactly what it was told.
int RunWriter(const std::string& url, int writer, int saves, const std::string& reportPath) {
  ComPtr<IDispatch> session = bench::NewSession(url);
  ComPtr<IKvDataPump> pump;
  if (FAILED(CKvDataPump::CreateInstance(IKvDataPump::kIid, pump.ReleaseAndGetVoidAddress())) ||
      pump->Init(session.Get(), kvdemo::kFormOrderEdit) != S_OK)
    return 3;
  FILE* report = std::fopen(reportPath.c_str(), "w");
  if (!report) return 3;
  CComBSTR no("strno"), title("strtitle");
  int failures = 0;
  for (int i = 0; i < saves; ++i) {
    pump->CleanFieldValues();
    char text[32];
    std::snprintf(text, sizeof text, "w%d-%d", writer, i);
    pump->SetFieldValue(no.Get(), CComVariant(std::string_view(text)));
    pump->SetFieldValueEx(title.Get(), 1031, CComVariant(std::string_view(std::string("de ") + text)));
    pump->SetFieldValueEx(title.Get(), 1033, CComVariant(std::string_view(std::string("en ") + text)));
    LONG id = 0;
    if (pump->SaveFieldValues(&id) == S_OK && id > 0) {
      std::fprintf(report, "%d %s\n", static_cast<int>(id), text);
      std::fflush(report);
    } else {
      ++failures;
    }
  }
  std::fprintf(report, "failures %d\n", failures);
  std::fclose(report);
  return 0;
}

// The reader pages through the orders, ten a page, until told to stop.
int RunReader(const std::string& url, const std::string& reportPath) {
  ComPtr<IDispatch> session = bench::NewSession(url);
  CComBSTR query("SELECT lid, strno FROM krorder"), sorter("lid"), field("strno");
  long pages = 0, errors = 0;
  std::ofstream report(reportPath);
  for (;;) {
    ComPtr<IKvDRPump> pump;
    if (FAILED(CKvDRPump::CreateInstance(nullptr, IKvDRPump::kIid, pump.ReleaseAndGetVoidAddress())))
      return 3;
    LONG count = 0;
    const LONG start = static_cast<LONG>((pages * 37) % 4000);
    if (pump->Init(session.Get(), query.Get(), sorter.Get(), start, VARIANT_FALSE, &count) != S_OK) {
      ++errors;
    } else {
      LONG eof = 0;
      for (int row = 0; row < 10 && pump->get_IsEOF(&eof) == S_OK && !eof; ++row) {
        CComVariant value;
        if (pump->get_Value(field.Get(), &value) != S_OK) ++errors;
        pump->MoveNext();
      }
      pump->Close();
    }
    ++pages;
    report.seekp(0);
    report << pages << " " << errors << "          " << std::flush;
    if (access((reportPath + ".stop").c_str(), F_OK) == 0) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

size_t LinesIn(const std::string& path) {
  std::ifstream in(path);
  size_t n = 0;
  std::string line;
  while (std::getline(in, line)) ++n;
  return n;
}

struct WriterReport {
  std::map<LONG, std::string> saved;
  int failures = -1;  // -1: the writer did not finish (killed)
};

WriterReport ReadReport(const std::string& path) {
  WriterReport report;
  std::ifstream in(path);
  std::string first, second;
  while (in >> first >> second) {
    if (first == "failures")
      report.failures = std::stoi(second);
    else
      report.saved[std::stol(first)] = second;
  }
  return report;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: soak_saves URL [WRITERS [SAVES]]\n");
    return 2;
  }
  const std::string url = argv[1];
  const int writers = argc > 2 ? std::atoi(argv[2]) : 8;
  const int saves = argc > 3 ? std::atoi(argv[3]) : 1000;
  const kvdemo::SqlDialect dialect = kvdemo::DialectOf(url);
  try {
    {
      ComPtr<IDispatch> session = bench::NewSession(url);
      CreateSchema(*bench::SessionConnection(session.Get()), dialect);
    }
    const auto started = Clock::now();
    std::vector<pid_t> children;
    for (int w = 0; w < writers; ++w) {
      const pid_t pid = fork();
      if (pid == 0) _exit(RunWriter(url, w, saves, ReportPath(w)));
      children.push_back(pid);
    }
    const std::string readerReport = ReportPath(-1);
    const pid_t reader = fork();
    if (reader == 0) _exit(RunReader(url, readerReport));

    // Writer 0 dies half way, without a chance to clean up.
    int firstStatus = 0;
    pid_t firstDone = 0;
    while (LinesIn(ReportPath(0)) < static_cast<size_t>(saves / 2) &&
           (firstDone = waitpid(children[0], &firstStatus, WNOHANG)) == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (firstDone == 0) kill(children[0], SIGKILL);

    int badExits = 0;
    for (size_t w = 0; w < children.size(); ++w) {
      int status = firstStatus;
      if (w != 0 || firstDone == 0) waitpid(children[w], &status, 0);
      const bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
      if (w == 0 ? !killed : !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) ++badExits;
    }
    std::ofstream(readerReport + ".stop") << "stop";
    int readerStatus = 0;
    waitpid(reader, &readerStatus, 0);
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();

    ComPtr<IDispatch> session = bench::NewSession(url);
    auto connection = bench::SessionConnection(session.Get());
    long reported = 0, failed = 0, missing = 0, wrong = 0;
    for (int w = 0; w < writers; ++w) {
      const WriterReport report = ReadReport(ReportPath(w));
      if (report.failures > 0) failed += report.failures;
      for (const auto& [id, text] : report.saved) {
        ++reported;
        CKvDbRowset rowset;
        rowset.Open(("SELECT strno FROM krorder WHERE lid=" + std::to_string(id)).c_str(),
                    connection.get(), -1, -1, 0);
        if (rowset.IsEOF())
          ++missing;
        else if (rowset.GetField(0)->GetStringValue() != text)
          ++wrong;
        rowset.MoveNext();
        if (!rowset.IsEOF()) ++wrong;  // the same id twice
      }
      std::remove(ReportPath(w).c_str());
    }
    const long orders = QueryLong(*connection, "SELECT COUNT(*) FROM krorder");
    const long languageRows = QueryLong(*connection, "SELECT COUNT(*) FROM krorder_l");
    const long orphans = QueryLong(
        *connection, "SELECT COUNT(*) FROM krorder_l WHERE lparentid NOT IN (SELECT lid FROM krorder)");
    const long partial = QueryLong(
        *connection,
        "SELECT COUNT(*) FROM krorder WHERE (SELECT COUNT(*) FROM krorder_l WHERE "
        "krorder_l.lparentid = krorder.lid) <> 2");
    const long duplicateTexts = QueryLong(
        *connection,
        "SELECT COUNT(*) FROM (SELECT strno FROM krorder GROUP BY strno HAVING COUNT(*) > 1) d");
    // PostgreSQL has no check of the whole database; its keys and the counts
    // above are what is checked there.
    std::string integrity = "not applicable";
    if (dialect == kvdemo::SqlDialect::SQLite) {
      CKvDbRowset check;
      check.Open("PRAGMA integrity_check", connection.get(), -1, -1, 0);
      integrity = check.IsEOF() ? "no answer" : check.GetField(0)->GetStringValue();
    }
    long pages = 0, readErrors = 0;
    std::ifstream(readerReport) >> pages >> readErrors;
    std::remove(readerReport.c_str());
    std::remove((readerReport + ".stop").c_str());

    std::printf("soak_saves %s: %d writers x %d saves, writer 0 killed half way, %.1f s\n",
                dialect == kvdemo::SqlDialect::SQLite       ? "sqlite"
                : dialect == kvdemo::SqlDialect::MariaDB ? "mariadb"
                                                         : "postgresql",
                writers, saves,
                seconds);
    std::printf("  reported saved %ld, failed saves %ld, orders %ld, language rows %ld\n", reported,
                failed, orders, languageRows);
    std::printf("  missing %ld, wrong or doubled %ld, orphan language rows %ld, orders without "
                "both languages %ld, doubled records %ld, integrity %s\n",
                missing, wrong, orphans, partial, duplicateTexts, integrity.c_str());
    std::printf("  reader: %ld pages, %ld errors; bad process exits %d\n", pages, readErrors, badExits);
    const bool ok = missing == 0 && wrong == 0 && orphans == 0 && partial == 0 &&
                    duplicateTexts == 0 &&
                    (integrity == "ok" || dialect != kvdemo::SqlDialect::SQLite) && readErrors == 0 && badExits == 0 &&
                    WIFEXITED(readerStatus) && WEXITSTATUS(readerStatus) == 0 &&
                    orders >= reported;
    std::printf("soak_saves %s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
  } catch (const CKvDbException& e) {
    std::fprintf(stderr, "soak_saves: %s\n", e.Message().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "soak_saves: %s\n", e.what());
  }
  return 1;
}
