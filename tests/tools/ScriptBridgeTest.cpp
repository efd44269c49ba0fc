// The script bridge in-process: a page drives a probe object passed in as
// a global Probe, so every conversion and error path is seen from the script.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "PageRunner.h"
#include "ProbeObject.h"

namespace {

struct PageResult {
  bool ran = false;
  std::string output;
  std::string error;
};

PageResult RunPage(const ComPtr<ProbeObject>& probe, const std::string& source) {
  PageResult result;
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* output = open_memstream(&buffer, &size);
  {
    PageContext page;
    page.response = PageResponse(output);
    PageRunner runner(page);
    runner.Expose("Probe", ComPtr<IDispatch>(probe.Get()));
    result.ran = runner.Run("page.js", source, &result.error);
  }
  std::fclose(output);
  result.output.assign(buffer, size);
  std::free(buffer);
  return result;
}

std::string Output(const std::string& source) {
  ComPtr<ProbeObject> probe = ProbeObject::Create();
  PageResult result = RunPage(probe, source);
  EXPECT_TRUE(result.ran) << result.error;
  return result.output;
}

}  // namespace

TEST(ScriptBridge, ScriptValuesReachComWithTheirVariantTypes) {
  EXPECT_EQ(Output(R"(
    var out = [];
    function t(v) { out.push(Probe.TypeOf(v)); }
    t(5); t(-2147483648); t(2147483647); t(0);
    t(2147483648); t(1.5); t(-0.25); t(NaN); t(Infinity);
    t("s"); t(""); t(true); t(false); t(null); t(undefined);
    t([1, "a"]); t([]); t(new Date(2024, 2, 1)); t(Probe);
    Response.Write(out.join(","));
  )"),
            "3,3,3,3,5,5,5,5,5,8,8,11,11,1,0,8204,8204,7,9");
}

TEST(ScriptBridge, ComValuesReachScriptsAsScriptValues) {
  EXPECT_EQ(Output(R"(
    var p = Probe;
    var d = p.Make(7);
    Response.Write([
      p.Make(0) === undefined, p.Make(1) === null, p.Make(11) === true, p.Make(8) === "",
      p.Make(2), p.Make(17), p.Make(20), p.Make(4), p.Make(6),
      d instanceof Date, d.getFullYear(), d.getMonth() + 1, d.getDate(),
      d.getHours(), d.getMinutes(), d.getSeconds(),
      p.Make(0x2003).join("/"), p.Make(0x2008).join("/")
    ].join(","));
  )"),
            "true,true,true,true,-7,200,1099511627776,0.5,12.3456,"
            "true,2024,3,1,9,30,15,100/200/300,a/b");
}

TEST(ScriptBridge, ValuesSurviveTheRoundTripThroughCom) {
  EXPECT_EQ(Output(R"(
    var p = Probe;
    var text = "Grüße 😀";
    var back = p.Echo(text);
    var when = new Date(2023, 11, 31, 23, 59, 58);
    Response.Write([
      back === text, back.length,
      JSON.stringify(p.Echo([1, [2.5, "x"], null, true])),
      p.Echo(when).getTime() === when.getTime(),
      p.Echo(p).Label, p.Self.Self.Label
    ].join("|"));
  )"),
            "true|8|[1,[2.5,\"x\"],null,true]|true|probe|probe");
}

TEST(ScriptBridge, PropertiesReadWithoutCallMethodsRunOnlyWhenCalled) {
  ComPtr<ProbeObject> probe = ProbeObject::Create();
  PageResult result = RunPage(probe, R"(
    var p = Probe;
    var out = [p.Count, typeof p.Echo];
    var echo = p.Echo;
    out.push(p.Count);
    out.push(echo("held"), p.Count);
    p.Label = 42;
    out.push(p.Label, typeof p.Label, p.Item(4), p.item(5), p.ECHO("case"));
    Response.Write(out.join(","));
  )");
  ASSERT_TRUE(result.ran) << result.error;
  EXPECT_EQ(result.output, "0,function,0,held,1,42,string,40,50,case");
  EXPECT_EQ(probe->MethodRuns(), 2);
}

