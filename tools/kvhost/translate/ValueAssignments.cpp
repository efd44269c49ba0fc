#include "translate/ValueAssignments.h"

#include "platform/com/AsciiCase.h"

namespace {

constexpr std::string_view kTargets[] = {"Response.Cookies", "Application", "Session"};

bool IsNameChar(char c) { return IsAsciiAlnum(c) || c == '_' || c == '$' || c == '.'; }

// Index just past the string literal that starts at i.
size_t SkipString(std::string_view code, size_t i) {
  const char quote = code[i];
  for (++i; i < code.size() && code[i] != quote && code[i] != '\n'; ++i)
    if (code[i] == '\\') ++i;
  return i < code.size() ? i + 1 : code.size();
}

// From i, skipping string literals and nested brackets, the index of the
// first bracket that closes a bracket opened before i, or with
// statementEnds also of a ';', a line break or a line comment outside
// nested brackets (the call's ')' must not end up inside the comment);
// npos when the code ends first.
size_t ScanToEnd(std::string_view code, size_t i, bool statementEnds) {
  int depth = 0;
  while (i < code.size()) {
    char c = code[i];
    if (c == '"' || c == '\'') {
      i = SkipString(code, i);
      continue;
    }
    if (c == '(' || c == '[' || c == '{') ++depth;
    if (c == ')' || c == ']' || c == '}') {
      if (depth == 0) return i;
      --depth;
    }
    if (statementEnds && depth == 0 && (c == ';' || c == '\n' || code.substr(i, 2) == "//")) return i;
    ++i;
  }
  return std::string_view::npos;
}

// From i (just past an opening bracket), the index of the bracket that
// closes it; npos when it is not closed.
size_t ClosingBracket(std::string_view code, size_t i) { return ScanToEnd(code, i, false); }

// The end of the assigned expression: ';', a line break or a closing
// bracket at its own depth, or the end of the code.
size_t ExpressionEnd(std::string_view code, size_t i) {
  const size_t end = ScanToEnd(code, i, true);
  return end == std::string_view::npos ? code.size() : end;
}

// The target named at i, or "" (it must stand alone, not end a longer name).
std::string_view TargetAt(std::string_view code, size_t i) {
  if (i > 0 && IsNameChar(code[i - 1])) return {};
  for (std::string_view target : kTargets)
    if (code.substr(i, target.size()) == target) return target;
  return {};
}

}  // namespace

std::string RewriteValueAssignments(std::string_view code) {
  std::string out;
  size_t i = 0;
  while (i < code.size()) {
    char c = code[i];
    if (c == '"' || c == '\'') {
      size_t end = SkipString(code, i);
      out.append(code.substr(i, end - i));
      i = end;
      continue;
    }
    std::string_view target = TargetAt(code, i);
    size_t open = i + target.size();
    while (!target.empty() && open < code.size() && code[open] == ' ') ++open;
    if (target.empty() || open >= code.size() || code[open] != '(') {
      out += c;
      ++i;
      continue;
    }
    size_t close = ClosingBracket(code, open + 1);
    size_t eq = close == std::string_view::npos ? close : close + 1;
    while (eq < code.size() && (code[eq] == ' ' || code[eq] == '\t')) ++eq;
    if (eq >= code.size() || code[eq] != '=' || (eq + 1 < code.size() && code[eq + 1] == '=')) {
      out.append(code.substr(i, open + 1 - i));
      i = open + 1;
      continue;
    }
    size_t end = ExpressionEnd(code, eq + 1);
    out.append(code.substr(i, close - i));
    out += ", ";
    out.append(code.substr(eq + 1, end - eq - 1));
    out += ")";
    i = end;
  }
  return out;
}
