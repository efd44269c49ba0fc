#include "QueryTableList.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <unordered_set>

#include "../../platform/com/AsciiCase.h"

namespace {

void TrimLeft(std::string& text) {
  std::string::size_type n = 0;
  while (n < text.size() && IsAsciiSpace(text[n])) ++n;
  text.erase(0, n);
}

void TrimRight(std::string& text) {
  std::string::size_type n = text.size();
  while (n > 0 && IsAsciiSpace(text[n - 1])) --n;
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
  // Walks the list by position: erasing each entry from the front would
  // make a long FROM list cost the square of its length.
  std::vector<std::string> names;
  const std::string_view list = tableList;
  size_t pos = 0;
  while (pos < list.size()) {
    const size_t comma = list.find(',', pos);
    const std::string_view entry = list.substr(pos, comma == std::string_view::npos ? comma : comma - pos);
    pos = list.size();
    if (comma != std::string_view::npos)
      for (pos = comma + 1; pos < list.size() && IsAsciiSpace(list[pos]);) ++pos;
    // Only the blank separates name and alias: a name followed by a line
    // break keeps the break and so matches no table.
    names.emplace_back(entry.substr(0, entry.find(' ')));
  }
  return names;
}

std::vector<std::string> QueryTableNames(const std::string& sql) {
  return SplitQueryTableNames(ExtractQueryTableList(sql));
}

namespace {

// A name that can stand between the quotes of the data pack lookup and be a
// table there; a function call, a subquery or a quoted text is none.
bool IsPlainTableName(std::string_view name) {
  if (name.empty()) return false;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    const bool plain = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
                       u == '_' || u == '$' || u == '#' || u == '.' || u >= 0x80;
    if (!plain) return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> QueryTextTables(const std::string& sql) {
  // Walking from the end keeps each name at its last mention, which is where
  // its texts would have won over those of the tables before it.
  std::vector<std::string> names = QueryTableNames(sql);
  std::unordered_set<std::string> seen;
  std::vector<std::string> tables;
  for (auto it = names.rbegin(); it != names.rend(); ++it)
    if (IsPlainTableName(*it) && seen.insert(*it).second) tables.push_back(std::move(*it));
  std::reverse(tables.begin(), tables.end());
  return tables;
}
