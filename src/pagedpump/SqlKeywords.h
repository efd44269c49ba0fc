// Finding clause keywords in an SQL text as the database reads them: as
// whole words, in any letter case, with any white space between the words
// of a keyword, and never inside a quoted text, a quoted name or a comment.
#pragma once

#include <string_view>
#include <vector>

enum class KeywordDepth {
  TopLevel,  // only outside every parenthesis: clauses of the statement itself
  Anywhere   // also in subqueries and function arguments
};

// Start positions of every occurrence of keyword (lower case, its words
// separated by one blank) in sql, in text order.
std::vector<size_t> FindSqlKeyword(std::string_view sql, std::string_view keyword, KeywordDepth depth);

inline bool HasSqlKeyword(std::string_view sql, std::string_view keyword, KeywordDepth depth) {
  return !FindSqlKeyword(sql, keyword, depth).empty();
}
