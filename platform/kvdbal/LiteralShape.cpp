#include "LiteralShape.h"

#include <cctype>
#include <charconv>

#include "SqlText.h"

namespace kvdbal {
namespace {

// ASCII only, whatever the C locale says: SQL's words are ASCII, and these
// run for every character of every statement read.
bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsIdentifierStart(char c) { return IsAsciiLetter(c) || c == '_'; }
bool IsIdentifierChar(char c) { return IsAsciiLetter(c) || IsDigit(c) || c == '_' || c == '$'; }

// Reads sql once from left to right, copying what stays and taking out what
// can be bound. Any construct it does not know for sure ends the reading.
class ShapeReader {
 public:
  ShapeReader(std::string_view sql, const std::function<std::string(int)>& placeholder)
      : m_sql(sql), m_placeholder(placeholder) {}

  std::optional<LiteralShape> Read() {
    if (!StartsWithDataStatement()) return std::nullopt;
    m_shape.text.reserve(m_sql.size() + 8);
    while (m_pos < m_sql.size()) {
      if (!Step()) return std::nullopt;
    }
    if (m_depth != 0) return std::nullopt;
    FlushCopied();
    return std::move(m_shape);
  }

 private:
  bool StartsWithDataStatement() {
    size_t i = 0;
    while (i < m_sql.size() && (std::isspace(static_cast<unsigned char>(m_sql[i])) || m_sql[i] == '('))
      ++i;
    size_t end = i;
    while (end < m_sql.size() && IsIdentifierChar(m_sql[end])) ++end;
    const std::string_view word = m_sql.substr(i, end - i);
    for (std::string_view w : {"SELECT", "INSERT", "UPDATE", "DELETE", "WITH"})
      if (EqualsIgnoringAsciiCase(word, w)) return true;
    return false;
  }

  bool Step() {
    const char c = m_sql[m_pos];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') return Copy(1);
    if (c == '-' && Next() == '-') return CopyLineComment();
    if (c == '/' && Next() == '*') return CopyBlockComment();
    // Only "IN (" opens a list; "IN" before anything else does not.
    if (c != '(' && !IsIdentifierStart(c)) m_inListFollows = false;
    if (c == '\'') return TakeString();
    if (c == '"' || c == '`') return CopyQuotedName(c, c);
    if (c == '[') return CopyQuotedName('[', ']');
    if (IsDigit(c) || (c == '.' && IsDigit(Next()))) return TakeNumber();
    if (IsIdentifierStart(c)) return ReadWord();
    // Parameters of the caller's own (?, ?1, :name, @name, $1, $tag$) mean
    // the text is not one of formatted literals.
    if (c == '?' || c == '@' || c == '$' || (c == ':' && IsIdentifierChar(Next()))) return false;
    if (c == ';') return TrailingSemicolons();
    if (c == '(') {
      ++m_depth;
      if (m_inListFollows && m_depth < m_inListDepth) m_inListDepth = m_depth;
      m_inListFollows = false;
      m_lastWord.clear();
      m_previousAllowsLiteral = true;
      return Copy(1);
    }
    if (c == ')') {
      if (--m_depth < 0) return false;
      if (m_depth < m_noLiteralDepth) m_noLiteralDepth = kNone;
      if (m_depth < m_inListDepth) m_inListDepth = kNone;
      if (m_depth < m_selectListDepth) m_selectListDepth = kNone;
      m_previousAllowsLiteral = false;
      m_lastWord.clear();
      return Copy(1);
    }
    if (c == ':' && Next() == ':') return false;  // a cast: the literal's type would change
    // Operators and commas: a literal may follow.
    m_previousAllowsLiteral = c != '.';
    m_lastWord.clear();
    return Copy(1);
  }

  char Next() const { return m_pos + 1 < m_sql.size() ? m_sql[m_pos + 1] : '\0'; }

  // What stays is copied in runs: each literal taken ends one.
  bool Copy(size_t n) {
    m_pos += n;
    return true;
  }
  void FlushCopied() {
    m_shape.text.append(m_sql.substr(m_copiedFrom, m_pos - m_copiedFrom));
    m_copiedFrom = m_pos;
  }

  bool CopyLineComment() {
    size_t end = m_sql.find('\n', m_pos);
    return Copy((end == std::string_view::npos ? m_sql.size() : end) - m_pos);
  }

  bool CopyBlockComment() {
    const size_t end = m_sql.find("*/", m_pos + 2);
    if (end == std::string_view::npos) return false;
    // Nested comments (PostgreSQL has them) are not read for sure.
    if (m_sql.substr(m_pos + 2, end - m_pos - 2).find("/*") != std::string_view::npos) return false;
    return Copy(end + 2 - m_pos);
  }

  bool CopyQuotedName(char open, char close) {
    size_t i = m_pos + 1;
    for (;;) {
      if (i >= m_sql.size()) return false;
      if (m_sql[i] == close) {
        if (open == close && i + 1 < m_sql.size() && m_sql[i + 1] == close) {
          i += 2;
          continue;
        }
        break;
      }
      ++i;
    }
    m_previousAllowsLiteral = false;
    m_lastWord.clear();
    return Copy(i + 1 - m_pos);
  }

