// Session("x") = v in a page becomes the storing call Session("x", v): the
// assigned expression ends where its statement does, and nothing that only
// looks like such an assignment is touched.
#include <string>

#include <gtest/gtest.h>

#include "translate/ValueAssignments.h"

namespace {

TEST(ValueAssignments, EachTargetsAssignmentBecomesTheStoringCall) {
  const std::pair<const char*, const char*> cases[] = {
      {"Session(\"cart\") = 3;", "Session(\"cart\",  3);"},
      {"Application(\"hits\")=(Application(\"hits\") || 0) + 1",
       "Application(\"hits\", (Application(\"hits\") || 0) + 1)"},
      {"Response.Cookies(\"lang\") = \"de\";", "Response.Cookies(\"lang\",  \"de\");"},
      {"Session (\"a\")\t= b == c;", "Session (\"a\",  b == c);"},
      {"Session(k + \")\") = 1;", "Session(k + \")\",  1);"},
      {"Session(\"a\\\")\") = 1;", "Session(\"a\\\")\",  1);"},
      // The expression ends at ';', a line break or an enclosing bracket;
      // inside its own brackets and strings neither ends it.
      {"Session(\"a\") = [1, 2].join(\";\"); x = 1;", "Session(\"a\",  [1, 2].join(\";\")); x = 1;"},
      {"Session(\"a\") = f(1,\n2);", "Session(\"a\",  f(1,\n2));"},
      {"Session(\"a\") = 1\nSession(\"b\") = 2", "Session(\"a\",  1)\nSession(\"b\",  2)"},
      {"Session(\"a\") = 1 // kept\nx();", "Session(\"a\",  1 )// kept\nx();"},
      {"if (ok) { Session(\"a\") = 1 }", "if (ok) { Session(\"a\",  1 )}"},
      {"f(Session(\"a\") = g(x))", "f(Session(\"a\",  g(x)))"},
      {"Session(\"a\") = Session(\"b\"); Session(\"c\") = 2;", "Session(\"a\",  Session(\"b\")); Session(\"c\",  2);"},
      // A quote in a comment ends with its line and hides nothing after it.
      {"// don't\nSession(\"a\") = 1;", "// don't\nSession(\"a\",  1);"},
  };
  for (const auto& [code, expected] : cases) EXPECT_EQ(RewriteValueAssignments(code), expected) << code;
}

TEST(ValueAssignments, WhatOnlyLooksLikeAnAssignmentStaysAsWritten) {
  const char* const untouched[] = {
      "if (Session(\"a\") == 3) x();", "Session(\"n\") += 1;", "mySession(\"a\") = 1;", "obj.Session(\"a\") = 1;",
      "Application_(\"a\") = 1;", "Session.Abandon(); Session.Timeout = 5;",
      "Response.Write(\"Session('x') = 1\");", "Response.Write('Session(\"x\") = 1');",
      "Session(\"a\" = 1", "Session(\"a\")", "Session", "Response.Cookies", "",
  };
  for (const char* code : untouched) EXPECT_EQ(RewriteValueAssignments(code), code) << code;
}

}  // namespace
