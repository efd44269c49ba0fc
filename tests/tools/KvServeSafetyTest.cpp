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
      {{{"Cookie", session.cookie}, {"Origin", "http://evil.example"}}, form + session.token},
      {{{"Cookie", session.cookie}, {"Origin", "null"}}, form + session.token},
      {{{"Cookie", session.cookie}, {"Referer", "http://evil.example/page"}}, form + session.token},
      {{{"Cookie", session.cookie}, {"Sec-Fetch-Site", "cross-site"}}, form + session.token},
      {{{"Cookie", session.cookie}, {"Origin", self}}, "strno=B2"},
      {{{"Cookie", session.cookie}, {"Origin", self}}, form + std::string(32, '0')},
      {{{"Cookie", session.cookie}, {"Origin", self}}, form + other.token},
      {{{"Origin", self}}, form + session.token},
  };
  for (const Refused& attempt : refused) {
    auto result = client->Post("/rename.asp", attempt.headers, attempt.body, "application/x-www-form-urlencoded");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 403) << attempt.body;
  }
  for (const char* method : {"PUT", "PATCH", "DELETE"}) {
    const std::string answer =
        Exchange(server->Port(), std::string(method) + " /rename.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: " +
                                     session.cookie + "\r\nOrigin: http://evil.example\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(StatusOf(answer), 403) << method;
  }
  EXPECT_TRUE(OrderNoIs("A1"));

  // The page's own form, and a page's script sending the token as a header.
  auto saved = client->Post("/rename.asp", {{"Cookie", session.cookie}, {"Origin", self}}, form + session.token,
                            "application/x-www-form-urlencoded");
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->status, 200) << saved->body;
  EXPECT_TRUE(OrderNoIs("B2")) << saved->body;
  auto scripted = client->Post("/rename.asp", {{"Cookie", session.cookie}, {"X-KV-Token", session.token}},
                               "strno=B3", "application/x-www-form-urlencoded");
  ASSERT_TRUE(scripted);
  EXPECT_EQ(scripted->status, 200) << scripted->body;
  EXPECT_TRUE(OrderNoIs("B3"));
}

TEST_F(KvServeSafety, RangesAreServedForFilesOnlyAndOnlyAFewNonOverlappingOnes) {
  auto server = Start();
  auto client = server->Client();
  const std::string content = FileContent();
  auto one = client->Get("/style.css", {{"Range", "bytes=10-19"}});
  ASSERT_TRUE(one);
  EXPECT_EQ(one->status, 206);
  EXPECT_EQ(one->body, content.substr(10, 10));
  EXPECT_EQ(one->get_header_value("Content-Range"), "bytes 10-19/1000");

  auto two = client->Get("/style.css", {{"Range", "bytes=0-1,990-"}});
  ASSERT_TRUE(two);
  EXPECT_EQ(two->status, 206);
  EXPECT_EQ(two->get_header_value("Content-Type").rfind("multipart/byteranges; boundary=", 0), 0u);
  EXPECT_NE(two->body.find("Content-Range: bytes 0-1/1000\r\n\r\n" + content.substr(0, 2) + "\r\n"),
            std::string::npos);
  EXPECT_NE(two->body.find("Content-Range: bytes 990-999/1000\r\n\r\n" + content.substr(990) + "\r\n"),
            std::string::npos);

  // Which ranges are served (none of a thousand, say) is ByteRanges' table.
  auto beyond = client->Get("/style.css", {{"Range", "bytes=5000-"}});
  ASSERT_TRUE(beyond);
  EXPECT_EQ(beyond->status, 416);
  EXPECT_EQ(beyond->get_header_value("Content-Range"), "bytes */1000");

  auto page = client->Get("/plain.asp", {{"Range", "bytes=0-1"}});
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->body, "hello");
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
  auto client = server->Client();
  auto page = client->Get("/plain.asp");
  ASSERT_TRUE(page) << httplib::to_string(page.error());
  EXPECT_EQ(page->body, "hello");
  int open = 0;
  for (auto& connection : slow) open += connection->ClosedByServer(0) ? 0 : 1;
  EXPECT_EQ(open, 100);
}