  // A string literal: taken out where a literal may stand, else copied.
  bool TakeString() {
    // A prefix glued to the quote (E'', X'', N'', B'') makes another kind
    // of literal. A type name before it (DATE '...') allows no literal to
    // be taken, so that one stays in the text.
    if (m_pos > 0 && IsIdentifierChar(m_sql[m_pos - 1])) return false;
    std::string value;
    size_t i = m_pos + 1;
    for (;;) {
      if (i >= m_sql.size()) return false;
      if (m_sql[i] == '\'') {
        if (i + 1 < m_sql.size() && m_sql[i + 1] == '\'') {
          value.push_back('\'');
          i += 2;
          continue;
        }
        break;
      }
      value.push_back(m_sql[i++]);
    }
    const size_t end = i + 1;
    if (!LiteralMayBeTakenHere()) {
      Copy(end - m_pos);
    } else {
      Take(ShapeLiteral{ShapeLiteral::Kind::Text, 0, std::move(value)}, end);
    }
    m_previousAllowsLiteral = false;
    m_lastWord.clear();
    return true;
  }

  bool TakeNumber() {
    size_t i = m_pos;
    while (i < m_sql.size() && IsDigit(m_sql[i])) ++i;
    bool integral = true;
    if (i < m_sql.size() && m_sql[i] == '.') {
      integral = false;
      ++i;
      while (i < m_sql.size() && IsDigit(m_sql[i])) ++i;
    }
    if (i < m_sql.size() && (m_sql[i] == 'e' || m_sql[i] == 'E')) {
      integral = false;
      ++i;
      if (i < m_sql.size() && (m_sql[i] == '+' || m_sql[i] == '-')) ++i;
      if (i >= m_sql.size() || !IsDigit(m_sql[i])) return false;
      while (i < m_sql.size() && IsDigit(m_sql[i])) ++i;
    }
    // 0x1F, 12abc: not a plain number.
    if (i < m_sql.size() && (IsIdentifierChar(m_sql[i]) || m_sql[i] == '.')) return false;
    bool taken = false;
    // Only integers: a decimal's value and type differ between engines and
    // their text and binary forms.
    if (integral && LiteralMayBeTakenHere()) {
      long long value = 0;
      const char* last = m_sql.data() + i;
      const auto read = std::from_chars(m_sql.data() + m_pos, last, value);
      if (read.ec == std::errc() && read.ptr == last) {
        Take(ShapeLiteral{ShapeLiteral::Kind::Integer, value, {}}, i);
        taken = true;
      }
    }
    if (!taken) Copy(i - m_pos);
    m_previousAllowsLiteral = false;
    m_lastWord.clear();
    return true;
  }

  bool ReadWord() {
    size_t i = m_pos;
    while (i < m_sql.size() && IsIdentifierChar(m_sql[i])) ++i;
    // Keywords are compared in lower case; a word longer than any keyword
    // is none.
    const size_t length = i - m_pos;
    char lower[kLongestKeyword + 1];
    std::string_view word;
    if (length <= kLongestKeyword) {
      for (size_t k = 0; k < length; ++k)
        lower[k] = AsciiLower(m_sql[m_pos + k]);
      word = std::string_view(lower, length);
    }
    // Numbers after ORDER BY and GROUP BY are column positions; a LIMIT may
    // follow there too. Nothing is taken out until the clause's level ends.
    if (word == "by" && (m_lastWord == "order" || m_lastWord == "group")) {
      if (m_depth < m_noLiteralDepth) m_noLiteralDepth = m_depth;
    }
    // IN (...) lists come in every length; each length would be a shape of
    // its own, so their members stay in the text.
    m_inListFollows = word == "in";
    // A select list keeps its literals: an unnamed column is named by its
    // expression's text, which must stay the caller's.
    if (word == "select" && m_depth < m_selectListDepth) m_selectListDepth = m_depth;
    if (word == "from" && m_depth == m_selectListDepth) m_selectListDepth = kNone;
    m_previousAllowsLiteral = AllowsLiteralAfter(word);
    m_lastWord.assign(word);
    return Copy(length);
  }

  static constexpr size_t kLongestKeyword = 8;  // "distinct", "between"

  // word in lower case.
  static bool AllowsLiteralAfter(std::string_view word) {
    for (std::string_view w : {"and", "or", "not", "where", "when", "then", "else", "like",
                               "between", "limit", "offset", "values", "on",
                               "having", "set", "distinct", "all"})
      if (word == w) return true;
    return false;
  }

  bool LiteralMayBeTakenHere() {
    if (m_noLiteralDepth != kNone && m_depth >= m_noLiteralDepth) return false;
    if (m_inListDepth != kNone && m_depth >= m_inListDepth) return false;
    if (m_selectListDepth != kNone && m_depth >= m_selectListDepth) return false;
    return m_previousAllowsLiteral;
  }

  // The literal standing from m_pos to end goes out, its mark in.
  void Take(ShapeLiteral literal, size_t end) {
    FlushCopied();
    m_shape.literals.push_back(std::move(literal));
    m_shape.text += m_placeholder(static_cast<int>(m_shape.literals.size()));
    m_pos = m_copiedFrom = end;
  }

  bool TrailingSemicolons() {
    for (size_t i = m_pos; i < m_sql.size(); ++i)
      if (m_sql[i] != ';' && !std::isspace(static_cast<unsigned char>(m_sql[i]))) return false;
    return Copy(m_sql.size() - m_pos);
  }

  static constexpr int kNone = 1 << 30;

  std::string_view m_sql;
  const std::function<std::string(int)>& m_placeholder;
  LiteralShape m_shape;
  size_t m_pos = 0;
  size_t m_copiedFrom = 0;  // the start of the run not yet in m_shape.text
  int m_depth = 0;
  int m_noLiteralDepth = kNone;
  int m_inListDepth = kNone;
  int m_selectListDepth = kNone;
  bool m_inListFollows = false;
  bool m_previousAllowsLiteral = false;
  std::string m_lastWord;
};

}  // namespace

std::optional<LiteralShape> ShapeOf(std::string_view sql,
                                    const std::function<std::string(int)>& placeholder) {
  return ShapeReader(sql, placeholder).Read();
}

}  // namespace kvdbal
