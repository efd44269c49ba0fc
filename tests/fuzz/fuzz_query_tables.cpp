// The FROM-clause reader. Arbitrary texts: the names it finds are pieces of
// the text in their order, and the tables it looks up are a repeat-free
// choice of them that no quote or parenthesis can break. Texts built from a
// list of tables with aliases, one join and a trailing clause: the reader
// gives back exactly that list.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "platform/com/AsciiCase.h"
#include "src/common/QueryTableList.h"

namespace {

void CheckArbitrary(const std::string& sql) {
  const std::vector<std::string> names = QueryTableNames(sql);
  // Taking out a join word joins what stood around it; without one, every
  // name is a piece of the text, in text order.
  const std::string upper = UpperAscii(sql);
  bool joinWords = false;
  for (const char* word : {"OUTER", "JOIN", "LEFT", "RIGHT"})
    joinWords = joinWords || upper.find(word) != std::string::npos;
  size_t pos = 0;
  for (const std::string& name : names) {
    FUZZ_CHECK(name.find(',') == std::string::npos && name.find(' ') == std::string::npos);
    if (joinWords) continue;
    const size_t at = sql.find(name, pos);
    FUZZ_CHECK(at != std::string::npos);
    pos = at + name.size();
  }

  const std::vector<std::string> tables = QueryTextTables(sql);
  FUZZ_CHECK(std::set<std::string>(tables.begin(), tables.end()).size() == tables.size());
  std::ptrdiff_t previousLast = -1;
  for (const std::string& table : tables) {
    FUZZ_CHECK(!table.empty());
    FUZZ_CHECK(table.find_first_of("'\"()\t\n\r;") == std::string::npos);
    // Each table stands where the list names it last, in that order.
    const auto last = std::find(names.rbegin(), names.rend(), table);
    FUZZ_CHECK(last != names.rend());
    const std::ptrdiff_t index = names.rend() - last - 1;
    FUZZ_CHECK(index > previousLast);
    previousLast = index;
  }
}

// A lower-case name from fuzz bytes, or empty when it would hold a word
// that the reader takes for a clause or a join.
std::string NameFrom(std::string_view bytes) {
  static constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789_";
  std::string name;
  for (const char c : bytes) name += kAlphabet[static_cast<unsigned char>(c) % kAlphabet.size()];
  const std::string upper = UpperAscii(name);
  for (const char* word : {"WHERE", "HAVING", "ON", "OUTER", "JOIN", "LEFT", "RIGHT"})
    if (upper.find(word) != std::string::npos) return std::string();
  return name;
}

void CheckBuiltList(const uint8_t* data, size_t size) {
  if (size < 3) return;
  const uint8_t joinAt = data[0], joinKind = data[1], tailKind = data[2];
  const std::string_view rest(reinterpret_cast<const char*>(data + 3), size - 3);

  // Entries are separated by '|' in the input, a name and its alias by '.'.
  struct Entry {
    std::string name, alias;
  };
  std::vector<Entry> entries;
  for (size_t pos = 0; pos <= rest.size() && entries.size() < 8;) {
    size_t end = rest.find('|', pos);
    if (end == std::string_view::npos) end = rest.size();
    const std::string_view piece = rest.substr(pos, end - pos);
    const size_t dot = piece.find('.');
    Entry entry{NameFrom(piece.substr(0, dot)),
                dot == std::string_view::npos ? std::string() : NameFrom(piece.substr(dot + 1))};
    if (!entry.name.empty()) entries.push_back(entry);
    pos = end + 1;
  }
  if (entries.empty()) return;

  static constexpr std::array<const char*, 6> kJoins = {" JOIN ", " LEFT JOIN ", " LEFT OUTER JOIN ",
                                                        " RIGHT JOIN ", " RIGHT OUTER JOIN ",
                                                        " INNER JOIN "};
  static constexpr std::array<const char*, 3> kCommas = {", ", ",", ",\n\t "};
  static constexpr std::array<const char*, 5> kTails = {"", " WHERE a.lid=1", " ORDER BY a.lid",
                                                        " GROUP BY lid HAVING lid>1",
                                                        " ON a.lid=b.lparentid"};
  std::string sql = "SELECT * FROM ";
  std::vector<std::string> expected;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) {
      sql += i == joinAt % entries.size() ? kJoins[joinKind % kJoins.size()]
                                          : kCommas[(joinKind + i) % kCommas.size()];
    }
    sql += entries[i].name;
    if (!entries[i].alias.empty()) sql += " " + entries[i].alias;
    expected.push_back(entries[i].name);
  }
  sql += kTails[tailKind % kTails.size()];
  FUZZ_CHECK(QueryTableNames(sql) == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] & 1) {
    CheckBuiltList(data + 1, size - 1);
  } else {
    CheckArbitrary(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  }
  return 0;
}
