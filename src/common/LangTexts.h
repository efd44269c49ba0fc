// The language text map and the multi-value translation through it.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "../outside/KvDbal.h"

// Key "%s_%s_%d" (field name, stored option value, LCID) -> text.
using CLangTextMap = std::unordered_map<std::string, std::string>;

std::string LangTextKey(const std::string& field, const std::string& ident, LONG lcid);

// Splits stored at '|', replaces each token by its text for (field, lcid)
// when the map has one, and joins with '|' again. A trailing separator is
// dropped; an empty translation gives back the stored text itself.
std::string TranslateMultiValue(const CLangTextMap& texts, const std::string& field,
                                const std::string& stored, LONG lcid);

// A control whose option texts are translated: the name of its data field
// and the id under which its texts are stored.
struct LangTextControl {
  std::string strFieldName;
  LONG lControlId;
};

// Appends the non-system controls of a data pack to controls, using the
// caller's connection and rowset (left closed).
void CollectDataPackControls(std::vector<LangTextControl>& controls, LONG datapackId,
                             CKvDbConnection& connection, CKvDbRowset& rowset);

// Puts the option texts of controls into texts, in their order: a later
// control's text replaces an earlier one of the same key.
void AddControlLangTexts(CLangTextMap& texts, const std::vector<LangTextControl>& controls,
                         CKvDbConnection& connection, CKvDbRowset& rowset);

// Empties texts and fills it with the option texts of the controls of every
// table named in the FROM clause of sql, using the caller's connection and
// rowset (left closed). Access-layer exceptions go to the caller.
void LoadQueryLangTexts(CLangTextMap& texts, const std::string& sql, CKvDbConnection& connection,
                        CKvDbRowset& rowset);
