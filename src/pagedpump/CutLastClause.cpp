#include "../common/AsciiCase.h"
#include "KvDRPump.h"

std::string CutLastClause(const std::string& text, const std::string& keyword) {
  const std::string lower = LowerAscii(text);
  const std::string key = LowerAscii(keyword);
  const auto lastApostrophe = lower.rfind('\'');

  auto hit = lower.find(key);
  if (hit == std::string::npos) return text;
  for (auto next = lower.find(key, hit + 1); next != std::string::npos;
       next = lower.find(key, next + 1))
    hit = next;

  // A keyword before the last apostrophe may sit inside a quoted literal;
  // cutting there could break the statement, so it is left whole.
  if (lastApostrophe == std::string::npos || hit > lastApostrophe) return text.substr(0, hit);
  return text;
}
