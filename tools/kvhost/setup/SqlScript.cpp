#include "setup/SqlScript.h"

#include <cctype>

namespace {

bool IsBlank(const std::string& text) {
  for (char c : text)
    if (!std::isspace(static_cast<unsigned char>(c))) return false;
  return true;
}

// Comment-only text counts as blank as well, so a file may end with a comment.
bool HoldsStatement(const std::string& text) {
  std::string code;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "--") == 0) {
      while (i < text.size() && text[i] != '\n') ++i;
    } else if (text.compare(i, 2, "/*") == 0) {
      size_t end = text.find("*/", i + 2);
      i = end == std::string::npos ? text.size() : end + 1;
    } else {
      code.push_back(text[i]);
    }
  }
  return !IsBlank(code);
}

}  // namespace

std::vector<std::string> SplitSqlStatements(const std::string& script) {
  std::vector<std::string> statements;
  std::string current;
  auto finish = [&] {
    if (HoldsStatement(current)) statements.push_back(current);
    current.clear();
  };
  for (size_t i = 0; i < script.size(); ++i) {
    char c = script[i];
    if (c == '\'' || c == '"') {
      // A quoted text runs to the next unpaired quote of its kind; a doubled
      // quote inside stands for the quote itself.
      size_t end = i + 1;
      while (end < script.size()) {
        if (script[end] == c) {
          if (end + 1 < script.size() && script[end + 1] == c) {
            end += 2;
            continue;
          }
          break;
        }
        ++end;
      }
      current.append(script, i, end - i + 1);
      i = end;
    } else if (script.compare(i, 2, "--") == 0) {
      size_t end = script.find('\n', i);
      if (end == std::string::npos) end = script.size();
      current.append(script, i, end - i);
      i = end - 1;
    } else if (script.compare(i, 2, "/*") == 0) {
      size_t end = script.find("*/", i + 2);
      end = end == std::string::npos ? script.size() : end + 2;
      current.append(script, i, end - i);
      i = end - 1;
    } else if (c == ';') {
      finish();
    } else {
      current.push_back(c);
    }
  }
  finish();
  for (std::string& statement : statements) {
    size_t first = statement.find_first_not_of(" \t\r\n");
    size_t last = statement.find_last_not_of(" \t\r\n");
    statement = statement.substr(first, last - first + 1);
  }
  return statements;
}
