// SQL files run before a page: split into statements at the semicolons that
// stand outside quotes and comments.
#pragma once

#include <string>
#include <vector>

// Statements without their terminating semicolon; blank ones are dropped.
std::vector<std::string> SplitSqlStatements(const std::string& script);
