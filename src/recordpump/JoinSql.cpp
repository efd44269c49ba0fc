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

std::vector<std::string> ReadNames(CKvDbRowset& rowset, const std::string& sql,
                                   CKvDbConnection& connection) {
  std::vector<std::string> names;
  OpenForReading(rowset, connection, sql);
  while (!rowset.IsEOF()) {
    names.push_back(rowset.GetField(0)->GetStringValue());
    rowset.MoveNext();
  }
  rowset.Close();
  return names;
}

// The tables a builder joins and the data pack whose fields it lists.
struct JoinTables {
  std::string strTable;
  LONG lLangDatapackId = -1;
  std::string strLangTable;
  LONG lFieldDatapackId = -1;
  long lRecRightsMask = 0;
};

void ReadLanguagePack(JoinTables& tables, LONG datapackId, CKvDbRowset& rowset,
                      CKvDbConnection& connection) {
  OpenForReading(rowset, connection,
                 Format("SELECT lid, strtable FROM krappdatapack WHERE strname='#%d'",
                        static_cast<int>(datapackId)));
  if (!rowset.IsEOF()) {
    tables.lLangDatapackId = static_cast<LONG>(rowset.GetField(0)->GetLongValue());
    tables.strLangTable = rowset.GetField(1)->GetStringValue();
  }
  rowset.Close();
}

// Statement E: the data table and the record rights mask of a data pack;
// without a row the table is empty and the mask 0.
void ReadTableAndRights(JoinTables& tables, LONG datapackId, bool takeTable, CKvDbRowset& rowset,
                        CKvDbConnection& connection) {
  OpenForReading(rowset, connection,
                 Format("SELECT strtable, lrecrightsmask FROM krappdatapack WHERE lid=%d",
                        static_cast<int>(datapackId)));
  if (!rowset.IsEOF()) {
    if (takeTable) tables.strTable = rowset.GetField(0)->GetStringValue();
    tables.lRecRightsMask = rowset.GetField(1)->GetLongValue();
  }
  rowset.Close();
}

std::vector<std::string> ReadLanguageFields(const JoinTables& tables, CKvDbRowset& rowset,
                                            CKvDbConnection& connection) {
  if (tables.lLangDatapackId <= 0) return {};
  return ReadNames(rowset,
                   Format("SELECT strname FROM krappdatafield WHERE ldatapackid=%d AND bsystem=0",
                          static_cast<int>(tables.lLangDatapackId)),
                   connection);
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

// Hands the text built so far to a BSTR out-parameter, also after a failure.
void SetBstrResult(BSTR* pResult, const std::string& text) { *pResult = BstrFromUtf8(text); }

}  // namespace

