// Direct lookups: one field of one row of any table, by table name, row id
// and field name, without binding the pump to a form. The Ex form reads
// language-dependent fields from the table's language table and translates
// stored option values.

#include <cstdint>

#include "../../platform/com/AsciiCase.h"
#include "../common/Format.h"
#include "../common/RowsetOpen.h"
#include "../common/Session.h"
#include "../common/VariantValues.h"
#include "../diagnostics/Frames.h"
#include "KvDataPump.h"

namespace {

std::string SelectFieldById(const std::string& field, const std::string& table, LONG rowId) {
  return Format("SELECT %s FROM %s WHERE lid=%d", field.c_str(), table.c_str(),
                static_cast<int>(rowId));
}

// Reads column 0 of the first row of a repository lookup as text, or
// nothing when the lookup finds no row.
bool ReadFirstString(CKvDbRowset& rowset, CKvDbConnection& connection, const std::string& sql,
                     std::string* out) {
  return ReadFirstRow(rowset, connection, sql,
                      [&](CKvDbRowset& row) { *out = row.GetField(0)->GetStringValue(); });
}

// What krappdatafield says about one field: its flags word (precision in the
// low half, with negative precisions stored as 0x8000 plus their magnitude,
// and the second precision in the high half; all bits set when the data
// pack does not list the field) and its data type.
struct FieldDescription {
  uint32_t flags = 0xFFFFFFFFu;
  std::string strDataType;

  // File fields keep their language flag in bit 1 of the precision; all
  // other types in bit 2 of the second precision.
  bool IsLanguageDependent() const {
    const uint32_t bit = EqualsIgnoringAsciiCase(strDataType, "file") ? 0x2u : 0x40000u;
    return (flags & bit) != 0;
  }
};

FieldDescription ReadFieldDescription(CKvDbRowset& rowset, CKvDbConnection& connection,
                                      const std::string& datapackId, const std::string& field) {
  FieldDescription description;
  ReadFirstRow(rowset, connection,
               Format("SELECT * FROM krappdatafield WHERE ldatapackid=%s AND strname='%s'",
                      datapackId.c_str(), field.c_str()),
               [&](CKvDbRowset& row) {
                 const long precision = row.GetField("lprecision")->GetLongValue();
                 description.strDataType = row.GetField("strdatatype")->GetStringValue();
                 const long precision2 = row.GetField("lprecision2")->GetLongValue();
                 // Unsigned arithmetic: the word wraps like the 32-bit value it always was.
                 const uint32_t low = precision < 0 ? 0x8000u - static_cast<uint32_t>(precision)
                                                    : static_cast<uint32_t>(precision);
                 description.flags = low + (static_cast<uint32_t>(precision2) << 16);
               });
  return description;
}

// Starts a lookup's result as an empty text and runs read when the page's
// session is still valid; a lookup without a value leaves the empty text.
template <typename Read>
HRESULT LookUp(IHostSession* pSession, int site, VARIANT* pVal, Read&& read) {
  if (!pVal) return E_POINTER;
  return SwallowingFrame(kSourceDataPump, site, [&] {
    SetStringResult(pVal, std::string());
    ReadThroughValidSession(pSession, read);
  });
}

}  // namespace

HRESULT CKvDataPump::GetValueDirect(BSTR p_pszTable, LONG p_iRowId, BSTR p_pszField,
                                    VARIANT* pVal) {
  return LookUp(m_pSession.Get(), tracesite::kGetValueDirect, pVal,
                [&](CKvDbConnection& connection, CKvDbRowset& rowset) {
                  OpenForReading(rowset, connection,
                                 SelectFieldById(Utf8FromBstr(p_pszField), Utf8FromBstr(p_pszTable),
                                                 p_iRowId));
                  if (!rowset.IsEOF()) SetValueOrEmptyString(pVal, rowset.GetField(0)->GetValue());
                });
}

HRESULT CKvDataPump::GetValueDirectEx(BSTR p_pszTable, LONG p_iRowId, BSTR p_pszField,
                                      LONG p_lLCID, VARIANT* pVal) {
  return LookUp(
      m_pSession.Get(), tracesite::kGetValueDirectEx, pVal,
      [&](CKvDbConnection& connection, CKvDbRowset& rowset) {
        const std::string table = Utf8FromBstr(p_pszTable);
        const std::string field = Utf8FromBstr(p_pszField);

        std::string statement;
        if (p_lLCID == 0) {
          statement = SelectFieldById(field, table, p_iRowId);
        } else {
          // Without a bound form any data pack of that table will do.
          const std::string datapackSql =
              m_lAppId > -1
                  ? Format("SELECT lid FROM krappdatapack WHERE strtable='%s' AND lappid=%d",
                           table.c_str(), static_cast<int>(m_lAppId))
                  : Format("SELECT lid FROM krappdatapack WHERE strtable='%s'", table.c_str());
          std::string datapackId;
          if (!ReadFirstString(rowset, connection, datapackSql, &datapackId)) return;

          std::string langTable;
          ReadFirstString(
              rowset, connection,
              Format("SELECT strtable FROM krappdatapack WHERE strname='#%s'", datapackId.c_str()),
              &langTable);

          const FieldDescription description =
              ReadFieldDescription(rowset, connection, datapackId, field);
          // No fallback to the main row: a record without a row for this
          // language has no value in it.
          if (!langTable.empty() && description.IsLanguageDependent())
            statement = Format("SELECT %s FROM %s WHERE %s", field.c_str(), langTable.c_str(),
                               Format("llcid=%d AND lparentid=%d", static_cast<int>(p_lLCID),
                                      static_cast<int>(p_iRowId))
                                   .c_str());
          else
            statement = Format("SELECT %s FROM %s WHERE %s", field.c_str(), table.c_str(),
                               Format("lid=%d", static_cast<int>(p_iRowId)).c_str());

          // The texts are reloaded only when the lookup moves to another table
          // (or there are none); the pump is then re-pointed at that table.
          if (!EqualsIgnoringAsciiCase(m_strTable, table) || m_mapLangTexts.empty()) {
            m_strTable = table;
            m_strLangTable = langTable;
            LoadQueryLangTexts(m_mapLangTexts, statement, connection, rowset);
          }
        }

        OpenForReading(rowset, connection, statement);
        if (rowset.IsEOF()) return;
        if (p_lLCID == 0) {
          SetValueOrEmptyString(pVal, rowset.GetField(0)->GetValue());
        } else {
          const std::string stored = rowset.GetField(field.c_str())->GetStringValue();
          SetStringResult(pVal, TranslateMultiValue(m_mapLangTexts, field, stored, p_lLCID));
        }
      });
}
