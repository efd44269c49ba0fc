#include "SqlText.h"

#include <cctype>
#include <vector>

namespace kvdbal {
namespace {

struct Token {
  enum Kind { Word, Quoted, Literal, Punct } kind;
  std::string_view text;
  int depth;  // parenthesis depth at which the token stands
};

bool IsWordChar(char c) {
  return IsAsciiAlnum(c) || c == '_' || c == '$' || c == '.';
}

std::vector<Token> Tokenize(std::string_view sql) {
  std::vector<Token> tokens;
  int depth = 0;
  size_t i = 0;
  while (i < sql.size()) {
    char c = sql[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '\'' || c == '"') {
      size_t start = i++;
      while (i < sql.size()) {
        if (sql[i] == c) {
          if (i + 1 < sql.size() && sql[i + 1] == c) {
            i += 2;  // doubled quote inside the quoted text
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
      tokens.push_back({c == '"' ? Token::Quoted : Token::Literal, sql.substr(start, i - start), depth});
    } else if (IsWordChar(c)) {
      size_t start = i;
      while (i < sql.size() && IsWordChar(sql[i])) ++i;
      tokens.push_back({Token::Word, sql.substr(start, i - start), depth});
    } else {
      if (c == ')') --depth;
      tokens.push_back({Token::Punct, sql.substr(i, 1), depth});
      if (c == '(') ++depth;
      ++i;
    }
  }
  return tokens;
}

bool IsWord(const Token& t, std::string_view word) { return t.kind == Token::Word && EqualsIgnoringAsciiCase(t.text, word); }

bool EndsFromClause(const Token& t) {
  if (t.kind == Token::Punct) return t.text == ";";
  for (std::string_view w : {"WHERE", "ORDER", "GROUP", "HAVING", "LIMIT", "OFFSET", "FOR"})
    if (IsWord(t, w)) return true;
  return false;
}

bool IsClauseWord(const Token& t) {
  if (EndsFromClause(t)) return true;
  for (std::string_view w : {"JOIN", "INNER", "LEFT", "RIGHT", "FULL", "CROSS", "NATURAL", "OUTER",
                             "UNION", "EXCEPT", "INTERSECT", "ON", "USING"})
    if (IsWord(t, w)) return true;
  return false;
}

}  // namespace

bool ChangesSchema(std::string_view sql) {
  for (std::string_view statement : SplitStatements(sql)) {
    statement.remove_prefix(statement.find_first_not_of(" \t\r\n"));
    for (std::string_view word : {"CREATE", "DROP", "ALTER"})
      if (statement.size() >= word.size() && EqualsIgnoringAsciiCase(statement.substr(0, word.size()), word))
        return true;
  }
  return false;
}

std::vector<std::string_view> SplitStatements(std::string_view sql) {
  std::vector<std::string_view> statements;
  size_t start = 0, i = 0;
  const auto take = [&](size_t end) {
    std::string_view statement = sql.substr(start, end - start);
    if (statement.find_first_not_of(" \t\r\n") != std::string_view::npos) statements.push_back(statement);
  };
  while (i < sql.size()) {
    const char c = sql[i];
    if (c == '\'' || c == '"' || c == '`') {
      const size_t close = sql.find(c, i + 1);  // a doubled quote reopens at once
      i = close == std::string_view::npos ? sql.size() : close + 1;
    } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      const size_t end = sql.find('\n', i);
      i = end == std::string_view::npos ? sql.size() : end + 1;
    } else if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      const size_t end = sql.find("*/", i + 2);
      i = end == std::string_view::npos ? sql.size() : end + 2;
    } else if (c == ';') {
      take(i);
      start = ++i;
    } else {
      ++i;
    }
  }
  take(sql.size());
  return statements;
}

bool TakesALimit(std::string_view sql) {
  std::vector<Token> tokens = Tokenize(sql);
  while (!tokens.empty() && tokens.back().kind == Token::Punct && tokens.back().text == ";") tokens.pop_back();
  if (tokens.empty() || !(IsWord(tokens[0], "SELECT") || IsWord(tokens[0], "WITH"))) return false;
  for (const Token& t : tokens) {
    if (t.depth < 0 || (t.kind == Token::Punct && t.text == ";")) return false;
    // A comment may hide anything; such a text is left as it is.
    if (t.kind == Token::Punct && (t.text == "-" || t.text == "/" || t.text == "#")) {
      const size_t at = static_cast<size_t>(t.text.data() - sql.data());
      const char next = at + 1 < sql.size() ? sql[at + 1] : '\0';
      if (t.text == "#" || (t.text == "-" && next == '-') || (t.text == "/" && next == '*')) return false;
    }
    if (t.depth > 0) continue;
    for (std::string_view w : {"LIMIT", "FETCH", "FOR", "INTO", "PROCEDURE", "OFFSET", "LOCK"})
      if (IsWord(t, w)) return false;
  }
  return tokens.back().depth == 0;
}

std::string SingleTableOf(std::string_view sql) {
  std::vector<Token> tokens = Tokenize(sql);
  if (tokens.empty() || !IsWord(tokens[0], "SELECT")) return {};
  size_t i = 1;
  while (i < tokens.size() && !(tokens[i].depth == 0 && IsWord(tokens[i], "FROM"))) ++i;
  if (++i >= tokens.size()) return {};
  const Token& table = tokens[i];
  if (table.kind != Token::Word && table.kind != Token::Quoted) return {};
  ++i;
  if (i < tokens.size() && IsWord(tokens[i], "AS")) ++i;
  if (i < tokens.size() && (tokens[i].kind == Token::Word || tokens[i].kind == Token::Quoted) &&
      !IsClauseWord(tokens[i]))
    ++i;  // alias
  if (i < tokens.size() && !EndsFromClause(tokens[i])) return {};
  // A set operation further on makes the result more than one table's rows.
  for (; i < tokens.size(); ++i)
    if (tokens[i].depth == 0 && (IsWord(tokens[i], "UNION") || IsWord(tokens[i], "EXCEPT") ||
                                 IsWord(tokens[i], "INTERSECT")))
      return {};
  return std::string(table.text);
}

}  // namespace kvdbal
