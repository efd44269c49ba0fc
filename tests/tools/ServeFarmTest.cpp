// Two real `kvhost serve` processes sharing one --state database, as behind
// a balancer: what one keeps in a session or the application the other
// reads, Application.Lock holds across them, rows go when a session ends,
// a crashed process does not keep its lock, and a stopped one drains.
// Runs on an SQLite file and, when KV_TEST_PG names a server, on PostgreSQL.
#include <signal.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <httplib.h>

#include "KvServeProcess.h"
#include "state/VariantCodec.h"
#include "tests/fixture/Engines.h"

namespace {

class ServeFarm : public EngineTest, protected ServeSite {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped()) return;
    // The state store keeps to SQLite and PostgreSQL; the state shares the
    // application's database here.
    if (IsOdbc()) GTEST_SKIP() << "the state store runs on SQLite and PostgreSQL";
    m_db = TestDatabase::Create(GetParam());
    Page("keep.asp", R"(<% Session("n") = 42; Session("s") = "text ü"; Session("b") = true;
Session("d") = new Date(2024, 0, 2, 3, 4, 5); Session("a") = [1.5, "x", [true, null]]; Session.SignIn(7); %>kept)");
    Page("show.asp", R"(<% var a = Session("a"), d = Session("d"); %>n=<%= typeof Session("n") %>:<%= Session("n") %>|s=<%= Session("s") %>|b=<%= typeof Session("b") %>:<%= Session("b") %>|d=<%= d instanceof Date ? d.getFullYear() + "-" + d.getMonth() + "-" + d.getDate() + " " + d.getHours() + ":" + d.getMinutes() + ":" + d.getSeconds() : typeof d %>|a=<%= a ? a.length + ":" + a[0] + ":" + a[1] + ":" + typeof a[2][0] + ":" + a[2][1] : typeof a %>|user=<%= Session.UserId %>)");
    Page("bump.asp", R"(<% Session("n") = Session("n") + 1; %>n=<%= Session("n") %>)");
    Page("abandon.asp", "<% Session.Abandon(); %>gone");
    Page("count.asp", R"(<% var n = Number(Request("n"));
for (var i = 0; i < n; i++) { Application.Lock(); Application("c") = (Application("c") || 0) + 1; Application.Unlock(); }
%>c=<%= Application("c") %>)");
    Page("hold.asp", "<% Application.Lock(); while (true) {} %>");
    Page("slow.asp", R"(<% Application("started") = 1; while (Application("go") === undefined) {} %>done)");
    Page("slowbump.asp", R"(<% Application("started") = 1; while (Application("go") === undefined) {}
Session("n") = Session("n") + 1; %>n=<%= Session("n") %>)");
  }

  // Lets the pages waiting for Application("go") go on.
  void LetGo() {
    std::string go;
    ASSERT_TRUE(EncodeVariant(CComVariant::Bool(true), &go));
    m_db->Exec("INSERT INTO kvhost_application (name_key, kept) VALUES ('" + HexOf("go") + "', '" + HexOf(go) + "')");
  }

  // The state shares the application's database here; a file or server of
  // its own works alike.
  std::unique_ptr<ServeProcess> Start(const std::string& name, const std::vector<std::string>& more = {}) {
    std::vector<std::string> options{"--state", m_db->ConnectionString()};
    options.insert(options.end(), more.begin(), more.end());
    return StartServe(4, options, name);
  }

  std::string Get(const ServeProcess& server, const std::string& path, const std::string& cookie = "",
                  std::string* setCookie = nullptr) {
    httplib::Headers headers;
    if (!cookie.empty()) headers.emplace("Cookie", cookie);
    auto result = server.Client()->Get(path, headers);
    if (setCookie) *setCookie = SessionCookie(result);
    return Answer(result);
  }

  // Waits (bounded) until the state database shows what a process did.
  bool Eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 600; ++i) {
      if (condition()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  long Rows(const std::string& table, const std::string& where = "") { return m_db->Count(table, where); }
};

TEST_P(ServeFarm, ASessionKeptOnOneProcessIsReadOnTheOtherWithItsTypesAndItsUser) {
  auto a = Start("a"), b = Start("b");
  EXPECT_EQ(Get(*b, "/show.asp"), "200 n=undefined:|s=|b=undefined:|d=undefined|a=undefined|user=0");
  EXPECT_EQ(Rows("kvhost_sessions"), 0) << "a session nothing was kept in is not stored";

  std::string cookie;
  EXPECT_EQ(Get(*a, "/keep.asp", "", &cookie), "200 kept");
  ASSERT_FALSE(cookie.empty());
  const std::string shown = "200 n=number:42|s=text ü|b=boolean:true|d=2024-0-2 3:4:5|a=3:1.5:x:boolean:null|user=7";
  EXPECT_EQ(Get(*b, "/show.asp", cookie), shown);
  EXPECT_EQ(Rows("kvhost_sessions"), 1);

  // A change on one is what the other reads next, both ways.
  EXPECT_EQ(Get(*b, "/bump.asp", cookie), "200 n=43");
  EXPECT_EQ(Get(*a, "/bump.asp", cookie), "200 n=44");
  EXPECT_EQ(Get(*b, "/show.asp", cookie).substr(0, 20), "200 n=number:44|s=te");
}

TEST_P(ServeFarm, ApplicationLockMakesTheIncrementsOfTwoProcessesExact) {
  auto a = Start("a"), b = Start("b");
  std::string fromA, fromB;
  std::thread first([&] { fromA = Get(*a, "/count.asp?n=300"); });
  std::thread second([&] { fromB = Get(*b, "/count.asp?n=300"); });
  first.join();
  second.join();
  EXPECT_EQ(fromA.substr(0, 6), "200 c=") << fromA;
  EXPECT_EQ(fromB.substr(0, 6), "200 c=") << fromB;
  EXPECT_EQ(Get(*a, "/count.asp?n=0"), "200 c=600");
  EXPECT_EQ(Rows("kvhost_locks"), 0) << "every lock was given up";
}

TEST_P(ServeFarm, ASessionsRequestOnAnotherProcessWaitsItsTurnOrIsToldTheSessionIsBusy) {
  auto a = Start("a"), b = Start("b", {"--script-timeout", "1"});
  std::string cookie;
  Get(*a, "/keep.asp", "", &cookie);
  std::string slow;
  std::thread page([&] { slow = Get(*a, "/slowbump.asp", cookie); });
  ASSERT_TRUE(Eventually([&] { return Rows("kvhost_application") == 1; }));
  const std::string busy = Get(*b, "/bump.asp", cookie);
  EXPECT_EQ(busy.substr(0, 3), "503");
  EXPECT_NE(busy.find("Another request of this session is still running"), std::string::npos) << busy;
  LetGo();
  page.join();
  EXPECT_EQ(slow, "200 n=43");
  EXPECT_EQ(Get(*b, "/bump.asp", cookie), "200 n=44") << "the refused request changed nothing";
}

// --max-sessions counts the sessions every process keeps: while that many
// are live a request that would start one is refused on any process, and
// an expired or abandoned one makes room. An expired session is not read
// and the sweep deletes its row; an abandoned one's goes at once.
TEST_P(ServeFarm, MaxSessionsBoundsTheSessionsOfAllProcesses) {
  auto a = Start("a", {"--max-sessions", "1"}), b = Start("b", {"--max-sessions", "1"});
  std::string cookie;
  EXPECT_EQ(Get(*a, "/keep.asp", "", &cookie), "200 kept");
  const std::string full = Get(*b, "/keep.asp");
  EXPECT_EQ(full.substr(0, 3), "503") << full;
  EXPECT_NE(full.find("The server keeps as many sessions as it may (1); try again later."), std::string::npos)
      << full;
  EXPECT_EQ(Get(*b, "/bump.asp", cookie), "200 n=43") << "a kept session goes on";
  EXPECT_EQ(Rows("kvhost_sessions"), 1);

  m_db->Exec("UPDATE kvhost_sessions SET expires_ms = 1");
  EXPECT_EQ(Get(*b, "/show.asp", cookie).substr(0, 18), "200 n=undefined:|s");
  EXPECT_EQ(Get(*b, "/keep.asp", cookie, &cookie), "200 kept") << "an expired session is none";
  EXPECT_EQ(Get(*a, "/keep.asp").substr(0, 3), "503");
  EXPECT_EQ(Get(*a, "/abandon.asp", cookie), "200 gone");
  EXPECT_EQ(Rows("kvhost_sessions", "expires_ms > 1"), 0) << "the abandoned session's row goes at once";
  EXPECT_TRUE(Eventually([&] { return Rows("kvhost_sessions") == 0; })) << "the expired one's is swept";
  EXPECT_EQ(Get(*a, "/keep.asp"), "200 kept");
}

TEST_P(ServeFarm, AProcessKilledWhileHoldingTheApplicationLockDoesNotKeepIt) {
  auto a = Start("a", {"--script-timeout", "300"});
  auto b = Start("b", {"--script-timeout", "60"});
  std::thread holder([&] { Get(*a, "/hold.asp"); });
  EXPECT_TRUE(Eventually([&] { return Rows("kvhost_locks", "name = 'application'") == 1; }));
  a->Signal(SIGKILL);
  a->Wait();
  holder.join();
  // Without the takeover this waits out its page's time and fails.
  EXPECT_EQ(Get(*b, "/count.asp?n=1"), "200 c=1");
}

TEST_P(ServeFarm, SigtermFinishesThePageInHandWhileTheHealthAddressSays503) {
  auto a = Start("a");
  EXPECT_EQ(Get(*a, "/.kvhost/health").substr(0, 3), "200");
  std::string slow;
  std::thread page([&] { slow = Get(*a, "/slow.asp"); });
  ASSERT_TRUE(Eventually([&] { return Rows("kvhost_application") == 1; }));
  a->Signal(SIGTERM);
  EXPECT_TRUE(Eventually([&] { return Get(*a, "/.kvhost/health").substr(0, 3) == "503"; }));
  EXPECT_TRUE(a->Alive()) << "the page in hand is still running";

  // The page may finish now: it gets its answer and the server exits 0.
  LetGo();
  page.join();
  EXPECT_EQ(slow, "200 done");
  EXPECT_EQ(a->Wait(), 0);
}

TEST(ServeFarmState, AStateDatabaseItCannotUseStopsTheServerBeforeItServes) {
  KvHostWorkspace ws;
  ws.Write("site/index.asp", "x");
  KvHostRun odbc = ws.Run({"serve", "--root", ws.Dir() + "/site", "--port", "0", "--state", "odbc:DSN=x"});
  EXPECT_EQ(odbc.status, 2);
  EXPECT_NE(odbc.err.find("--state takes an SQLite"), std::string::npos) << odbc.err;
  KvHostRun missing = ws.Run({"serve", "--root", ws.Dir() + "/site", "--port", "0", "--db",
                              "sqlite:" + ws.Dir() + "/app.db?mode=rwc", "--state",
                              "sqlite:" + ws.Dir() + "/no/such/dir/state.db"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("cannot open the state database"), std::string::npos) << missing.err;
}

}  // namespace

KV_ON_BOTH_ENGINES(ServeFarm);
