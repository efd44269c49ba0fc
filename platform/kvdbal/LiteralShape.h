// The shape of an SQL text: the text with its integer and string literals
// replaced by parameter marks, and the literals taken out. Texts that one
// template formats with different ids or names share a shape, so one
// prepared statement serves them all with the literals bound.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvdbal {

struct ShapeLiteral {
  enum class Kind { Integer, Text } kind;
  long long integer = 0;
  std::string text;  // the text's value, quotes taken off and doubled quotes undone
};

struct LiteralShape {
  std::string text;
  std::vector<ShapeLiteral> literals;
};

// The shape of one statement, marks made by placeholder(1), placeholder(2),
// ... Only literals that bind exactly as they stand are taken out: integers
// in the 64-bit range and plain string literals, not numbers of ORDER BY or
// GROUP BY (positions), nothing of a select list (it names its columns),
// nothing inside IN (...), comments or quoted names, and nothing of a text
// that already has parameters. Statements other than
// SELECT, INSERT, UPDATE, DELETE and WITH, several statements in one text and
// any text not read to its end surely give nullopt: run it as it is.
std::optional<LiteralShape> ShapeOf(std::string_view sql,
                                    const std::function<std::string(int)>& placeholder);

}  // namespace kvdbal