TEST_F(KvServeSafety, ConnectionsPerAddressAreBoundedAndHeadsAndBodiesHaveDeadlines) {
  auto server = Start({"--connections-per-client", "2", "--head-timeout", "1", "--body-timeout", "1"});
  RawConnection first("127.0.0.200", server->Port()), second("127.0.0.200", server->Port());
  ASSERT_TRUE(first.Connected() && second.Connected());
  ASSERT_FALSE(first.ClosedByServer(200));
  RawConnection third("127.0.0.200", server->Port());
  EXPECT_TRUE(third.ClosedByServer(kWaitMs));
  auto client = server->Client();
  auto page = client->Get("/plain.asp");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);

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
  auto urlencoded = client->Post("/memo.asp", "memo=" + memo, "application/x-www-form-urlencoded");
  ASSERT_TRUE(urlencoded);
  EXPECT_EQ(urlencoded->status, 413);
  EXPECT_NE(urlencoded->body.find("at most 4 KB"), std::string::npos) << urlencoded->body;
  auto multipart = client->Post("/memo.asp", httplib::MultipartFormDataItems{{"memo", memo, "", ""}});
  ASSERT_TRUE(multipart);
  EXPECT_EQ(multipart->status, 413);
  answer = Exchange(server->Port(),
                    "POST /memo.asp HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                    "Content-Type: application/x-www-form-urlencoded\r\nTransfer-Encoding: chunked\r\n\r\n"
                    "1388\r\nmemo=" + memo.substr(5) + "\r\n0\r\n\r\n");
  EXPECT_EQ(StatusOf(answer), 413) << answer.substr(0, 300);
  EXPECT_NE(answer.find("at most 4 KB"), std::string::npos);

  // Under the limit, in each encoding, the page gets the whole value.
  const ServeSession session = OpenSession(*client, "/token.asp");
  const std::string fits(3000, 'f');
  auto small = client->Post("/memo.asp", {{"Cookie", session.cookie}}, "memo=" + fits + "&kvtoken=" + session.token,
                            "application/x-www-form-urlencoded");
  ASSERT_TRUE(small);
  EXPECT_EQ(small->body, "3000");
  auto parts = client->Post("/memo.asp", {{"Cookie", session.cookie}},
                            httplib::MultipartFormDataItems{{"memo", fits, "", ""}, {"kvtoken", session.token, "", ""}});
  ASSERT_TRUE(parts);
  EXPECT_EQ(parts->body, "3000");
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
  auto post = client->Post("/style.css", "x=1", "application/x-www-form-urlencoded");
  ASSERT_TRUE(post);
  EXPECT_EQ(post->status, 405);
  for (const char* path : {"/plain.asp", "/style.css", "/missing.asp", "/boom.asp"}) {
    auto result = client->Get(path);
    ASSERT_TRUE(result) << path;
    EXPECT_EQ(result->get_header_value("X-Content-Type-Options"), "nosniff") << path;
    EXPECT_EQ(result->get_header_value("X-Frame-Options"), "DENY") << path;
    EXPECT_NE(result->get_header_value("Content-Security-Policy").find("frame-ancestors 'none'"), std::string::npos)
        << path;
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
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->status, 200);
    EXPECT_EQ(SessionCookie(plain), "");
  }
  auto kept = client->Get("/keep.asp");
  ASSERT_TRUE(kept);
  const std::string cookie = SessionCookie(kept);
  ASSERT_FALSE(cookie.empty());
  auto full = client->Get("/keep.asp");
  ASSERT_TRUE(full);
  EXPECT_EQ(full->status, 503);
  EXPECT_NE(full->body.find("as many sessions as it may (1)"), std::string::npos) << full->body;
  auto again = client->Get("/keep.asp", {{"Cookie", cookie}});
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, 200);

  // Signing in gives the session a new id; the one it had before, which
  // somebody may have planted or seen, finds nothing from then on.
  auto signedIn = client->Get("/signin.asp", {{"Cookie", cookie}});
  ASSERT_TRUE(signedIn);
  EXPECT_EQ(signedIn->body, "1");
  const std::string renewed = SessionCookie(signedIn);
  ASSERT_FALSE(renewed.empty());
  EXPECT_NE(renewed, cookie);
  auto byOldId = client->Get("/keep.asp", {{"Cookie", cookie}});
  ASSERT_TRUE(byOldId);
  EXPECT_EQ(byOldId->status, 503);
  auto file = client->Get("/style.css");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->status, 200);
}

}  // namespace
