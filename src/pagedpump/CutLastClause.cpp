#include <array>
#include <string_view>

#include "../../platform/com/AsciiCase.h"
#include "CountStatements.h"
#include "SqlKeywords.h"

std::string CutLastClause(const std::string& text, const std::string& keyword) {
  const std::vector<size_t> hits = FindSqlKeyword(text, LowerAscii(keyword), KeywordDepth::TopLevel);
  if (hits.empty()) return text;
  const size_t cut = hits.back();

  // A row limit after the sort clause decides how many rows there are, so it
  // stays; the sort clause alone goes.
  static constexpr std::array<std::string_view, 3> kRowLimits = {"limit", "offset", "fetch"};
  size_t limit = text.size();
  for (const std::string_view word : kRowLimits)
    for (const size_t hit : FindSqlKeyword(text, word, KeywordDepth::TopLevel))
      if (hit > cut && hit < limit) limit = hit;
  return text.substr(0, cut) + text.substr(limit);
}
