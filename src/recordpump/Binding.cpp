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

namespace {

// A control of the bound data pack: the column name of its data field and
// the control id under which its texts are stored.
struct ControlEntry {
  std::string strField;
  LONG lControlId;
};

}  // namespace

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
    CKvDbRowset rowset;

    LONG lType = 0;
    LONG lPackId = -1;
    OpenForReading(rowset, *connection,
                   Format("SELECT ltype, lpackid, lappid FROM krappform WHERE lid=%d", p_lFormId));
    if (!rowset.IsEOF()) {
      lType = rowset.GetField(0)->GetLongValue();
      lPackId = rowset.GetField(1)->GetLongValue();
      m_lAppId = rowset.GetField(2)->GetLongValue();
    }
    rowset.Close();

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
    OpenForReading(rowset, *connection, packSql);
    if (!rowset.IsEOF()) {
      m_lDatapackId = rowset.GetField(0)->GetLongValue();
      m_strTable = rowset.GetField(1)->GetStringValue();
    }
    rowset.Close();

    OpenForReading(rowset, *connection,
                   Format("SELECT krappdatapack.lid, krappdatapack.strtable FROM krappdatapack "
                          "WHERE strname='#%d'",
                          m_lDatapackId));
    if (!rowset.IsEOF()) {
      m_lLangDatapackId = rowset.GetField(0)->GetLongValue();
      m_strLangTable = rowset.GetField(1)->GetStringValue();
    } else {
      m_lLangDatapackId = -1;
      m_strLangTable.clear();
    }
    rowset.Close();

    // Option texts are only ever shown translated, so a form without a
    // language pack needs none.
    if (m_lLangDatapackId <= -1) return S_OK;

    std::vector<ControlEntry> controls;
    OpenForReading(rowset, *connection,
                   Format("SELECT c.lid, f.strname FROM krappdatafield f, krappcontrol c WHERE "
                          "f.ldatapackid=%d AND f.bsystem=0 AND c.ldatafieldid=f.lid",
                          m_lDatapackId));
    while (!rowset.IsEOF()) {
      const auto lControlId = static_cast<LONG>(rowset.GetField(0)->GetLongValue());
      controls.push_back({rowset.GetField(1)->GetStringValue(), lControlId});
      rowset.MoveNext();
    }
    rowset.Close();

    for (const ControlEntry& control : controls) {
      OpenForReading(rowset, *connection,
                     Format("SELECT strident, lcid, strtext FROM krlang WHERE ltableid=%d AND "
                            "ltype=7",
                            control.lControlId));
      while (!rowset.IsEOF()) {
        const std::string ident = rowset.GetField(0)->GetStringValue();
        const LONG lcid = rowset.GetField(1)->GetLongValue();
        m_mapLangTexts[LangTextKey(control.strField, ident, lcid)] =
            rowset.GetField(2)->GetStringValue();
        rowset.MoveNext();
      }
      rowset.Close();
    }
    return S_OK;
  });
}
