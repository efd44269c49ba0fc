// Finding the tables a query reads: the names listed in the FROM clause of
// an SQL text, cut with the same rough keyword rules the language text
// loading has always used (plain substring searches, so the letters of a
// keyword inside a name count as the keyword). Pure text work, no database.
#pragma once

#include <string>
#include <vector>

// The table list of sql: the text after the first "FROM" (any letter case),
// cut at the clause keywords, with the join words removed and white space
// trimmed from both ends. Empty when there is no FROM or the text begins
// with it.
std::string ExtractQueryTableList(const std::string& sql);

// The table names of a table list, in order: entries are separated by ',',
// and each name runs up to the entry's first blank (an alias follows it).
std::vector<std::string> SplitQueryTableNames(const std::string& tableList);

// Both steps together.
std::vector<std::string> QueryTableNames(const std::string& sql);

// The tables whose option texts a query loads: the names of QueryTableNames
// that are plain table names (no function call, subquery or quoted text),
// each once, in the order of their last mention.
std::vector<std::string> QueryTextTables(const std::string& sql);
