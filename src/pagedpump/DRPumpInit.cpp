// Setting up a page: count the query's rows, load the option texts of its
// tables, open it in sort order and skip to the page's first row. The page
// is reached by skipping on the open result, never by limiting the SQL, so
// the query text reaches the database as the page wrote it.
#include "../common/RowsetOpen.h"
#include "../common/Session.h"
#include "../diagnostics/Frames.h"
#include "KvDRPump.h"

HRESULT CKvDRPump::CountRows(const std::string& query, CKvDbConnection& connection, LONG* pVal) {
  const CountStatements statements = CountStatementsFor(query, connection.GetDbType());
  if (statements.count.empty()) return E_INVALIDARG;
  const bool tempTable = !statements.fillTemporaryTable.empty();
  if (tempTable) connection.Execute(statements.fillTemporaryTable.c_str(), nullptr, 1);

  ReadFirstRow(m_rowset, connection, statements.count, [&](CKvDbRowset& row) {
    *pVal = static_cast<LONG>(row.GetField(0)->GetLongValue());
  });

  if (tempTable) connection.Execute("DROP TABLE tmptbl100", nullptr, 1);
  return S_OK;
}

HRESULT CKvDRPump::Init(IDispatch* p_pSession, BSTR p_bstrQuery, BSTR p_bstrSorter, LONG p_lStart,
                        VARIANT_BOOL p_bDistinct, LONG* pVal) {
  if (!pVal) return E_POINTER;
  return StandardFrame(kSourceDRPump, tracesite::kDRInit, [&]() -> HRESULT {
    if (m_rowset.IsOpen()) m_rowset.Close();
    m_pSession.Reset();
    m_pSession = QueryHostSession(p_pSession);
    *pVal = -1;
    if (!m_pSession) throw _com_error(E_POINTER);

    const auto connection = OpenSessionConnection(m_pSession.Get());
    const std::string query = Utf8FromBstr(p_bstrQuery);
    if (!p_bDistinct) {
      const HRESULT hr = CountRows(query, *connection, pVal);
      if (FAILED(hr)) return hr;
    }

    // The sort clause follows the query as it stands; a query with its own
    // ORDER BY then carries both, and an empty sort clause leaves the blank.
    const std::string pageQuery = query + " " + Utf8FromBstr(p_bstrSorter);
    LoadQueryLangTexts(m_mapLangTexts, pageQuery, *connection, m_rowset);
    OpenForReading(m_rowset, *connection, pageQuery);
    if (p_lStart > 0) m_rowset.Move(p_lStart);
    return S_OK;
  });
}
