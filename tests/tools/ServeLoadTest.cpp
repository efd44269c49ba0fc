// The load check of kvhost serve (it counts, it does not time): 8 clients on
// keep-alive connections send 500 requests each, a mix of list, read and
// save pages, against one database. No request may fail and every saved row
// must be there exactly once. Runs on SQLite and, when KV_TEST_PG names a
// server, on PostgreSQL; bench/serve-load runs it alone and shows its counts.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "KvServeProcess.h"
#include "tests/fixture/Engines.h"

namespace {

constexpr int kClients = 8;
constexpr int kRequestsPerClient = 500;
constexpr int kSeedOrders = 25;

class ServeLoad : public EngineTest, protected ServeSite {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    if (IsSkipped()) return;
    m_db = TestDatabase::Create(GetParam());
    for (int i = 1; i <= kSeedOrders; ++i) {
      m_db->Exec("INSERT INTO krorder (lid, dtedit, luserid, lownerid, lparentid, strno, strcolor, strstate, "
                 "lamount, dblprice) VALUES (" + std::to_string(i) + ", '2024-03-01 09:00:00', 1, -1, 0, 'S" +
                 std::to_string(i) + "', 'red', '2', 1, 2.5)");
    }
    Page("list.asp", R"(<% var list = Server.CreateObject("KvHtmlDbTools.KvDRPump");
var page = Number(Request("page") || 0);
var total = list.Init(Session, "SELECT lid, strno, strcolor FROM krorder", "ORDER BY strno", page * 10, true);
for (var row = 0; row < 10 && !list.IsEOF; row++) { %><tr><td><%= list.Value("strno") %></td><td><%= list.ValueEx("strcolor", 1031) %></td></tr>
<% list.MoveNext(); }
list.Close(); %>total=<%= total %>)");
    Page("read.asp", R"(<% var pump = Server.CreateObject("KvHtmlDbTools.KvDataPump");
pump.Init(Session, 100);
pump.MoveTo(Number(Request("lid")));
%>no=<%= pump.ValueByFieldName("strno", "") %>)");
    Page("token.asp", "<%= Session.Token %>");
    Page("save.asp", R"(<% var pump = Server.CreateObject("KvHtmlDbTools.KvDataPump");
pump.Init(Session, 100);
pump.CleanFieldValues();
pump.SetFieldValue("strno", Request.Form("strno"));
pump.SetFieldValue("strcolor", "blue");
pump.SetFieldValue("strstate", "2");
pump.SetFieldValue("lownerid", -1);
pump.SetFieldValue("lparentid", 0);
pump.SetFieldValue("luserid", 1);
pump.SetFieldValue("dtedit", new Date());
pump.SetFieldValueEx("strtitle", 1031, "Last " + Request.Form("strno"));
%>saved=<%= pump.SaveFieldValues() %>)");
  }
};

struct ClientCounts {
  int ok = 0, serverErrors = 0, otherStatus = 0, transportErrors = 0, saves = 0;
};

void RunClient(const ServeProcess& server, int client, ClientCounts* counts) {
  auto http = server.Client();
  // Saves carry the session's anti-forgery token, as a form would.
  const ServeSession session = OpenSession(*http, "/token.asp");
  const httplib::Headers cookie{{"Cookie", session.cookie}};
  for (int i = 0; i < kRequestsPerClient; ++i) {
    const int kind = i % 5;
    if (kind == 4) ++counts->saves;
    httplib::Result result =
        kind == 0   ? http->Get("/list.asp?page=" + std::to_string(i % 3), cookie)
        : kind == 4 ? http->Post("/save.asp", cookie,
                                 "strno=L" + std::to_string(client) + "-" + std::to_string(i) +
                                     "&kvtoken=" + session.token,
                                 "application/x-www-form-urlencoded")
                    : http->Get("/read.asp?lid=" + std::to_string(1 + (client * 7 + i) % kSeedOrders), cookie);
    if (!result) ++counts->transportErrors;
    else if (result->status >= 500) ++counts->serverErrors;
    else if (result->status != 200) ++counts->otherStatus;
    else ++counts->ok;
  }
}

}  // namespace

TEST_P(ServeLoad, EightKeepAliveClientsMixingListReadAndSaveLoseNothing) {
  const std::unique_ptr<ServeProcess> running = StartServe(4);
  const ServeProcess& server = *running;
  ASSERT_GT(server.Port(), 0);
  std::vector<ClientCounts> counts(kClients);
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) clients.emplace_back(RunClient, std::cref(server), c, &counts[c]);
  for (std::thread& t : clients) t.join();

  ClientCounts total;
  for (const ClientCounts& c : counts) {
    total.ok += c.ok;
    total.serverErrors += c.serverErrors;
    total.otherStatus += c.otherStatus;
    total.transportErrors += c.transportErrors;
    total.saves += c.saves;
  }
  const long saved = m_db->Count("krorder", "strno LIKE 'L%'");
  const long distinct = m_db->QueryLong("SELECT COUNT(DISTINCT strno) FROM krorder WHERE strno LIKE 'L%'");
  const long titles = m_db->Count("krorder_l", "strtitle LIKE 'Last L%' AND llcid = 1031");
  std::printf("serve load (%s): %d requests by %d clients, %d ok, %d server errors, %d other, %d failed; "
              "%d saves, %ld rows, %ld distinct, %ld German titles\n",
              GetParam() == TestDatabase::Engine::SQLite ? "SQLite" : "PostgreSQL", kClients * kRequestsPerClient,
              kClients, total.ok, total.serverErrors, total.otherStatus, total.transportErrors, total.saves, saved,
              distinct, titles);
  EXPECT_EQ(total.ok, kClients * kRequestsPerClient);
  EXPECT_EQ(total.serverErrors, 0);
  EXPECT_EQ(total.transportErrors, 0);
  EXPECT_EQ(saved, total.saves);
  EXPECT_EQ(distinct, total.saves);
  EXPECT_EQ(titles, total.saves);
  EXPECT_EQ(running->Stop(), 0);
  if (total.serverErrors) ADD_FAILURE() << server.Log().substr(0, 4000);
}

KV_ON_BOTH_ENGINES(ServeLoad);
