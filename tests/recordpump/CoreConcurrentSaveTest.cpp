// Several processes inserting into one table of one database file at once:
// ids are picked as MAX(lid)+1 without a lock, so writers collide, and every
// collision must end in a retry, never in a lost or doubled record.
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "pump_fixtures.h"

namespace {

constexpr int kWriters = 4;
constexpr int kRecordsPerWriter = 500;

// Runs in a child: saves the records, each marked with the writer's number,
// and checks that every id it was given holds its own record. Exit codes:
// 0 saved all and met a collision, 1 saved all without one, 2 anything else.
int RunWriter(TestDatabase& db, int writer) {
  TraceCapture trace;
  ComPtr<IDispatch> session = db.NewSession(writer + 1);
  ComPtr<IKvDataPump> pump;
  if (FAILED(CKvDataPump::CreateInstance(IKvDataPump::kIid, pump.ReleaseAndGetVoidAddress())) ||
      FAILED(pump->Init(session.Get(), kOrderEditForm)))
    return 2;
  CComBSTR strno("strno"), lamount("lamount");
  std::vector<LONG> ids;
  for (int i = 0; i < kRecordsPerWriter; ++i) {
    pump->CleanFieldValues();
    pump->SetFieldValue(strno.Get(), Str("w" + std::to_string(writer) + "-" + std::to_string(i)));
    pump->SetFieldValue(lamount.Get(), I4(writer));
    LONG id = -1;
    if (pump->SaveFieldValues(&id) != S_OK || id <= 0) return 2;
    ids.push_back(id);
  }
  for (LONG id : ids)
    if (db.QueryLong("SELECT lamount FROM krorder WHERE lid=" + std::to_string(id)) != writer) return 2;
  bool collided = false;
  for (const auto& line : trace.Lines()) {
    if (line.text.rfind("Data save collision. ID: ", 0) == 0) {
      collided = true;
    } else if (!line.heading) {
      return 2;  // any other report is a failure of the save
    }
  }
  return collided ? 0 : 1;
}

TEST(CoreConcurrentSave, FourProcessesSaveEveryRecordOnceUnderItsOwnId) {
  std::unique_ptr<TestDatabase> db = TestDatabase::Create();
  ASSERT_TRUE(db);
  std::vector<pid_t> pids;
  for (int writer = 0; writer < kWriters; ++writer) {
    const pid_t pid = fork();
    ASSERT_NE(-1, pid);
    if (pid == 0) _exit(RunWriter(*db, writer));  // no test teardown, no exit handlers in the child
    pids.push_back(pid);
  }
  int collided = 0;
  for (int writer = 0; writer < kWriters; ++writer) {
    int status = 0;
    ASSERT_EQ(pids[writer], waitpid(pids[writer], &status, 0));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) < 2) << "writer " << writer;
    if (WEXITSTATUS(status) == 0) ++collided;
    EXPECT_EQ(kRecordsPerWriter, db->Count("krorder", "lamount=" + std::to_string(writer)));
  }
  EXPECT_EQ(kWriters * kRecordsPerWriter, db->Count("krorder"));
  EXPECT_EQ(kWriters * kRecordsPerWriter, db->QueryLong("SELECT COUNT(DISTINCT strno) FROM krorder"));
  // Competing writers did meet: some saves were refused and retried.
  EXPECT_GT(collided, 0);
}

}  // namespace
