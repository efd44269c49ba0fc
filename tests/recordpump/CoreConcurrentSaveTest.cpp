// Several processes inserting into one table of one database file at once:
// ids are picked as MAX(lid)+1 without a lock, so writers collide, and every
// collision must end in a retry, never in a lost or doubled record.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "CorePumpFixture.h"

namespace {

constexpr int kWriters = 4;
constexpr int kRecordsPerWriter = 500;

// What a writer sends back through its pipe: the ids it was given, then its
// count of failed saves and of collision lines in its trace.
struct WriterReport {
  std::vector<LONG> ids;
  int failures = 0;
  int collisions = 0;
};

// Runs in the child: saves the records, each marked with the writer's number.
WriterReport RunWriter(TestDatabase& db, int writer) {
  WriterReport report;
  TraceCapture trace;
  ComPtr<IDispatch> session = db.NewSession(writer + 1);
  ComPtr<IKvDataPump> pump;
  if (FAILED(CKvDataPump::CreateInstance(IKvDataPump::kIid, pump.ReleaseAndGetVoidAddress())) ||
      FAILED(pump->Init(session.Get(), kOrderEditForm))) {
    report.failures = kRecordsPerWriter;
    return report;
  }
  CComBSTR strno("strno"), lamount("lamount");
  for (int i = 0; i < kRecordsPerWriter; ++i) {
    pump->CleanFieldValues();
    pump->SetFieldValue(strno.Get(), Str("w" + std::to_string(writer) + "-" + std::to_string(i)));
    pump->SetFieldValue(lamount.Get(), I4(writer));
    LONG id = -1;
    if (pump->SaveFieldValues(&id) == S_OK && id > 0) {
      report.ids.push_back(id);
    } else {
      ++report.failures;
    }
  }
  for (const auto& line : trace.Lines()) {
    if (line.text.rfind("Data save collision. ID: ", 0) == 0) {
      ++report.collisions;
    } else if (!line.heading) {
      ++report.failures;  // any other report is a failure of the save
    }
  }
  return report;
}

void Send(int fd, const WriterReport& report) {
  const int header[3] = {static_cast<int>(report.ids.size()), report.failures, report.collisions};
  if (write(fd, header, sizeof header) != sizeof header) return;
  const ssize_t bytes = static_cast<ssize_t>(report.ids.size() * sizeof(LONG));
  if (bytes > 0 && write(fd, report.ids.data(), static_cast<size_t>(bytes)) != bytes) return;
}

bool ReadFully(int fd, void* data, size_t size) {
  auto* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = read(fd, p, size);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool Receive(int fd, WriterReport* report) {
  int header[3];
  if (!ReadFully(fd, header, sizeof header)) return false;
  report->ids.resize(static_cast<size_t>(header[0]));
  report->failures = header[1];
  report->collisions = header[2];
  return ReadFully(fd, report->ids.data(), report->ids.size() * sizeof(LONG));
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
      Send(pipeFds[1], RunWriter(*db, writer));
      _exit(0);  // no test teardown, no exit handlers in the child
    }
    close(pipeFds[1]);
    pids.push_back(pid);
    fds.push_back(pipeFds[0]);
  }

  std::vector<WriterReport> reports(kWriters);
  for (int writer = 0; writer < kWriters; ++writer) {
    EXPECT_TRUE(Receive(fds[writer], &reports[writer])) << "writer " << writer;
    close(fds[writer]);
    int status = 0;
    ASSERT_EQ(pids[writer], waitpid(pids[writer], &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer " << writer;
  }

  int collisions = 0;
  std::set<LONG> allIds;
  for (int writer = 0; writer < kWriters; ++writer) {
    const WriterReport& report = reports[writer];
    EXPECT_EQ(0, report.failures) << "writer " << writer;
    EXPECT_EQ(static_cast<size_t>(kRecordsPerWriter), report.ids.size()) << "writer " << writer;
    collisions += report.collisions;
    allIds.insert(report.ids.begin(), report.ids.end());
    // The ids a writer was given are exactly the rows carrying its mark.
    const std::string mark = "lamount=" + std::to_string(writer);
    EXPECT_EQ(static_cast<long>(report.ids.size()), db->Count("krorder", mark));
    for (LONG id : report.ids) {
      ASSERT_EQ(writer, db->QueryLong("SELECT lamount FROM krorder WHERE lid=" + std::to_string(id)))
          << "id " << id;
    }
  }
  EXPECT_EQ(static_cast<size_t>(kWriters * kRecordsPerWriter), allIds.size());
  EXPECT_EQ(kWriters * kRecordsPerWriter, db->Count("krorder"));
  EXPECT_EQ(kWriters * kRecordsPerWriter, db->QueryLong("SELECT COUNT(DISTINCT strno) FROM krorder"));
  // Competing writers did meet: some saves were refused and retried.
  EXPECT_GT(collisions, 0);
  ::testing::Test::RecordProperty("collisions", collisions);
}

}  // namespace