TEST(ScriptBridge, FailuresBecomeCatchableErrorsWithTheSignedHresult) {
  ComPtr<ProbeObject> probe = ProbeObject::Create();
  PageResult result = RunPage(probe, R"(
    var p = Probe, out = [];
    function attempt(f) {
      try { f(); out.push("no error"); }
      catch (e) { out.push(e.name + " " + e.number + " " + e.message); }
    }
    attempt(function () { p.Fail(-2147024809); });
    attempt(function () { p.Fail(0x80004005 | 0); });
    attempt(function () { p.Nope(1); });
    attempt(function () { return p.Missing; });
    attempt(function () { p.Raise("no access for you"); });
    attempt(function () { p.Echo(1, 2); });
    Response.Write(out.join("\n"));
  )");
  ASSERT_TRUE(result.ran) << result.error;
  EXPECT_EQ(result.output,
            "Error -2147024809 Probe.Fail: The parameter is incorrect (0x80070057)\n"
            "Error -2147467259 Probe.Fail: Unspecified error (0x80004005)\n"
            "Error -2147352570 Probe has no method or property named 'Nope' (0x80020006)\n"
            "Error -2147352570 Probe has no method or property named 'Missing' (0x80020006)\n"
            "Error -2147024891 Probe.Raise: no access for you (0x80070005)\n"
            "Error -2147352562 Probe.Echo: Invalid number of parameters (0x8002000E)");
}

TEST(ScriptBridge, ValuesThatCannotBePassedFailBeforeTheCall) {
  ComPtr<ProbeObject> probe = ProbeObject::Create();
  PageResult result = RunPage(probe, R"(
    var p = Probe, out = [];
    function attempt(f) {
      try { f(); out.push("no error"); } catch (e) { out.push(e.name + ": " + e.message); }
    }
    var trap = ["kept", "also kept"];
    Object.defineProperty(trap, 1, { get: function () { throw new Error("getter refused"); } });
    var cyclic = []; cyclic.push(cyclic);
    var fake = Object.create(Date.prototype);
    attempt(function () { p.Echo(function () {}); });
    attempt(function () { p.Echo({ a: 1 }); });
    attempt(function () { p.Echo(trap); });
    attempt(function () { p.Echo(cyclic); });
    attempt(function () { p.Echo(new Date(NaN)); });
    attempt(function () { p.Echo(fake); });
    attempt(function () { Server.CreateObject(7); });
    Response.Write(out.length + " " + p.Count + "\n" + out.slice(2, 5).join("\n"));
  )");
  ASSERT_TRUE(result.ran) << result.error;
  EXPECT_EQ(result.output,
            "7 0\n"
            "Error: getter refused\n"
            "RangeError: arrays nested too deeply to pass to COM\n"
            "RangeError: invalid date");
}

TEST(ScriptBridge, UncaughtErrorsNameThePageLine) {
  ComPtr<ProbeObject> probe = ProbeObject::Create();
  PageResult failed = RunPage(probe, "var p = Probe;\nResponse.Write('before');\np.Nope();\nResponse.Write('after');");
  EXPECT_FALSE(failed.ran);
  EXPECT_EQ(failed.output, "before");
  EXPECT_EQ(failed.error,
            "page.js:3: Error: Probe has no method or property named 'Nope' (0x80020006)");

  PageResult syntax = RunPage(probe, "var x = ;");
  EXPECT_FALSE(syntax.ran);
  EXPECT_NE(syntax.error.find("SyntaxError"), std::string::npos) << syntax.error;

  PageResult thrown = RunPage(probe, "throw 'plain text';");
  EXPECT_FALSE(thrown.ran);
  EXPECT_EQ(thrown.error, "uncaught: plain text");
}

TEST(ScriptBridge, EveryReferenceThePageTookIsReleased) {
  ComPtr<ProbeObject> probe = ProbeObject::Create();
  const ULONG before = probe->References();
  PageResult result = RunPage(probe, R"(
    var kept = [Probe.Self, Probe.Echo(Probe), Probe.Echo, Probe.Self.Self];
    var dropped = Probe.Self; dropped = null;
    Response.Write(kept.length);
    Probe.Nope();
  )");
  EXPECT_FALSE(result.ran);
  EXPECT_EQ(probe->References(), before);
}

TEST(ScriptBridge, ResponseWriteWritesUtf8Text) {
  EXPECT_EQ(Output(R"(
    Response.Write("ä😀"); Response.Write(null); Response.Write(undefined);
    Response.Write(12.5); Response.Write(true); Response.Write([1, 2]);
  )"),
            "\xC3\xA4\xF0\x9F\x98\x80"
            "12.5true1,2");
}
