// The paged pump's count. Arbitrary texts: the cut takes out one clause that
// begins with ORDER and keeps at most a row limit after it, and the count
// statement is one of its two forms over the cut text. Texts built around a
// sort clause: the cut removes exactly the last sort clause of the statement
// itself, never one inside parentheses, quotes or comments.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "platform/kvdbal/KvDbal.h"
#include "platform/com/AsciiCase.h"
#include "src/pagedpump/CountStatements.h"

namespace {

bool StartsWithWord(std::string_view text, size_t pos, std::string_view word) {
  if (pos > text.size() || text.size() - pos < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (LowerAsciiChar(text[pos + i]) != word[i]) return false;
  return true;
}

void CheckArbitrary(const std::string& text) {
  const std::string cut = CutLastClause(text, "order by");
  if (cut != text) {
    FUZZ_CHECK(cut.size() < text.size());
    size_t common = 0;
    while (common < cut.size() && cut[common] == text[common]) ++common;
    bool explained = false;
    for (size_t k = 0; k <= common && !explained; ++k) {
      if (!StartsWithWord(text, k, "order")) continue;
      const std::string_view kept = std::string_view(cut).substr(k);
      explained = text.ends_with(kept) &&
                  (kept.empty() || StartsWithWord(kept, 0, "limit") ||
                   StartsWithWord(kept, 0, "offset") || StartsWithWord(kept, 0, "fetch"));
    }
    FUZZ_CHECK(explained);
  }

  const std::string prefix = "SELECT COUNT(*) AS lcount";
  const CountStatements standard = CountStatementsFor(text, kvDbServerStandard);
  const CountStatements temporary = CountStatementsFor(text, kvDbServerTempInto);
  FUZZ_CHECK(standard.fillTemporaryTable.empty());
  if (standard.count == prefix + " FROM (" + cut + ") tmptbl99") {
    FUZZ_CHECK(temporary.fillTemporaryTable == cut + " INTO TEMP tmptbl100");
    FUZZ_CHECK(temporary.count == "SELECT COUNT(*) AS lcount FROM tmptbl100");
  } else {
    FUZZ_CHECK(temporary.fillTemporaryTable.empty() && temporary.count == standard.count);
    if (!standard.count.empty()) {
      FUZZ_CHECK(standard.count.starts_with(prefix + " "));
      const std::string from = standard.count.substr(prefix.size());
      FUZZ_CHECK(cut.ends_with(from) && StartsWithWord(from, 1, "from"));
    }
  }
}

// Statement text without quotes, parentheses or comment marks.
std::string PlainText(std::string_view bytes) {
  static constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz ORDERBYLIMT\t\n,=*.01";
  std::string text;
  for (const char c : bytes) text += kAlphabet[static_cast<unsigned char>(c) % kAlphabet.size()];
  return text;
}

void CheckBuilt(std::string_view bytes) {
  const size_t half = bytes.find('|');
  const std::string p = PlainText(bytes.substr(0, half));
  const std::string q = half == std::string_view::npos ? std::string() : PlainText(bytes.substr(half + 1));
  std::string inner = q;
  for (char& c : inner)
    if (c == '\n') c = ' ';  // stays inside a line comment

  const std::array<std::pair<std::string, std::string>, 6> cases = {{
      {p + " ORDER BY x", p + " "},
      {p + " (" + q + " ORDER BY y) ORDER BY x", p + " (" + q + " ORDER BY y) "},
      {p + " ORDER BY x = '" + q + " order by y'", p + " "},
      {p + " ORDER BY x -- " + inner + " ORDER BY y", p + " "},
      {p + " ORDER BY x /* " + q + " ORDER BY y */", p + " "},
      {p + " ORDER BY x LIMIT 3", p + " LIMIT 3"},
  }};
  for (const auto& [text, expected] : cases) FUZZ_CHECK(CutLastClause(text, "order by") == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] & 1) {
    CheckBuilt(rest);
  } else {
    CheckArbitrary(std::string(rest));
  }
  return 0;
}
