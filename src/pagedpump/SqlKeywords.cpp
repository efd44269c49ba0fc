#include "SqlKeywords.h"

#include "../../platform/com/AsciiCase.h"

namespace {

bool IsWordChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' ||
         u == '$' || u >= 0x80;
}

// Whether keyword stands at pos as whole words.
bool MatchesAt(std::string_view sql, size_t pos, std::string_view keyword) {
  if (pos > 0 && IsWordChar(sql[pos - 1])) return false;
  size_t i = pos;
  for (const char k : keyword) {
    if (k == ' ') {
      const size_t start = i;
      while (i < sql.size() && IsAsciiSpace(sql[i])) ++i;
      if (i == start) return false;
    } else {
      if (i >= sql.size() || LowerAsciiChar(sql[i]) != k) return false;
      ++i;
    }
  }
  return i == sql.size() || !IsWordChar(sql[i]);
}

// The position after the quoted part that opens at pos; a doubled quote
// character stands for itself. An unclosed quote runs to the end.
size_t SkipQuoted(std::string_view sql, size_t pos) {
  const char quote = sql[pos];
  for (size_t i = pos + 1; i < sql.size(); ++i) {
    if (sql[i] != quote) continue;
    if (i + 1 < sql.size() && sql[i + 1] == quote) {
      ++i;
      continue;
    }
    return i + 1;
  }
  return sql.size();
}

// The position after the comment that opens at pos, or pos when none does.
size_t SkipComment(std::string_view sql, size_t pos) {
  const std::string_view rest = sql.substr(pos);
  if (rest.starts_with("--")) {
    const size_t end = sql.find('\n', pos);
    return end == std::string_view::npos ? sql.size() : end + 1;
  }
  if (rest.starts_with("/*")) {
    const size_t end = sql.find("*/", pos + 2);
    return end == std::string_view::npos ? sql.size() : end + 2;
  }
  return pos;
}

}  // namespace

std::vector<size_t> FindSqlKeyword(std::string_view sql, std::string_view keyword, KeywordDepth depth) {
  std::vector<size_t> hits;
  if (keyword.empty()) return hits;
  int nesting = 0;
  for (size_t i = 0; i < sql.size();) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {
      i = SkipQuoted(sql, i);
      continue;
    }
    if (c == '-' || c == '/') {
      if (const size_t after = SkipComment(sql, i); after != i) {
        i = after;
        continue;
      }
    }
    if (c == '(') {
      ++nesting;
    } else if (c == ')') {
      // A stray closing parenthesis does not hide the rest of the text.
      if (nesting > 0) --nesting;
    } else if ((depth == KeywordDepth::Anywhere || nesting == 0) && LowerAsciiChar(c) == keyword.front() &&
               MatchesAt(sql, i, keyword)) {
      hits.push_back(i);
    }
    ++i;
  }
  return hits;
}
