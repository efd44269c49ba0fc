// kvhost serve against a hostile client: requests from other sites and
// without the session's token, ranges, slow and flooding clients, bodies
// over the limit in each encoding, unknown methods, and error pages. A real
// server process on a free port and the real component on a fresh database.
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <httplib.h>

#include "KvServeProcess.h"
#include "tests/fixture/TestDatabase.h"

namespace {

constexpr int kWaitMs = 20000;

std::string FileContent() {
  std::string content;
  for (int i = 0; content.size() < 1000; ++i) content += std::to_string(i % 10);
  return content;
}

// Sends request on a connection of its own and returns all the server
// sent until it closed the connection.
std::string Exchange(int port, const std::string& request) {
  RawConnection connection("127.0.0.1", port);
  std::string received;
  if (!connection.Send(request)) return "";
  connection.ClosedByServer(kWaitMs, &received);
  return received;
}

int StatusOf(const std::string& answer) {
  std::smatch status;
  return std::regex_search(answer, status, std::regex("^HTTP/1\\.1 ([0-9]{3}) ")) ? std::stoi(status[1]) : 0;
}

class KvServeSafety : public ::testing::Test, protected ServeSite {
 protected:
  void SetUp() override {
    m_db = TestDatabase::Create();
    AddOrderA1();
    Page("token.asp", "<%= Session.Token %>");
    Page("rename.asp", R"(<% var pump = Server.CreateObject("KvHtmlDbTools.KvDataPump");
pump.Init(Session, 100);
pump.SetFieldValue("lid", 1);
pump.SetFieldValue("strno", Request.Form("strno"));
%>saved=<%= pump.SaveFieldValues() %>)");
    Page("plain.asp", "hello");
    Page("keep.asp", "<% Session(\"x\") = 1; %>kept");
    Page("signin.asp", "<% Session.SignIn(2); %><%= Session(\"x\") %>");
    Page("memo.asp", "<%= Request.Form(\"memo\").length %>");
    Page("boom.asp", "<% var a = null;\n a.nosuch; %>");
    Page("style.css", FileContent());
  }

  std::unique_ptr<ServeProcess> Start(const std::vector<std::string>& more = {}) { return StartServe(1, more); }

