// Pages run in-process through the executor the server uses: engines are
// reused from page to page, compiled pages are kept until their files
// change, and nothing of one page reaches the next.
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "engine/EnginePool.h"
#include "engine/JScriptEngine.h"
#include "engine/PageExecutor.h"
#include "platform/host/HostSession.h"
#include "tests/fixture/TempDir.h"

namespace fs = std::filesystem;

namespace {

class PageExecutorTest : public ::testing::Test {
 protected:
  PageExecutorTest() : m_executor(fs::canonical(m_site.Path()).string()) {}

  // Writes a site file dated an hour back, as a page deployed earlier is.
  void Deployed(const std::string& name, const std::string& content) {
    fs::last_write_time(m_site.Write(name, content), fs::file_time_type::clock::now() - std::chrono::hours(1));
  }

  // The page's body, or "error: ..." when it failed.
  std::string Serve(const std::string& virtualPath, PageSession* session = nullptr) {
    PageContext page;
    page.session = session;
    page.application = &m_application;
    page.deadline = m_deadline;
    std::string error;
    return m_executor.Execute(page, virtualPath, &error) ? page.response.body : "error: " + error;
  }

  TempDir m_site;
  PageExecutor m_executor;
  MemoryApplication m_application;
  std::chrono::steady_clock::time_point m_deadline = std::chrono::steady_clock::time_point::max();
};

TEST_F(PageExecutorTest, APageThatTampersWithBuiltInsLeavesNothingForTheNext) {
  Deployed("check.asp",
           "<%= [typeof leftBehind, typeof declared, ({}).x, [].push(7), typeof ''.trim, Math.max(1, 2),\n"
           "     JSON.stringify([1]), [].fixed, Object.isFrozen(Object.prototype), typeof Response.End,\n"
           "     Server.HTMLEncode('<')].join() %>");
  Deployed("tamper.asp",
           "<% Array.prototype.push = function () { return 'tampered'; };\n"
           "   Object.prototype.x = 1; String.prototype.trim = null; Math.max = null; JSON.stringify = null;\n"
           "   Object.defineProperty(Array.prototype, 'fixed', { value: 1, configurable: false });\n"
           "   Object.freeze(Object.prototype); leftBehind = 'global'; var declared = 2;\n"
           "   Response.End = null; Server.HTMLEncode = function () { return 'x'; }; %>"
           "<%= [].push(1) %>");
  const std::string pristine =
      "undefined,undefined,,1,function,2,[1],,false,function,&lt;";
  EXPECT_EQ(Serve("/check.asp"), pristine);
  // The page's changes hold within the page itself...
  EXPECT_EQ(Serve("/tamper.asp"), "tampered");
  // ...and are gone for the next page on the same engine.
  EXPECT_EQ(Serve("/check.asp"), pristine);
  EXPECT_EQ(m_executor.IdleEngines(), 1u) << "one engine ran every page";
}

TEST_F(PageExecutorTest, APageIsCompiledAgainWhenItOrAnIncludeChanges) {
  Deployed("page.asp", "<!-- #include file=\"inc.inc\" -->[<%= v %>]<% if (fail) nosuch(); %>");
  Deployed("inc.inc", "<% var fail = false;\n   var v = 'one'; %>");
  EXPECT_EQ(Serve("/page.asp"), "[one]");
  EXPECT_EQ(m_executor.CachedPages(), 1u);

  // Same size, same inode: the modification time tells.
  m_site.Write("inc.inc", "<% var fail = false;\n   var v = 'two'; %>");
  EXPECT_EQ(Serve("/page.asp"), "[two]");

  // A page replaced by rename, as deployments do, with a file just written:
  // compiled for each request until it settles, and right every time.
  m_site.Write("page.new", "<!-- #include file=\"inc.inc\" -->(<%= v %>)<% if (fail) nosuch(); %>");
  fs::rename(m_site / "page.new", m_site / "page.asp");
  EXPECT_EQ(Serve("/page.asp"), "(two)");
  EXPECT_EQ(Serve("/page.asp"), "(two)");

  // Errors name the page file and line, whether compiled now or kept.
  Deployed("inc.inc", "<% var fail = true;\n   var v = 'six'; %>");
  for (int run = 0; run < 2; ++run) {
    std::string body = Serve("/page.asp");
    EXPECT_EQ(body.rfind("error: /page.asp:1: ReferenceError", 0), 0u) << body;
  }
  fs::remove(m_site / "inc.inc");
  EXPECT_EQ(Serve("/page.asp"), "error: cannot read /inc.inc");
}

TEST_F(PageExecutorTest, APageLetsGoOfItsObjectsAndLocksHoweverItEnds) {
  KvHostSessionConfig config;
  PageSession session;
  ASSERT_EQ(KvCreateHostSession(config, session.host.ReleaseAndGetAddressOf()), S_OK);
  auto references = [&] {
    session.host->AddRef();
    return session.host->Release();
  };
  // The page keeps the session's object in a cycle that only the collector
  // could break, takes the application lock and fails.
  Deployed("hold.asp", "<% var keep = [Session]; keep.push(keep); Application.Lock(); nosuch(); %>");
  Deployed("loop.asp", "<% Application.Lock(); while (true) {} %>");
  Deployed("ok.asp", "<% Application.Lock(); %>ok");

  EXPECT_EQ(Serve("/hold.asp", &session).rfind("error: /hold.asp:1: ReferenceError", 0), 0u);
  EXPECT_EQ(references(), 1u) << "only the session itself holds its host object";
  EXPECT_TRUE(m_application.Lock(std::chrono::steady_clock::now()).owns_lock())
      << "the page's application lock was let go";

  // A page past its deadline is stopped, and the engine serves the next one.
  m_deadline = std::chrono::steady_clock::now();
  EXPECT_NE(Serve("/loop.asp").find("RangeError"), std::string::npos);
  m_deadline = std::chrono::steady_clock::time_point::max();
  EXPECT_EQ(Serve("/ok.asp", &session), "ok");
  EXPECT_TRUE(m_application.Lock(std::chrono::steady_clock::now()).owns_lock());
}

// Runs source on engine; the page's body, or "error: ...".
std::string RunScript(JScriptEngine& engine, const std::string& source, PageSession* session = nullptr) {
  PageContext page;
  page.session = session;
  std::string error;
  auto program = engine.Compile("page.js", source, ScriptSourceMap(), &error);
  return program && engine.Run(page, *program, &error) ? page.response.body : "error: " + error;
}

TEST(JScriptEngine, BuiltInsAreSharedUntilAPageChangesOne) {
  JScriptEngine engine;
  const std::string probe =
      "Response.Write([Object.keys(Object.prototype).length, [].push(1), typeof Math.max,\n"
      "  Object.isExtensible(JSON), Object.getPrototypeOf(Math) === Object.prototype, [].length,\n"
      "  typeof Array.prototype.push.marked, typeof leftBehind, globalThis === this,\n"
      "  typeof Request.marked, Object.isFrozen(Server), typeof Application.Lock,\n"
      "  Object.keys(Response).length, typeof Session.SignIn, typeof Session.marked].join());";
  const std::string pristine =
      "0,1,function,true,true,0,undefined,undefined,true,undefined,false,function,5,function,undefined";
  PageSession session;
  // Pages that only use the built-ins, however heavily, keep the heap.
  const std::string busy =
      "var a = [3, 1, 2].sort().concat([4]).join(); var o = JSON.parse(JSON.stringify({d: new Date(0)}));\n"
      "/x(y)/g.exec('xy'); try { null.x; } catch (e) { String(e); } leftBehind = Math.random();\n"
      "Object.keys(this); for (var k in Math) {} Response.ContentType = 'text/plain'; Response.Status = '200 OK';\n"
      "Server.HTMLEncode('<'); Request.QueryString('q'); Response.Write('busy');";
  EXPECT_EQ(RunScript(engine, busy, &session), "busy");
  EXPECT_EQ(RunScript(engine, probe, &session), pristine);
  // Without a session a page sees Session as null, and the next page with
  // one sees it whole.
  EXPECT_EQ(RunScript(engine, "Response.Write(Session === null);"), "true");
  EXPECT_EQ(RunScript(engine, probe, &session), pristine);
  EXPECT_EQ(engine.Renewals(), 0u);
  // The built-in methods are frozen: marking one changes nothing, and
  // strict code is told so.
  EXPECT_EQ(RunScript(engine, "Array.prototype.push.marked = 1; Response.Write(typeof Math.max.marked);"),
            "undefined");
  EXPECT_EQ(RunScript(engine, "'use strict'; try { Math.max.marked = 1; } catch (e) { Response.Write(e.name); }"),
            "TypeError");
  EXPECT_EQ(RunScript(engine, probe, &session), pristine);
  EXPECT_EQ(engine.Renewals(), 0u);

  const char* const tampering[] = {
      "Object.prototype.x = 1;",
      "delete Array.prototype.push;",
      "Math.max = null;",
      "Object.preventExtensions(JSON);",
      "Object.setPrototypeOf(Math, null);",
      "Array.prototype.length = 3;",
      "Object.defineProperty(Array.prototype, 'push', { get: function () { return 1; } });",
      "globalThis.Object.prototype.y = 2;",
      // The page objects are made once per heap as well.
      "Request.marked = 1;",
      "Object.freeze(Server);",
      "delete Application.Lock;",
      "Response.Write = function () {};",
      "delete Session.SignIn;",
      "Session.marked = 1;",
  };
  size_t renewals = 0;
  for (const char* tamper : tampering) {
    RunScript(engine, tamper, &session);
    EXPECT_EQ(RunScript(engine, probe, &session), pristine) << tamper;
    EXPECT_EQ(engine.Renewals(), ++renewals) << tamper;
  }
}

TEST(JScriptEngine, AHeapItCannotMakeIsAnErrorAndAPageOutOfMemoryOnlyFailsItself) {
  EXPECT_THROW(JScriptEngine(4096), std::runtime_error);

  JScriptEngine engine(16 * 1024 * 1024);
  PageContext page;
  std::string error;
  auto hungry = engine.Compile("hungry.js", "var s = 'x'; while (true) s += s;", ScriptSourceMap(), &error);
  ASSERT_TRUE(hungry) << error;
  EXPECT_FALSE(engine.Run(page, *hungry, &error));
  EXPECT_NE(error.find("hungry.js:1"), std::string::npos) << error;

  auto fine = engine.Compile("fine.js", "Response.Write(typeof s);", ScriptSourceMap(), &error);
  ASSERT_TRUE(fine) << error;
  EXPECT_TRUE(engine.Run(page, *fine, &error)) << error;
  EXPECT_EQ(page.response.body, "undefined");
}

// What a page left in its globals is freed as the page ends, not at the
// heap's next collection: pages in a row that each keep a few hundred
// kilobytes there leave the heap where the first one left it.
TEST(JScriptEngine, WhatAPageKeptInItsGlobalsIsFreedWhenItEnds) {
  JScriptEngine engine(64 * 1024 * 1024);
  PageContext page;
  std::string error;
  auto program = engine.Compile("keeping.js",
                                "var kept = []; for (var i = 0; i < 1000; i++) kept.push({ n: i, s: 'v' + i });\n"
                                "var self = this; function f() { return kept; } Response.Write(kept.length);",
                                ScriptSourceMap(), &error);
  ASSERT_TRUE(program) << error;
  ASSERT_TRUE(engine.Run(page, *program, &error)) << error;
  engine.Tidy();
  const size_t afterFirst = engine.HeapBytes();
  for (int run = 0; run < 10; ++run) {
    const long before = engine.AllocationsBeforeCollection();
    ASSERT_TRUE(engine.Run(page, *program, &error)) << error;
    ASSERT_LT(engine.AllocationsBeforeCollection(), before) << "a collection ran inside page " << run;
  }
  EXPECT_LT(engine.HeapBytes(), afterFirst + 64 * 1024);
}

// Tidied as soon as it is due, a heap never collects inside a page: the
// allocations left before its own collection only go down from page to
// page until Tidy, which restarts them.
TEST(JScriptEngine, AHeapDueForCollectionIsCollectedBetweenPagesNotDuringOne) {
  JScriptEngine engine;
  PageContext page;
  std::string error;
  auto program = engine.Compile("allocating.js",
                                "var made = []; for (var i = 0; i < 200; i++) made.push({ i: i, s: 'n' + i });\n"
                                "var cycle = {}; cycle.self = cycle; function f() {} Response.Write(made.length);",
                                ScriptSourceMap(), &error);
  ASSERT_TRUE(program) << error;
  int tidied = 0;
  for (int run = 0; run < 3000 && tidied < 2; ++run) {
    const long before = engine.AllocationsBeforeCollection();
    ASSERT_TRUE(engine.Run(page, *program, &error)) << error;
    ASSERT_LT(engine.AllocationsBeforeCollection(), before) << "a collection ran inside page " << run;
    if (engine.DueForTidying()) {
      engine.Tidy();
      EXPECT_FALSE(engine.DueForTidying());
      EXPECT_GT(engine.AllocationsBeforeCollection(), before);
      ++tidied;
    }
  }
  EXPECT_EQ(tidied, 2);
}

// An engine that runs nothing and says when it would need tidying.
struct IdleEngine : PageEngine {
  std::shared_ptr<const CompiledProgram> Compile(const std::string&, const std::string&, ScriptSourceMap,
                                                 std::string*) override {
    return nullptr;
  }
  bool Run(PageContext&, const CompiledProgram&, std::string*) override { return true; }
  bool DueForTidying() const override { return due; }
  void Tidy() override {
    tidiedOn = std::this_thread::get_id();
    due = false;
  }
  bool due = false;
  std::thread::id tidiedOn;
};

// An engine due for tidying is tidied on the pool's thread before a page
// can take it again; one that is not goes straight back.
TEST(EnginePool, AnEngineDueForTidyingIsTidiedOffThePagesThreadThenIdle) {
  using Engine = IdleEngine;
  Engine* made = nullptr;
  EnginePool pool([&made] {
    auto engine = std::make_unique<Engine>();
    made = engine.get();
    return engine;
  });
  { auto lease = pool.Take(); }
  EXPECT_EQ(pool.Idle(), 1u);
  {
    auto lease = pool.Take();
    made->due = true;
  }
  pool.WaitUntilTidy();
  EXPECT_EQ(pool.Idle(), 1u);
  EXPECT_FALSE(made->due);
  EXPECT_NE(made->tidiedOn, std::thread::id());
  EXPECT_NE(made->tidiedOn, std::this_thread::get_id());
}

// Engines made before the first page serve that many pages at once without
// another being made, and preparing again only tops the idle ones up.
TEST(EnginePool, PreparedEnginesServePagesAtOnceWithoutMakingMore) {
  int made = 0;
  EnginePool pool([&made] {
    ++made;
    return std::make_unique<IdleEngine>();
  });
  pool.Prepare(3);
  EXPECT_EQ(made, 3);
  {
    auto first = pool.Take(), second = pool.Take(), third = pool.Take();
    EXPECT_EQ(made, 3);
  }
  pool.Prepare(3);
  EXPECT_EQ(made, 3);
  EXPECT_EQ(pool.Idle(), 3u);
}

}  // namespace
