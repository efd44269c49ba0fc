// Init: binds the pump to one form. The form row names an edit or view pack,
// the pack names the data pack and so the data table; a data pack named "#N"
// is the language pack of data pack N; the option texts of the form's
// controls go into the language text map.
#include <utility>
#include <vector>

#include "../common/Format.h"
#include "../common/RowsetOpen.h"
#include "../common/Session.h"
#include "../diagnostics/Frames.h"
#include "KvDataPump.h"

HRESULT CKvDataPump::Init(IDispatch* p_pSession, LONG p_lFormId) {
  return StandardFrame(kSourceDataPump, tracesite::kInit, [&]() -> HRESULT {
    // A failed request must not leave the previous page's session behind.
    m_pSession.Reset();
    m_pSession = QueryHostSession(p_pSession);

    m_lId = -1;
    m_lDatapackId = -1;
    m_lLangDatapackId = -1;
    m_lAppId = -1;
    m_strTable.clear();
    CleanFieldValues();

    if (p_lFormId <= 0) return S_OK;

    // Raises E_POINTER when there is no session.
    std::unique_ptr<CKvDbConnection> connection = OpenSessionConnection(m_pSession.Get());
    // The form's definition is read as one consistent whole.
    CKvDbSharedSnapshot snapshot(*connection);
    CKvDbRowset rowset;

    LONG lType = 0;
    LONG lPackId = -1;
    ReadFirstRow(rowset, *connection,
                 Format("SELECT ltype, lpackid, lappid FROM krappform WHERE lid=%d", p_lFormId),
                 [&](CKvDbRowset& row) {
                   lType = row.GetField(0)->GetLongValue();
                   lPackId = row.GetField(1)->GetLongValue();
                   m_lAppId = row.GetField(2)->GetLongValue();
                 });

    // View forms (ltype 0) show their data pack through a view pack, every
    // other form type edits it through an edit pack.
    const std::string packSql =
        lType != 0
            ? Format("SELECT krappeditpack.ldatapackid, krappdatapack.strtable FROM krappeditpack, "
                     "krappdatapack WHERE krappeditpack.lid=%d AND "
                     "krappdatapack.lid=krappeditpack.ldatapackid",
                     lPackId)
            : Format("SELECT krappviewpack.ldatapackid, krappdatapack.strtable FROM krappviewpack, "
                     "krappdatapack WHERE krappviewpack.lid=%d AND "
                     "krappdatapack.lid=krappviewpack.ldatapackid",
                     lPackId);
    ReadFirstRow(rowset, *connection, packSql, [&](CKvDbRowset& row) {
      m_lDatapackId = row.GetField(0)->GetLongValue();
      m_strTable = row.GetField(1)->GetStringValue();
    });

    const bool hasLangPack =
        ReadFirstRow(rowset, *connection,
                     Format("SELECT krappdatapack.lid, krappdatapack.strtable FROM krappdatapack "
                            "WHERE strname='#%d'",
                            m_lDatapackId),
                     [&](CKvDbRowset& row) {
                       m_lLangDatapackId = row.GetField(0)->GetLongValue();
                       m_strLangTable = row.GetField(1)->GetStringValue();
                     });
    if (!hasLangPack) {
      m_lLangDatapackId = -1;
      m_strLangTable.clear();
    }

    // Option texts are only ever shown translated, so a form without a
    // language pack needs none.
    if (m_lLangDatapackId <= -1) return S_OK;

    std::vector<LangTextControl> controls;
    CollectDataPackControls(controls, m_lDatapackId, *connection, rowset);
    AddControlLangTexts(m_mapLangTexts, controls, *connection, rowset);
    return S_OK;
  });
}
