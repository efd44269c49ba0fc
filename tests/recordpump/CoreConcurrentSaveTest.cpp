// Several processes inserting into one table of one database file at once:
// ids are picked as MAX(lid)+1 without a lock, so writers collide, and every
// collision must end in a retry, never in a lost or doubled record.
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CorePumpFixture.h"

namespace {

constexpr int kWriters = 4;
constexpr int kRecordsPerWriter = 500;

void WriteAll(int fd, const std::string& text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t n = write(fd, p, left);
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

// Runs in the child: saves the records, each marked with the writer's number,
// and reports one line per saved id, then "failures N collisions N".
void RunWriter(TestDatabase& db, int writer, int fd) {
  int failures = 0;
  int collisions = 0;
  {
    TraceCapture trace;
    ComPtr<IDispatch> session = db.NewSession(writer + 1);
    ComPtr<IKvDataPump> pump;
    if (FAILED(CKvDataPump::CreateInstance(IKvDataPump::kIid, pump.ReleaseAndGetVoidAddress())) ||
        FAILED(pump->Init(session.Get(), kOrderEditForm))) {
      WriteAll(fd, "failures 1 collisions 0\n");
      return;
    }
    CComBSTR strno("strno");
    CComBSTR lamount("lamount");
    for (int i = 0; i < kRecordsPerWriter; ++i) {
      pump->CleanFieldValues();
      pump->SetFieldValue(strno.Get(), Str("w" + std::to_string(writer) + "-" + std::to_string(i)));
      pump->SetFieldValue(lamount.Get(), I4(writer));
      LONG id = -1;
      if (pump->SaveFieldValues(&id) != S_OK || id <= 0) {
        ++failures;
        continue;
      }
      WriteAll(fd, std::to_string(id) + "\n");
    }
    for (const auto& line : trace.Lines()) {
      if (line.text.rfind("Data save collision. ID: ", 0) == 0) {
        ++collisions;
      } else if (!line.heading) {
        ++failures;  // any other report is a failure of the save
        WriteAll(fd, "trace " + line.text);
      }
    }
  }
  WriteAll(fd, "failures " + std::to_string(failures) + " collisions " +
                   std::to_string(collisions) + "\n");
}

struct WriterReport {
  std::vector<long> ids;
  int failures = -1;
  int collisions = 0;
  std::string other;
};

WriterReport ParseReport(const std::string& text) {
  WriterReport report;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("failures ", 0) == 0) {
      std::sscanf(line.c_str(), "failures %d collisions %d", &report.failures, &report.collisions);
    } else if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) {
      report.ids.push_back(std::stol(line));
    } else {
      report.other += line + "\n";
    }
  }
  return report;
}

TEST(CoreConcurrentSave, FourProcessesSaveEveryRecordOnceUnderItsOwnId) {
  std::unique_ptr<TestDatabase> db = TestDatabase::Create();
  ASSERT_TRUE(db);

  std::vector<pid_t> pids;
  std::vector<int> fds;
  for (int writer = 0; writer < kWriters; ++writer) {
    int pipeFds[2];
    ASSERT_EQ(0, pipe(pipeFds));
    const pid_t pid = fork();
    ASSERT_NE(-1, pid);
    if (pid == 0) {
      close(pipeFds[0]);
      for (int fd : fds) close(fd);
      RunWriter(*db, writer, pipeFds[1]);
      close(pipeFds[1]);
      _exit(0);  // no test teardown, no exit handlers in the child
    }
    close(pipeFds[1]);
    pids.push_back(pid);
    fds.push_back(pipeFds[0]);
  }

  std::vector<WriterReport> reports;
  for (int writer = 0; writer < kWriters; ++writer) {
    reports.push_back(ParseReport(ReadAll(fds[writer])));
    close(fds[writer]);
    int status = 0;
    ASSERT_EQ(pids[writer], waitpid(pids[writer], &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer " << writer;
  }

  int collisions = 0;
  std::set<long> allIds;
  for (int writer = 0; writer < kWriters; ++writer) {
    const WriterReport& report = reports[writer];
    EXPECT_EQ(0, report.failures) << "writer " << writer << "\n" << report.other;
    EXPECT_EQ(static_cast<size_t>(kRecordsPerWriter), report.ids.size()) << "writer " << writer;
    collisions += report.collisions;
    allIds.insert(report.ids.begin(), report.ids.end());

    // The ids a writer was given are exactly the rows carrying its mark.
    std::vector<long> reported = report.ids;
    std::sort(reported.begin(), reported.end());
    const std::string mark = "lamount=" + std::to_string(writer);
    ASSERT_EQ(static_cast<long>(reported.size()), db->Count("krorder", mark));
    for (long id : reported) {
      ASSERT_EQ(writer, db->QueryLong("SELECT lamount FROM krorder WHERE lid=" + std::to_string(id)))
          << "id " << id;
    }
  }
  EXPECT_EQ(static_cast<size_t>(kWriters * kRecordsPerWriter), allIds.size());
  EXPECT_EQ(kWriters * kRecordsPerWriter, db->Count("krorder"));
  EXPECT_EQ(kWriters * kRecordsPerWriter,
            db->QueryLong("SELECT COUNT(DISTINCT lid) FROM krorder"));
  EXPECT_EQ(kWriters * kRecordsPerWriter,
            db->QueryLong("SELECT COUNT(DISTINCT strno) FROM krorder"));
  // Competing writers did meet: some saves were refused and retried.
  EXPECT_GT(collisions, 0);
  ::testing::Test::RecordProperty("collisions", collisions);
}

}  // namespace