HRESULT CKvDataPump::GetSQLJoinSelect(LONG p_lDatapackId, LONG p_lLCID, VARIANT p_vDistinct,
                                      VARIANT* p_pvFields, BSTR* pSelect) {
  if (!pSelect) return E_POINTER;
  *pSelect = nullptr;
  std::string text = "SELECT ";
  bool unset = false;
  const HRESULT hr = SwallowingFrame(kSourceDataPump, tracesite::kGetSQLJoinSelect, [&] {
    if (!m_pSession || !SessionIsValid(m_pSession.Get())) {
      unset = true;
      return;
    }
    const auto connection = OpenSessionConnection(m_pSession.Get());
    CKvDbRowset rowset;

    JoinTables tables;
    if (p_lDatapackId > -1) {
      OpenForReading(rowset, *connection,
                     Format("SELECT strtable FROM krappdatapack WHERE lid=%d",
                            static_cast<int>(p_lDatapackId)));
      if (!rowset.IsEOF()) tables.strTable = rowset.GetField(0)->GetStringValue();
      rowset.Close();
      ReadLanguagePack(tables, p_lDatapackId, rowset, *connection);
      tables.lFieldDatapackId = p_lDatapackId;
    } else {
      tables.strTable = m_strTable;
      tables.lLangDatapackId = m_lLangDatapackId;
      tables.strLangTable = m_strLangTable;
      tables.lFieldDatapackId = m_lDatapackId;
    }

    // A true flag stands for "the caller lists the columns"; only exactly
    // VARIANT_TRUE also asks for DISTINCT.
    std::vector<std::string> fields;
    if (p_vDistinct.vt == VT_BOOL && p_vDistinct.boolVal != 0) {
      if (p_vDistinct.boolVal == VARIANT_TRUE) text += "DISTINCT ";
    } else {
      fields = ReadNames(rowset,
                         Format("SELECT strname FROM krappdatafield WHERE ldatapackid=%d",
                                static_cast<int>(tables.lFieldDatapackId)),
                         *connection);
    }
    AppendCallerFields(p_pvFields, fields);

    const std::vector<std::string> langFields = ReadLanguageFields(tables, rowset, *connection);
    for (size_t i = 0; i < fields.size(); ++i) {
      const std::string& name = fields[i];
      if (i > 0) text += ", ";
      text += Contains(langFields, name) ? tables.strLangTable : tables.strTable;
      text += "." + name + " as " + name;
    }

    text += " FROM ";
    text += langFields.empty() ? tables.strTable
                               : FromPart(connection->GetDbType(), tables, p_lLCID);
  });
  if (!unset) SetBstrResult(pSelect, text);
  return hr;
}

HRESULT CKvDataPump::GetSQLJoinWhere(LONG p_lDatapackId, BSTR p_pszWhere, LONG /*p_lLCID*/,
                                     BSTR* pWhere) {
  if (!pWhere) return E_POINTER;
  *pWhere = nullptr;
  std::string condition;
  bool unset = false;
  const HRESULT hr = SwallowingFrame(kSourceDataPump, tracesite::kGetSQLJoinWhere, [&] {
    if (!m_pSession || !SessionIsValid(m_pSession.Get())) {
      unset = true;
      return;
    }
    const auto connection = OpenSessionConnection(m_pSession.Get());
    CKvDbRowset rowset;

    JoinTables tables;
    if (p_lDatapackId > -1) {
      ReadTableAndRights(tables, p_lDatapackId, true, rowset, *connection);
      ReadLanguagePack(tables, p_lDatapackId, rowset, *connection);
    } else {
      tables.strTable = m_strTable;
      tables.lLangDatapackId = m_lLangDatapackId;
      tables.strLangTable = m_strLangTable;
      // The pump's own binding carries no rights mask of its own: the mask is
      // the one of the bound data pack's row (0 when unbound or the row is
      // gone), so a form on owned records filters by owner either way.
      ReadTableAndRights(tables, m_lDatapackId, false, rowset, *connection);
    }

    const std::vector<std::string> langFields = ReadLanguageFields(tables, rowset, *connection);
    // The language filter itself sits in the FROM part; dialects whose outer
    // join is written in the FROM list need the join condition here.
    if (!langFields.empty()) {
      const eKvDbServerType serverType = connection->GetDbType();
      if (serverType == kvDbServerTempInto)
        condition = Format("%s.lparentid=%s.lid", tables.strLangTable.c_str(),
                           tables.strTable.c_str());
      else if (serverType == kvDbServerOuterPlus)
        condition = Format("%s.lid=%s.lparentid (+)", tables.strTable.c_str(),
                           tables.strLangTable.c_str());
    }

    if (tables.lRecRightsMask & 1) {
      const LONG userId = SessionUserId(m_pSession.Get());
      if (!condition.empty()) condition += " AND ";
      condition += Format("lownerid=%d OR lownerid=-1", static_cast<int>(userId));
    }

    const std::string where = Utf8FromBstr(p_pszWhere);
    if (!where.empty()) {
      if (!condition.empty()) condition += " AND ";
      condition += where;
    }
  });
  if (!unset) SetBstrResult(pWhere, condition);
  return hr;
}
