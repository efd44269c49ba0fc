#include "LangTexts.h"

// Placeholder until the query text loading lands.
void LoadQueryLangTexts(CLangTextMap& texts, const std::string&, CKvDbConnection&, CKvDbRowset&) {
  texts.clear();
}
