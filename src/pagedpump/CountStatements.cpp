#include "CountStatements.h"

#include <array>
#include <string_view>

#include "../../platform/kvdbal/KvDbal.h"
#include "SqlKeywords.h"

namespace {

// Whether the rows of base differ from the rows of its FROM clause, so that
// only counting the query as a whole gives its number of rows. DISTINCT and
// GROUP BY are looked for in subqueries too: counting as a whole is right
// for every query, the plain count only for some.
bool CountedAsAWhole(const std::string& base) {
  if (HasSqlKeyword(base, "distinct", KeywordDepth::Anywhere) ||
      HasSqlKeyword(base, "group by", KeywordDepth::Anywhere))
    return true;
  static constexpr std::array<std::string_view, 6> kRowShapers = {"limit", "offset", "fetch",
                                                                  "union", "intersect", "except"};
  for (const std::string_view word : kRowShapers)
    if (HasSqlKeyword(base, word, KeywordDepth::TopLevel)) return true;
  return false;
}

}  // namespace

CountStatements CountStatementsFor(const std::string& query, long serverType) {
  const std::string base = CutLastClause(query, "order by");
  CountStatements statements;
  if (CountedAsAWhole(base)) {
    if (serverType == kvDbServerTempInto) {
      statements.fillTemporaryTable = base + " INTO TEMP tmptbl100";
      statements.count = "SELECT COUNT(*) AS lcount FROM tmptbl100";
    } else {
      statements.count = "SELECT COUNT(*) AS lcount FROM (" + base + ") tmptbl99";
    }
    return statements;
  }
  // The statement's own FROM, written after a blank: one in a subquery of
  // the select list, or a word that begins with "from", is not it.
  const std::vector<size_t> froms = FindSqlKeyword(base, "from", KeywordDepth::TopLevel);
  if (!froms.empty() && froms.front() > 0 && base[froms.front() - 1] == ' ')
    statements.count = "SELECT COUNT(*) AS lcount" + base.substr(froms.front() - 1);
  return statements;
}
