// What the layer needs to know about a caller's SQL text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "../com/AsciiCase.h"

namespace kvdbal {

// The table that "SELECT ... FROM table [[AS] alias] [WHERE|ORDER BY|...]"
// reads; "" when the text is no SELECT or reads more than one table (a join,
// a comma list or a subquery in FROM).
std::string SingleTableOf(std::string_view sql);

// True when a statement of sql is a CREATE, DROP or ALTER, after which
// cached facts about tables may be stale.
bool ChangesSchema(std::string_view sql);

// The statements of a text separated by ';', for engines that run one at a
// time: a ';' inside quotes or a comment separates nothing, and blank
// statements are left out.
std::vector<std::string_view> SplitStatements(std::string_view sql);

// True for a query that a LIMIT ... OFFSET ... may follow: one SELECT (or
// WITH) with no LIMIT, FETCH, FOR, INTO or PROCEDURE clause of its own and
// nothing after a ';'.
bool TakesALimit(std::string_view sql);

}  // namespace kvdbal