  bool OrderNoIs(const std::string& no) { return m_db->Count("krorder", "lid = 1 AND strno = '" + no + "'") == 1; }
};

TEST_F(KvServeSafety, RequestsFromOtherSitesOrWithoutTheSessionsTokenChangeNothing) {
  auto server = Start();
  auto client = server->Client();
  const ServeSession session = OpenSession(*client, "/token.asp");
  ASSERT_EQ(session.token.size(), 32u);
  const ServeSession other = OpenSession(*client, "/token.asp");
  const std::string self = "http://127.0.0.1:" + std::to_string(server->Port());
  const std::string form = "strno=B2&kvtoken=";
  struct Refused {
    httplib::Headers headers;
    std::string body;
  };
  const std::vector<Refused> refused = {
      // Which headers tell another site is CrossSite's table.
      {{{"Cookie", session.cookie}, {"Origin", "http://evil.example"}}, form + session.token},
      {{{"Cookie", session.cookie}, {"Origin", self}}, "strno=B2"},
      {{{"Cookie", session.cookie}, {"Origin", self}}, form + std::string(32, '0')},
      {{{"Cookie", session.cookie}, {"Origin", self}}, form + other.token},
      {{{"Origin", self}}, form + session.token},
  };
  for (const Refused& attempt : refused)
    EXPECT_EQ(Answer(client->Post("/rename.asp", attempt.headers, attempt.body, "application/x-www-form-urlencoded"))
                  .substr(0, 4), "403 ") << attempt.body;
  for (const char* method : {"PUT", "PATCH", "DELETE"}) {
    const std::string answer =
        Exchange(server->Port(), std::string(method) + " /rename.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " +
                                     session.cookie + "\r\nOrigin: http://evil.example\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(StatusOf(answer), 403) << method;
  }
  EXPECT_TRUE(OrderNoIs("A1"));

  // The page's own form, and a page's script sending the token as a header.
  EXPECT_EQ(Answer(client->Post("/rename.asp", {{"Cookie", session.cookie}, {"Origin", self}}, form + session.token,
                                "application/x-www-form-urlencoded")), "200 saved=1");
  EXPECT_TRUE(OrderNoIs("B2"));
  EXPECT_EQ(Answer(client->Post("/rename.asp", {{"Cookie", session.cookie}, {"X-KV-Token", session.token}},
                                "strno=B3", "application/x-www-form-urlencoded")), "200 saved=1");
  EXPECT_TRUE(OrderNoIs("B3"));
}

TEST_F(KvServeSafety, RangesAreServedForFilesOnlyAndOnlyAFewNonOverlappingOnes) {
  auto server = Start();
  auto client = server->Client();
  const std::string content = FileContent();
  auto one = client->Get("/style.css", {{"Range", "bytes=10-19"}});
  EXPECT_EQ(Answer(one), "206 " + content.substr(10, 10));
  EXPECT_EQ(Header(one, "Content-Range"), "bytes 10-19/1000");

  auto two = client->Get("/style.css", {{"Range", "bytes=0-1,990-"}});
  EXPECT_EQ(Header(two, "Content-Type").rfind("multipart/byteranges; boundary=", 0), 0u);
  EXPECT_EQ(Answer(two).substr(0, 4), "206 ");
  EXPECT_NE(Answer(two).find("Content-Range: bytes 0-1/1000\r\n\r\n" + content.substr(0, 2) + "\r\n"),
            std::string::npos);
  EXPECT_NE(Answer(two).find("Content-Range: bytes 990-999/1000\r\n\r\n" + content.substr(990) + "\r\n"),
            std::string::npos);

  // Which ranges are served (none of a thousand, say) is ByteRanges' table.
  auto beyond = client->Get("/style.css", {{"Range", "bytes=5000-"}});
  EXPECT_EQ(Answer(beyond).substr(0, 4), "416 ");
  EXPECT_EQ(Header(beyond, "Content-Range"), "bytes */1000");

  EXPECT_EQ(Answer(client->Get("/plain.asp", {{"Range", "bytes=0-1"}})), "200 hello");
}

TEST_F(KvServeSafety, SlowClientsHoldNoWorkerWhileTheyAreStillConnected) {
  auto server = Start();
  // A hundred clients from different addresses, each stuck in its head.
  std::vector<std::unique_ptr<RawConnection>> slow;
  for (int i = 0; i < 100; ++i) {
    slow.push_back(std::make_unique<RawConnection>("127.0.0." + std::to_string(2 + i), server->Port()));
    ASSERT_TRUE(slow.back()->Connected()) << i;
    ASSERT_TRUE(slow.back()->Send("GET /plain.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: "));
  }
  EXPECT_EQ(Answer(server->Client()->Get("/plain.asp")), "200 hello");
  int open = 0;
  for (auto& connection : slow) open += connection->ClosedByServer(0) ? 0 : 1;
  EXPECT_EQ(open, 100);
}

// A client that asks for page after page on one connection and reads none
// of the answers fills the socket's buffers; the page whose answer cannot
// go out then must not keep the one page slot while it waits.
TEST_F(KvServeSafety, AClientThatReadsNoAnswerHoldsNoPageSlot) {
  Page("small.asp", "<%= new Array(4001).join('x') %>");
  auto server = Start();  // one page slot
  RawConnection greedy("127.0.0.1", server->Port());
  std::string requests;
  for (int i = 0; i < 1500; ++i) requests += "GET /small.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  ASSERT_TRUE(greedy.Send(requests));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(Answer(server->Client()->Get("/plain.asp")), "200 hello");
}

TEST_F(KvServeSafety, ConnectionsPerAddressAreBoundedAndHeadsAndBodiesHaveDeadlines) {
  auto server = Start({"--connections-per-client", "2", "--head-timeout", "1", "--body-timeout", "1"});
  RawConnection first("127.0.0.200", server->Port()), second("127.0.0.200", server->Port());
  ASSERT_TRUE(first.Connected() && second.Connected());
  ASSERT_FALSE(first.ClosedByServer(200));
  RawConnection third("127.0.0.200", server->Port());
  EXPECT_TRUE(third.ClosedByServer(kWaitMs));
  EXPECT_EQ(Answer(server->Client()->Get("/plain.asp")), "200 hello");

  // A byte now and then never completes the head, nor does a body that
  // stops arriving: both connections are ended, whatever they still send.
  RawConnection dripping("127.0.0.201", server->Port());
  RawConnection stalled("127.0.0.202", server->Port());
  ASSERT_TRUE(stalled.Send("POST /memo.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100\r\n\r\nmemo="));
  bool dripClosed = false;
  for (int i = 0; i < 100 && !dripClosed; ++i) dripClosed = !dripping.Send("X") || dripping.ClosedByServer(200);
  EXPECT_TRUE(dripClosed);
  EXPECT_TRUE(stalled.ClosedByServer(kWaitMs));
}

TEST_F(KvServeSafety, HeadsAndBodiesOverTheirLimitsAreRefusedWithAnAnswerThatSaysWhat) {
  auto server = Start({"--body-limit", "4KB"});
  auto client = server->Client();
  // Too many fields: counted by the server, or, when they do not even fit
  // the connection's memory, refused by the HTTP library.
  for (int fields : {500, 5000}) {
    std::string flood = "GET /plain.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    for (int i = 0; i < fields; ++i) flood += "X-" + std::to_string(i) + ": 1\r\n";
    const std::string answer = Exchange(server->Port(), flood + "\r\n");
    EXPECT_EQ(StatusOf(answer), 431) << answer.substr(0, 300);
    if (fields == 500) {
      EXPECT_NE(answer.find("at most 100 header fields"), std::string::npos) << answer;
    }
  }
  std::string answer;
  answer = Exchange(server->Port(), "GET /plain.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nX-Big: " +
                                        std::string(20000, 'b') + "\r\n\r\n");
  EXPECT_EQ(StatusOf(answer), 431) << answer.substr(0, 300);

  const std::string memo(5000, 'm');
  const std::string urlencoded = Answer(client->Post("/memo.asp", "memo=" + memo, "application/x-www-form-urlencoded"));
  EXPECT_EQ(urlencoded.rfind("413 ", 0), 0u) << urlencoded;
  EXPECT_NE(urlencoded.find("at most 4 KB"), std::string::npos) << urlencoded;
  EXPECT_EQ(Answer(client->Post("/memo.asp", httplib::MultipartFormDataItems{{"memo", memo, "", ""}})).substr(0, 4),
            "413 ");
  answer = Exchange(server->Port(),
                    "POST /memo.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                    "Content-Type: application/x-www-form-urlencoded\r\nTransfer-Encoding: chunked\r\n\r\n"
                    "1388\r\nmemo=" + memo.substr(5) + "\r\n0\r\n\r\n");
  EXPECT_EQ(StatusOf(answer), 413) << answer.substr(0, 300);
  EXPECT_NE(answer.find("at most 4 KB"), std::string::npos);

  // Under the limit, in each encoding, the page gets the whole value.
  const ServeSession session = OpenSession(*client, "/token.asp");
  const std::string fits(3000, 'f');
  EXPECT_EQ(Answer(client->Post("/memo.asp", {{"Cookie", session.cookie}}, "memo=" + fits + "&kvtoken=" + session.token,
                                "application/x-www-form-urlencoded")), "200 3000");
  const httplib::MultipartFormDataItems parts{{"memo", fits, "", ""}, {"kvtoken", session.token, "", ""}};
  EXPECT_EQ(Answer(client->Post("/memo.asp", {{"Cookie", session.cookie}}, parts)), "200 3000");
  const std::string chunk = "memo=" + fits + "&kvtoken=" + session.token;
  char size[16];
  std::snprintf(size, sizeof size, "%zx", chunk.size());
  answer = Exchange(server->Port(), "POST /memo.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nCookie: " +
                                        session.cookie +
                                        "\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                                        "Transfer-Encoding: chunked\r\n\r\n" + size + "\r\n" + chunk + "\r\n0\r\n\r\n");
  EXPECT_EQ(StatusOf(answer), 200) << answer.substr(0, 300);
  EXPECT_NE(answer.find("\r\n\r\n3000"), std::string::npos) << answer;
}

TEST_F(KvServeSafety, MethodsAreCheckedAndEveryAnswerCarriesTheHardeningHeaders) {
  auto server = Start();
  std::string answer =
      Exchange(server->Port(), "FOO /plain.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(StatusOf(answer), 405);
  EXPECT_NE(answer.find("Allow: GET, HEAD, POST, PUT, PATCH, DELETE\r\n"), std::string::npos) << answer;
  // A PUT without a length has no body to wait for.
  answer = Exchange(server->Port(), "PUT /style.css HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(StatusOf(answer), 405);
  EXPECT_NE(answer.find("Allow: GET, HEAD\r\n"), std::string::npos) << answer;

  auto client = server->Client();
  EXPECT_EQ(Answer(client->Post("/style.css", "x=1", "application/x-www-form-urlencoded")).substr(0, 4), "405 ");
  for (const char* path : {"/plain.asp", "/style.css", "/missing.asp", "/boom.asp"}) {
    auto result = client->Get(path);
    EXPECT_EQ(Header(result, "X-Content-Type-Options"), "nosniff") << path;
    EXPECT_EQ(Header(result, "X-Frame-Options"), "DENY") << path;
    EXPECT_NE(Header(result, "Content-Security-Policy").find("frame-ancestors 'none'"), std::string::npos) << path;
  }
}

// Without the option the page shows only the reference (see KvServe's
// error test); with it, a developer sees the error itself as well.
TEST_F(KvServeSafety, ErrorPagesShowTheErrorOnlyForDevelopment) {
  auto server = Start({"--dev-errors"});
  auto failed = server->Client()->Get("/boom.asp");
  ASSERT_TRUE(failed) << httplib::to_string(failed.error());
  EXPECT_EQ(failed->status, 500);
  std::smatch reference;
  ASSERT_TRUE(std::regex_search(failed->body, reference, std::regex("reference ([0-9a-f]{8})"))) << failed->body;
  EXPECT_NE(failed->body.find("/boom.asp:2: TypeError"), std::string::npos) << failed->body;
  server->Stop();
  EXPECT_NE(server->Log().find("kvhost: error " + std::string(reference[1]) + ": /boom.asp:2: TypeError"),
            std::string::npos)
      << server->Log();
}

TEST_F(KvServeSafety, SessionsAreStoredOnlyWhenAPageKeepsSomethingAndTheirNumberIsBounded) {
  auto server = Start({"--max-sessions", "1"});
  auto client = server->Client();
  for (int i = 0; i < 3; ++i) {
    auto plain = client->Get("/plain.asp");
    EXPECT_EQ(Answer(plain), "200 hello");
    EXPECT_EQ(SessionCookie(plain), "");
  }
  const std::string cookie = SessionCookie(client->Get("/keep.asp"));
  ASSERT_FALSE(cookie.empty());
  const std::string full = Answer(client->Get("/keep.asp"));
  EXPECT_EQ(full.rfind("503 ", 0), 0u) << full;
  EXPECT_NE(full.find("as many sessions as it may (1)"), std::string::npos) << full;
  EXPECT_EQ(Answer(client->Get("/keep.asp", {{"Cookie", cookie}})), "200 kept");

  // Signing in gives the session a new id; the one it had before, which
  // somebody may have planted or seen, finds nothing from then on.
  auto signedIn = client->Get("/signin.asp", {{"Cookie", cookie}});
  EXPECT_EQ(Answer(signedIn), "200 1");
  const std::string renewed = SessionCookie(signedIn);
  ASSERT_FALSE(renewed.empty());
  EXPECT_NE(renewed, cookie);
  EXPECT_EQ(Answer(client->Get("/keep.asp", {{"Cookie", cookie}})).substr(0, 4), "503 ");
  EXPECT_EQ(Answer(client->Get("/style.css")), "200 " + FileContent());
}

}  // namespace
