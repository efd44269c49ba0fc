// Builders of SQL that joins a data pack's table with its language table for
// one language: the SELECT ... FROM part and the matching WHERE condition,
// in the outer-join dialect of the connection's server type.
#include <algorithm>
#include <memory>
#include <vector>

#include "../common/Format.h"
#include "../common/RowsetOpen.h"
#include "../common/Session.h"
#include "../common/VariantValues.h"
#include "../diagnostics/Frames.h"
#include "KvDataPump.h"

namespace {

std::vector<std::string> ReadNames(CKvDbRowset& rowset, CKvDbConnection& connection,
                                   const std::string& sql) {
  std::vector<std::string> names;
  ReadEachRow(rowset, connection, sql,
              [&](CKvDbRowset& row) { names.push_back(row.GetField(0)->GetStringValue()); });
  return names;
}

// The tables a builder joins and the data pack they belong to (whose
// fields the select lists).
struct JoinTables {
  std::string strTable;
  LONG lLangDatapackId = -1;
  std::string strLangTable;
  LONG lDatapackId = -1;
  long lRecRightsMask = 0;
};

// The tables of the data pack the pump is bound to.
JoinTables BoundTables(const std::string& table, LONG datapackId, const std::string& langTable,
                       LONG langDatapackId) {
  JoinTables tables;
  tables.strTable = table;
  tables.lDatapackId = datapackId;
  tables.strLangTable = langTable;
  tables.lLangDatapackId = langDatapackId;
  return tables;
}

void ReadLanguagePack(JoinTables& tables, CKvDbRowset& rowset, CKvDbConnection& connection) {
  ReadFirstRow(rowset, connection,
               Format("SELECT lid, strtable FROM krappdatapack WHERE strname='#%d'",
                      static_cast<int>(tables.lDatapackId)),
               [&](CKvDbRowset& row) {
                 tables.lLangDatapackId = static_cast<LONG>(row.GetField(0)->GetLongValue());
                 tables.strLangTable = row.GetField(1)->GetStringValue();
               });
}

// Statement E: the data table and the record rights mask of a data pack;
// without a row the table is empty and the mask 0.
void ReadTableAndRights(JoinTables& tables, LONG datapackId, bool takeTable, CKvDbRowset& rowset,
                        CKvDbConnection& connection) {
  ReadFirstRow(rowset, connection,
               Format("SELECT strtable, lrecrightsmask FROM krappdatapack WHERE lid=%d",
                      static_cast<int>(datapackId)),
               [&](CKvDbRowset& row) {
                 if (takeTable) tables.strTable = row.GetField(0)->GetStringValue();
                 tables.lRecRightsMask = row.GetField(1)->GetLongValue();
               });
}

std::vector<std::string> ReadLanguageFields(const JoinTables& tables, CKvDbRowset& rowset,
                                            CKvDbConnection& connection) {
  if (tables.lLangDatapackId <= 0) return {};
  return ReadNames(rowset, connection,
                   Format("SELECT strname FROM krappdatafield WHERE ldatapackid=%d AND bsystem=0",
                          static_cast<int>(tables.lLangDatapackId)));
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

struct SafeArrayDeleter {
  void operator()(SAFEARRAY* psa) const { SafeArrayDestroy(psa); }
};

// Takes the caller's field array over (the argument is left empty) and
// appends the names of a one-dimensional array. Strings are taken as they
// are; other elements are coerced to text (a number names the column of that
// number), and those without a value or without a text form name no column
// and are skipped.
void AppendCallerFields(VARIANT* p_pvFields, std::vector<std::string>& fields) {
  if (!p_pvFields || p_pvFields->vt != (VT_ARRAY | VT_VARIANT)) return;
  const std::unique_ptr<SAFEARRAY, SafeArrayDeleter> array(p_pvFields->parray);
  p_pvFields->vt = VT_EMPTY;
  p_pvFields->parray = nullptr;
  if (!array || SafeArrayGetDim(array.get()) != 1) return;

  LONG lower = 0;
  LONG upper = -1;
  ThrowIfFailed(SafeArrayGetLBound(array.get(), 1, &lower));
  ThrowIfFailed(SafeArrayGetUBound(array.get(), 1, &upper));
  for (LONG i = lower; i <= upper; ++i) {
    CComVariant element;
    ThrowIfFailed(SafeArrayGetElement(array.get(), &i, &element));
    if (element.vt != VT_BSTR) {
      if (IsNoValue(element) || FAILED(element.ChangeType(VT_BSTR))) continue;
    }
    fields.push_back(Utf8FromBstr(element.bstrVal));
  }
}

std::string FromPart(eKvDbServerType serverType, const JoinTables& t, LONG lcid) {
  const char* table = t.strTable.c_str();
  const char* lang = t.strLangTable.c_str();
  const int id = static_cast<int>(lcid);
  switch (serverType) {
    case kvDbServerTempInto:
      return Format("%s, OUTER (SELECT * FROM %s WHERE %s.llcid=%d) %s", table, lang, lang, id, lang);
    case kvDbServerOuterPlus:
      return Format("%s, (SELECT * FROM %s WHERE %s.llcid=%d) %s", table, lang, lang, id, lang);
    default:
      return Format("%s LEFT OUTER JOIN (SELECT * FROM %s WHERE %s.llcid=%d) %s ON %s.lparentid=%s.lid",
                    table, lang, lang, id, lang, lang, table);
  }
}

// Appends a non-empty part to a WHERE condition.
void AppendCondition(std::string& condition, const std::string& part) {
  if (part.empty()) return;
  if (!condition.empty()) condition += " AND ";
  condition += part;
}

// Builds a text, starting from text, with build(connection, rowset, text)
// on a connection of the page's session, in the swallowing frame of site.
// The text built so far goes to *pResult also after a failure; without a
// valid session *pResult stays null.
template <typename Build>
HRESULT BuildSqlText(IHostSession* pSession, int site, std::string text, BSTR* pResult,
                     Build&& build) {
  if (!pResult) return E_POINTER;
  *pResult = nullptr;
  bool noSession = false;
  const HRESULT hr = SwallowingFrame(kSourceDataPump, site, [&] {
    noSession = !ReadThroughValidSession(
        pSession,
        [&](CKvDbConnection& connection, CKvDbRowset& rowset) { build(connection, rowset, text); });
  });
  if (!noSession) *pResult = BstrFromUtf8(text);
  return hr;
}

}  // namespace

HRESULT CKvDataPump::GetSQLJoinSelect(LONG p_lDatapackId, LONG p_lLCID, VARIANT p_vDistinct,
                                      VARIANT* p_pvFields, BSTR* pSelect) {
  return BuildSqlText(
      m_pSession.Get(), tracesite::kGetSQLJoinSelect, "SELECT ", pSelect,
      [&](CKvDbConnection& connection, CKvDbRowset& rowset, std::string& text) {
        JoinTables tables;
        if (p_lDatapackId > -1) {
          tables.lDatapackId = p_lDatapackId;
          ReadFirstRow(
              rowset, connection,
              Format("SELECT strtable FROM krappdatapack WHERE lid=%d",
                     static_cast<int>(p_lDatapackId)),
              [&](CKvDbRowset& row) { tables.strTable = row.GetField(0)->GetStringValue(); });
          ReadLanguagePack(tables, rowset, connection);
        } else {
          tables = BoundTables(m_strTable, m_lDatapackId, m_strLangTable, m_lLangDatapackId);
        }

        // A true flag stands for "the caller lists the columns"; only exactly
        // VARIANT_TRUE also asks for DISTINCT.
        std::vector<std::string> fields;
        if (p_vDistinct.vt == VT_BOOL && p_vDistinct.boolVal != 0) {
          if (p_vDistinct.boolVal == VARIANT_TRUE) text += "DISTINCT ";
        } else {
          fields = ReadNames(rowset, connection,
                             Format("SELECT strname FROM krappdatafield WHERE ldatapackid=%d",
                                    static_cast<int>(tables.lDatapackId)));
        }
        AppendCallerFields(p_pvFields, fields);

        const std::vector<std::string> langFields = ReadLanguageFields(tables, rowset, connection);
        for (size_t i = 0; i < fields.size(); ++i) {
          const std::string& name = fields[i];
          if (i > 0) text += ", ";
          text += Contains(langFields, name) ? tables.strLangTable : tables.strTable;
          text += "." + name + " as " + name;
        }

        text += " FROM ";
        text += langFields.empty() ? tables.strTable
                                   : FromPart(connection.GetDbType(), tables, p_lLCID);
      });
}

HRESULT CKvDataPump::GetSQLJoinWhere(LONG p_lDatapackId, BSTR p_pszWhere, LONG /*p_lLCID*/,
                                     BSTR* pWhere) {
  return BuildSqlText(
      m_pSession.Get(), tracesite::kGetSQLJoinWhere, std::string(), pWhere,
      [&](CKvDbConnection& connection, CKvDbRowset& rowset, std::string& condition) {
        JoinTables tables;
        if (p_lDatapackId > -1) {
          tables.lDatapackId = p_lDatapackId;
          ReadTableAndRights(tables, p_lDatapackId, true, rowset, connection);
          ReadLanguagePack(tables, rowset, connection);
        } else {
          tables = BoundTables(m_strTable, m_lDatapackId, m_strLangTable, m_lLangDatapackId);
          // The pump's own binding carries no rights mask of its own: the mask is
          // the one of the bound data pack's row (0 when unbound or the row is
          // gone), so a form on owned records filters by owner either way.
          ReadTableAndRights(tables, m_lDatapackId, false, rowset, connection);
        }

        const std::vector<std::string> langFields = ReadLanguageFields(tables, rowset, connection);
        // The language filter itself sits in the FROM part; dialects whose outer
        // join is written in the FROM list need the join condition here.
        if (!langFields.empty()) {
          const eKvDbServerType serverType = connection.GetDbType();
          if (serverType == kvDbServerTempInto)
            condition =
                Format("%s.lparentid=%s.lid", tables.strLangTable.c_str(), tables.strTable.c_str());
          else if (serverType == kvDbServerOuterPlus)
            condition = Format("%s.lid=%s.lparentid (+)", tables.strTable.c_str(),
                               tables.strLangTable.c_str());
        }

        if (tables.lRecRightsMask & 1)
          AppendCondition(condition, Format("lownerid=%d OR lownerid=-1",
                                            static_cast<int>(SessionUserId(m_pSession.Get()))));
        AppendCondition(condition, Utf8FromBstr(p_pszWhere));
      });
}
