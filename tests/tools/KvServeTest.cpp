// kvhost serve end to end: a real server process on a free port, a site of
// pages written for the test, the real component on a fresh database, and
// HTTP from httplib's client (paths sent as written for what no browser
// would send).
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <httplib.h>

#include "KvServeProcess.h"
#include "tests/fixture/TestDatabase.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSecret = "OUTSIDE-THE-ROOT-7f3a";

class KvServe : public ::testing::Test, protected ServeSite {
 protected:
  void SetUp() override {
    m_db = TestDatabase::Create();
    AddOrderA1();
    m_ws.Write("secret.txt", kSecret);
    m_root = m_ws.Dir() + "/site";
    Page("objects.asp", R"(<%@ Language="JScript" %>
q=<%= Request.QueryString("a") %>|f=<%= Request.Form("f") %>|any=<%= Request("a") %>|c=<%= Request.Cookies("c") %>
m=<%= Request.ServerVariables("REQUEST_METHOD") %>|qs=<%= Request.ServerVariables("QUERY_STRING") %>|sn=<%= Request.ServerVariables("SCRIPT_NAME") %>|h=<%= Request.ServerVariables("HTTP_X_TEST") %>
<% Session("n") = (Session("n") || 0) + 1; Application.Lock(); Application("hits") = (Application("hits") || 0) + 1; Application.Unlock();
   Response.AddHeader("X-Page", "objects"); Response.Cookies("k") = "v w"; %>
enc=<%= Server.HTMLEncode("<a href='x'>&</a>") %>|<%= Server.URLEncode("a b&c/ü") %>|map=<%= Server.MapPath("img/x.png") %>
n=<%= Session("n") %>|id=<%= Session.SessionID %>|t=<%= Session.Timeout %>|missing=<%= typeof Request("nope") %>
)");
    Page("record.asp", R"(<%
var pump = Server.CreateObject("KvHtmlDbTools.KvDataPump");
pump.Init(Session, 100);
pump.MoveTo(Number(Request("lid")));
%>no=<%= pump.ValueByFieldName("strno", "") %> colour=<%= pump.ValueByFieldNameEx("strcolor", "", 1031) %>)");
    Page("flow.asp", R"(<% var what = Request("what");
if (what == "redirect") Response.Redirect("/objects.asp?a=1");
if (what == "status") { Response.Status = "404 Not Found"; Response.ContentType = "text/plain"; }
if (what == "abandon") Session.Abandon();
Response.Write("before|");
if (what == "end") Response.End();
%>after)");
    Page("inc/head.inc", "<% function Title(t) { return '<h1>' + t + '</h1>'; } %>header\n");
    Page("inc/foot.inc", "footer\n");
    Page("errors.asp", "<!-- #include file=\"inc/head.inc\" -->\n<!-- #include virtual=\"/inc/foot.inc\" -->\n"
                       "<%= Title('x') %>\n<% var a = null;\n   a.nosuch; %>\n");
    Page("token.asp", "<%= Session.Token %>");
    Page("vb.asp", "<%@ Language=\"VBScript\" %>\n<% Response.Write \"hi\" %>\n");
    Page("escape.asp", "<!-- #include file=\"../secret.txt\" -->\n");
    Page("style.css", "body { color: red; }\n");
    Page("sub/index.html", "<p>index</p>\n");
  }

  std::unique_ptr<ServeProcess> Start() { return StartServe(4); }

  std::string m_root;
};

}  // namespace

TEST_F(KvServe, PageObjectsSeeTheRequestAndShapeTheResponse) {
  auto server = Start();
  auto client = server->Client();
  auto opened = client->Get("/token.asp");
  ASSERT_TRUE(opened) << httplib::to_string(opened.error());
  const std::string cookie = SessionCookie(opened);
  ASSERT_FALSE(cookie.empty());
  EXPECT_NE(opened->get_header_value("Set-Cookie").find("HttpOnly"), std::string::npos);
  const std::string id = cookie.substr(cookie.find('=') + 1);
  EXPECT_EQ(id.size(), 32u);
  const std::string token = opened->body;
  EXPECT_EQ(token.size(), 32u);

  httplib::Headers headers{{"Cookie", cookie + "; c=cookie%20value; other=1"}, {"X-Test", "yes"}};
  auto first = client->Post("/objects.asp?a=1&a=2", headers, "f=x&f=y+z&kvtoken=" + token,
                            "application/x-www-form-urlencoded");
  ASSERT_TRUE(first) << httplib::to_string(first.error());
  EXPECT_EQ(first->status, 200) << first->body;
  EXPECT_TRUE(SessionCookie(first).empty());
  EXPECT_EQ(first->get_header_value("X-Page"), "objects");
  EXPECT_EQ(first->get_header_value("Content-Type"), "text/html; charset=utf-8");
  const std::string body = first->body;
  EXPECT_NE(body.find("q=1, 2|f=x, y z|any=1, 2|c=cookie value\n"), std::string::npos) << body;
  EXPECT_NE(body.find("m=POST|qs=a=1&a=2|sn=/objects.asp|h=yes\n"), std::string::npos) << body;
  EXPECT_NE(body.find("enc=&lt;a href=&#39;x&#39;&gt;&amp;&lt;/a&gt;|a+b%26c%2F%C3%BC|map=" +
                      fs::canonical(m_root).string() + "/img/x.png\n"),
            std::string::npos)
      << body;
  EXPECT_NE(body.find("n=1|id=" + id + "|t=20|missing=undefined"), std::string::npos) << body;

  // The session comes back with its cookie; a made-up id never becomes one.
  auto second = client->Get("/objects.asp", {{"Cookie", cookie}});
  EXPECT_NE(Answer(second).find("n=2|id=" + id), std::string::npos) << Answer(second);
  EXPECT_TRUE(SessionCookie(second).empty());
  auto forged = client->Get("/objects.asp", {{"Cookie", "KVSESSIONID=00000000000000000000000000000000"}});
  EXPECT_NE(Answer(forged).find("n=1|"), std::string::npos);
  EXPECT_NE(SessionCookie(forged), "KVSESSIONID=00000000000000000000000000000000");

  // Multipart form values join like urlencoded ones.
  httplib::MultipartFormDataItems parts{
      {"f", "one", "", ""}, {"f", "two", "", ""}, {"up", "file content", "notes.txt", "text/plain"},
      {"kvtoken", token, "", ""}};
  const std::string multipart = Answer(client->Post("/objects.asp", {{"Cookie", cookie}}, parts));
  EXPECT_EQ(multipart.rfind("200 ", 0), 0u) << multipart;
  EXPECT_NE(multipart.find("|f=one, two|"), std::string::npos) << multipart;

  // A page reads a record through the component on the server's database.
  EXPECT_EQ(Answer(client->Get("/record.asp?lid=1")), "200 no=A1 colour=rot");

  EXPECT_EQ(server->Stop(), 0);
  EXPECT_NE(server->Log().find("\"GET /record.asp?lid=1 HTTP/1.1\" 200 16"), std::string::npos) << server->Log();
}

