#include "LangTexts.h"

#include "Format.h"

std::string LangTextKey(const std::string& field, const std::string& ident, LONG lcid) {
  return Format("%s_%s_%d", field.c_str(), ident.c_str(), static_cast<int>(lcid));
}

std::string TranslateMultiValue(const CLangTextMap& texts, const std::string& field,
                                const std::string& stored, LONG lcid) {
  std::string result;
  std::string::size_type pos = 0;
  while (pos < stored.size()) {
    const std::string::size_type bar = stored.find('|', pos);
    const std::string::size_type end = bar == std::string::npos ? stored.size() : bar;
    const std::string token = stored.substr(pos, end - pos);
    pos = bar == std::string::npos ? stored.size() : bar + 1;
    const auto it = texts.find(LangTextKey(field, token, lcid));
    result += it != texts.end() ? it->second : token;
    if (pos < stored.size()) result += '|';
  }
  return result.empty() ? stored : result;
}
