#include <utility>
#include <vector>

#include "Format.h"
#include "LangTexts.h"
#include "QueryTableList.h"
#include "RowsetOpen.h"

namespace {

// Appends the controls of the data pack stored in table; a table no data
// pack names adds nothing.
void CollectTableControls(std::vector<LangTextControl>& controls, const std::string& table,
                          CKvDbConnection& connection, CKvDbRowset& rowset) {
  LONG datapackId = 0;
  if (ReadFirstRow(rowset, connection,
                   Format("SELECT lid FROM krappdatapack WHERE strtable='%s'", table.c_str()),
                   [&](CKvDbRowset& row) {
                     datapackId = static_cast<LONG>(row.GetField(0)->GetLongValue());
                   }))
    CollectDataPackControls(controls, datapackId, connection, rowset);
}

}  // namespace

void CollectDataPackControls(std::vector<LangTextControl>& controls, LONG datapackId,
                             CKvDbConnection& connection, CKvDbRowset& rowset) {
  ReadEachRow(rowset, connection,
              Format("SELECT c.lid, f.strname FROM krappdatafield f, krappcontrol c WHERE "
                     "f.ldatapackid=%d AND f.bsystem=0 AND c.ldatafieldid=f.lid",
                     static_cast<int>(datapackId)),
              [&](CKvDbRowset& row) {
                controls.push_back({row.GetField(1)->GetStringValue(),
                                    static_cast<LONG>(row.GetField(0)->GetLongValue())});
              });
}

void AddControlLangTexts(CLangTextMap& texts, const std::vector<LangTextControl>& controls,
                         CKvDbConnection& connection, CKvDbRowset& rowset) {
  for (const LangTextControl& control : controls) {
    ReadEachRow(rowset, connection,
                Format("SELECT strident, lcid, strtext FROM krlang WHERE ltableid=%d AND ltype=7",
                       static_cast<int>(control.lControlId)),
                [&](CKvDbRowset& row) {
                  texts[LangTextKey(control.strFieldName, row.GetField(0)->GetStringValue(),
                                    static_cast<LONG>(row.GetField(1)->GetLongValue()))] =
                      row.GetField(2)->GetStringValue();
                });
  }
}

void LoadQueryLangTexts(CLangTextMap& texts, const std::string& sql, CKvDbConnection& connection,
                        CKvDbRowset& rowset) {
  texts.clear();
  CKvDbSharedSnapshot snapshot(connection);

  std::vector<LangTextControl> controls;
  for (const std::string& table : QueryTextTables(sql))
    CollectTableControls(controls, table, connection, rowset);

  // Later assignments win: a field of a table named later in the FROM clause
  // overrides an equal field name of an earlier one.
  AddControlLangTexts(texts, controls, connection, rowset);
}