TEST_F(KvServe, RedirectStatusEndAbandonAndErrorsNameThePageLine) {
  auto server = Start();
  auto client = server->Client();
  auto redirect = client->Get("/flow.asp?what=redirect");
  EXPECT_EQ(Answer(redirect).substr(0, 4), "302 ");
  EXPECT_EQ(Header(redirect, "Location"), "/objects.asp?a=1");
  auto status = client->Get("/flow.asp?what=status");
  EXPECT_EQ(Answer(status), "404 before|after");
  EXPECT_EQ(Header(status, "Content-Type"), "text/plain; charset=utf-8");
  EXPECT_EQ(Answer(client->Get("/flow.asp?what=end")), "200 before|");

  const std::string cookie = SessionCookie(client->Get("/objects.asp"));
  ASSERT_FALSE(cookie.empty());
  EXPECT_EQ(Answer(client->Get("/flow.asp?what=abandon", {{"Cookie", cookie}})), "200 before|after");
  auto after = client->Get("/objects.asp", {{"Cookie", cookie}});
  EXPECT_NE(Answer(after).find("n=1|"), std::string::npos) << Answer(after);
  EXPECT_NE(SessionCookie(after), cookie);

  // The visitor sees a reference; the log has the error under it.
  const std::vector<std::pair<std::string, std::string>> failures = {
      {"/errors.asp", "/errors.asp:5: TypeError"},
      {"/vb.asp", "/vb.asp:1: pages are written in JScript; the language VBScript is not supported"},
      {"/escape.asp", "leads outside the site"},
  };
  std::vector<std::string> references;
  for (const auto& [path, message] : failures) {
    auto failed = client->Get(path);
    ASSERT_TRUE(failed) << path;
    EXPECT_EQ(failed->status, 500) << path;
    std::smatch reference;
    ASSERT_TRUE(std::regex_search(failed->body, reference, std::regex("reference ([0-9a-f]{8})"))) << failed->body;
    references.push_back(reference[1]);
    EXPECT_EQ(failed->body.find(message), std::string::npos) << failed->body;
    EXPECT_EQ(failed->body.find(".asp"), std::string::npos) << failed->body;
    EXPECT_EQ(failed->body.find(kSecret), std::string::npos);
  }
  server->Stop();
  for (size_t i = 0; i < failures.size(); ++i)
    EXPECT_NE(server->Log().find("kvhost: error " + references[i] + ": " +
                                 (i == 0 ? failures[i].second : std::string())),
              std::string::npos)
        << server->Log();
  EXPECT_NE(server->Log().find(failures[2].second), std::string::npos) << server->Log();
}

TEST_F(KvServe, NothingOutsideTheRootAndNoPageSourceIsEverSent) {
  auto server = Start();
  // Which file a path reaches (links out, dot-files, page sources) is
  // SitePaths' table; here the server must see the path as sent: escapes
  // undecoded, nothing collapsed.
  const std::vector<std::string> attempts = {"/%2e%2e/secret.txt", "/..%2fsecret.txt", "/sub/../../secret.txt",
                                             "//etc/passwd", "/inc/head.inc"};
  auto client = server->Client();
  client->set_url_encode(false);
  for (const std::string& path : attempts) {
    auto result = client->Get(path);
    ASSERT_TRUE(result) << path;
    std::string reply = result->body;
    for (const auto& [name, value] : result->headers) reply += "\n" + name + ": " + value;
    const int status = result->status;
    EXPECT_TRUE(status == 403 || status == 404 || status == 400) << path << " -> " << reply.substr(0, 200);
    EXPECT_EQ(reply.find(kSecret), std::string::npos) << path;
    EXPECT_EQ(reply.find("<%"), std::string::npos) << path;
    EXPECT_EQ(reply.find("root:"), std::string::npos) << path;
  }
  auto css = client->Get("/style.css");
  EXPECT_EQ(Answer(css), "200 body { color: red; }\n");
  EXPECT_EQ(Header(css, "Content-Type"), "text/css; charset=utf-8");
  EXPECT_EQ(Answer(client->Get("/sub")).substr(0, 4), "301 ");
  EXPECT_EQ(Answer(client->Get("/sub/")), "200 <p>index</p>\n");
  EXPECT_TRUE(server->Alive());
}
