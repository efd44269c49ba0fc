#include "QueryTableList.h"

#include <array>
#include <string_view>

#include "AsciiCase.h"

namespace {

bool IsTrimSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

void TrimLeft(std::string& text) {
  std::string::size_type n = 0;
  while (n < text.size() && IsTrimSpace(text[n])) ++n;
  text.erase(0, n);
}

void TrimRight(std::string& text) {
  std::string::size_type n = text.size();
  while (n > 0 && IsTrimSpace(text[n - 1])) --n;
  text.erase(n);
}

// The table list and its upper-cased twin; every cut is made on both at the
// same position so that keyword positions found in the twin stay valid.
struct TwinText {
  std::string text;
  std::string upper;

  void CutAt(std::string_view keyword) {
    const auto p = upper.find(keyword);
    if (p == std::string::npos) return;
    text.erase(p);
    upper.erase(p);
  }
  void Remove(std::string_view keyword, std::string_view replacement = {}) {
    const auto p = upper.find(keyword);
    if (p == std::string::npos) return;
    text.replace(p, keyword.size(), replacement);
    upper.replace(p, keyword.size(), replacement);
  }
};

}  // namespace

std::string ExtractQueryTableList(const std::string& sql) {
  const auto from = UpperAscii(sql).find("FROM");
  if (from == std::string::npos || from == 0) return std::string();

  TwinText list;
  list.text = sql.substr(from + 4);
  list.upper = UpperAscii(list.text);

  // Everything from the first clause keyword on is not part of the list; ON
  // also ends it, so tables joined after the first ON are not seen.
  static constexpr std::array<std::string_view, 5> kClauseKeywords = {"WHERE", "ORDER BY", "GROUP BY",
                                                                      "HAVING", "ON"};
  for (const auto keyword : kClauseKeywords) list.CutAt(keyword);

  // Join words: a JOIN separates two tables like a comma; LEFT, RIGHT and
  // OUTER just go. INNER stays and falls away with the alias rule.
  list.Remove("OUTER");
  list.Remove("JOIN", ",");
  list.Remove("LEFT");
  list.Remove("RIGHT");

  TrimLeft(list.text);
  TrimRight(list.text);
  return list.text;
}

std::vector<std::string> SplitQueryTableNames(const std::string& tableList) {
  std::vector<std::string> names;
  std::string rest = tableList;
  while (!rest.empty()) {
    std::string entry;
    const auto comma = rest.find(',');
    if (comma != std::string::npos) {
      entry = rest.substr(0, comma);
      rest.erase(0, comma + 1);
      TrimLeft(rest);
    } else {
      entry.swap(rest);
    }
    // Only the blank separates name and alias: a name followed by a line
    // break keeps the break and so matches no table.
    const auto blank = entry.find(' ');
    names.push_back(blank == std::string::npos ? entry : entry.substr(0, blank));
  }
  return names;
}

std::vector<std::string> QueryTableNames(const std::string& sql) {
  return SplitQueryTableNames(ExtractQueryTableList(sql));
}
