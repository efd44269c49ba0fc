// Who the visitor is: pages hash and check passwords, sign a session's user
// in and out (the component sees that user through the host session), and
// hand out the session's anti-forgery token. Pages run in-process; the
// owner filter that follows the user is the component's (its own tests)
// and the demo site's rights show it end to end (the browser test).
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Options.h"
#include "engine/JScriptEngine.h"
#include "platform/host/HostSession.h"

namespace {

class PageSignIn : public ::testing::Test {
 protected:
  void SetUp() override {
    KvHostSessionConfig config;
    config.userId = 0;
    ASSERT_EQ(KvCreateHostSession(config, m_session.host.ReleaseAndGetAddressOf()), S_OK);
    m_session.antiForgeryToken = "5f0c1e";
  }

  // Runs source as a page of the session; its output, or "error: ..." .
  std::string Run(const std::string& source) {
    PageContext page;
    page.session = &m_session;
    page.application = &m_application;
    JScriptEngine engine;
    std::string error;
    auto program = engine.Compile("page.js", source, ScriptSourceMap(), &error);
    if (!program || !engine.Run(page, *program, &error)) return "error: " + error;
    return page.response.body;
  }

  // The user id the component reads from the host session.
  LONG ComponentUser() {
    ComPtr<IHostSession> host;
    EXPECT_EQ(m_session.host.As(&host), S_OK);
    ComPtr<IDispatch> user;
    EXPECT_EQ(host->get_User(user.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IHostUser> hostUser;
    EXPECT_EQ(user.As(&hostUser), S_OK);
    LONG id = -99;
    EXPECT_EQ(hostUser->get_Id(&id), S_OK);
    return id;
  }

  PageSession m_session;
  MemoryApplication m_application;
};

}  // namespace

TEST_F(PageSignIn, PasswordsAreStoredAsSaltedHashesThatOnlyTheirPasswordMatches) {
  std::string out = Run(R"(
    var a = Server.HashPassword("correct horse ü"), b = Server.HashPassword("correct horse ü");
    Response.Write([a.indexOf("$argon2id$"), a === b,
                    Server.VerifyPassword("correct horse ü", a), Server.VerifyPassword("correct horse ü", b),
                    Server.VerifyPassword("correct horse u", a), Server.VerifyPassword("", a),
                    Server.VerifyPassword("correct horse ü", "not a hash"),
                    Server.VerifyPassword("correct horse ü", a.slice(0, -2))].join("|"));
  )");
  EXPECT_EQ(out, "0|false|true|true|false|false|false|false");
  EXPECT_NE(Run("Server.HashPassword('')").find("RangeError: Server.HashPassword: a password cannot be empty"),
            std::string::npos);
}

TEST_F(PageSignIn, SigningInSetsTheUserTheComponentSeesAndKeepsTheSession) {
  EXPECT_EQ(Run("Response.Write(Session.UserId); Session('seen');"), "0");
  EXPECT_EQ(ComponentUser(), 0);
  EXPECT_FALSE(m_session.kept) << "reading a value keeps nothing";

  EXPECT_EQ(Run("Session.SignIn(7); Response.Write(Session.UserId);"), "7");
  EXPECT_EQ(ComponentUser(), 7);
  EXPECT_EQ(m_session.userId, 7);
  EXPECT_TRUE(m_session.kept);
  EXPECT_EQ(Run("Response.Write(Session.UserId);"), "7") << "the next page of the session";

  EXPECT_EQ(Run("Session.SignOut(); Response.Write(Session.UserId);"), "0");
  EXPECT_EQ(ComponentUser(), 0);
  Run("Session.SignIn(3); Session.Abandon();");
  EXPECT_EQ(ComponentUser(), 0) << "an abandoned session has nobody signed in";

  for (const char* bad : {"0", "-1", "1.5", "'x'", "2147483648", ""}) {
    std::string result = Run(std::string("Session.SignIn(") + bad + ");");
    EXPECT_NE(result.find("RangeError: Session.SignIn takes a user id"), std::string::npos) << bad << ": " << result;
  }
  EXPECT_EQ(ComponentUser(), 0);
}

TEST_F(PageSignIn, ADevelopmentUserIsSignedInFromTheStart) {
  KvConfigureHostSession(m_session.host.Get(), [](KvHostSessionConfig& c) { c.userId = 5; });
  EXPECT_EQ(Run("Response.Write(Session.UserId);"), "5");
  EXPECT_EQ(m_session.userId, 5);

  struct Case {
    std::vector<std::string> args;
    LONG user;
  };
  const std::vector<Case> cases = {
      {{"page.js"}, 1},
      {{"--user", "4", "page.js"}, 4},
      {{"serve", "--root", "."}, 0},
      {{"serve", "--root", ".", "--user", "4"}, 4},
      {{"--user=4", "serve", "--root", "."}, 4},
  };
  for (const Case& c : cases) {
    ParsedCommandLine line = ParseCommandLine(c.args);
    ASSERT_TRUE(line.ok) << line.error;
    EXPECT_EQ(line.options.userId, c.user) << ::testing::PrintToString(c.args);
  }
}

TEST_F(PageSignIn, TheTokenIsTheSessionsAndReadingItKeepsTheSession) {
  EXPECT_EQ(Run("Session.Token = 'forged'; Response.Write(Session.Token);"), "5f0c1e");
  EXPECT_TRUE(m_session.kept);
}
