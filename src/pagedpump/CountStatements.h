// The statements that count the rows of a paged query before its page is
// opened. Pure text work: the caller runs them.
#pragma once

#include <string>

// The text without the last clause that keyword opens at the top level of
// the statement; a row limit (LIMIT, OFFSET, FETCH) after that clause stays.
// Unchanged when the keyword stands only in quotes, comments or parentheses.
std::string CutLastClause(const std::string& text, const std::string& keyword);

struct CountStatements {
  // Run first when the query's rows are counted through the temporary table
  // (the caller drops it afterwards); empty otherwise.
  std::string fillTemporaryTable;
  // The statement whose first column is the count; empty when the query has
  // no FROM to count by.
  std::string count;
};

// How the rows of query are counted on a server of serverType: a query whose
// rows are not those of its FROM clause (DISTINCT, GROUP BY, a row limit, a
// UNION) as a whole, any other by replacing its select list with COUNT(*).
CountStatements CountStatementsFor(const std::string& query, long serverType);
