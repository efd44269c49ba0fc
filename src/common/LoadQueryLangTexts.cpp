#include <utility>
#include <vector>

#include "Format.h"
#include "LangTexts.h"
#include "QueryTableList.h"
#include "RowsetOpen.h"

namespace {

// A control of one of the queried tables: the name of its data field and
// its id, whose option texts are read once all tables are known.
struct ControlEntry {
  std::string strFieldName;
  LONG lControlId;
};

// Appends the non-system controls of the data pack stored in table to
// controls; a table no data pack names adds nothing.
void CollectControls(std::vector<ControlEntry>& controls, const std::string& table,
                     CKvDbConnection& connection, CKvDbRowset& rowset) {
  OpenForReading(rowset, connection,
                 Format("SELECT lid FROM krappdatapack WHERE strtable='%s'", table.c_str()));
  if (rowset.IsEOF()) {
    rowset.Close();
    return;
  }
  const long datapackId = rowset.GetField(0)->GetLongValue();
  rowset.Close();

  OpenForReading(rowset, connection,
                 Format("SELECT c.lid, f.strname FROM krappdatafield f, krappcontrol c WHERE "
                        "f.ldatapackid=%d AND f.bsystem=0 AND c.ldatafieldid=f.lid",
                        static_cast<int>(datapackId)));
  while (!rowset.IsEOF()) {
    controls.push_back({rowset.GetField(1)->GetStringValue(),
                        static_cast<LONG>(rowset.GetField(0)->GetLongValue())});
    rowset.MoveNext();
  }
  rowset.Close();
}

}  // namespace

void LoadQueryLangTexts(CLangTextMap& texts, const std::string& sql, CKvDbConnection& connection,
                        CKvDbRowset& rowset) {
  texts.clear();

  std::vector<ControlEntry> controls;
  for (const std::string& table : QueryTextTables(sql))
    CollectControls(controls, table, connection, rowset);

  // Later assignments win: a field of a table named later in the FROM clause
  // overrides an equal field name of an earlier one.
  for (const ControlEntry& control : controls) {
    OpenForReading(
        rowset, connection,
        Format("SELECT strident, lcid, strtext FROM krlang WHERE ltableid=%d AND ltype=7",
               static_cast<int>(control.lControlId)));
    while (!rowset.IsEOF()) {
      texts[LangTextKey(control.strFieldName, rowset.GetField(0)->GetStringValue(),
                        static_cast<LONG>(rowset.GetField(1)->GetLongValue()))] =
          rowset.GetField(2)->GetStringValue();
      rowset.MoveNext();
    }
    rowset.Close();
  }
}
