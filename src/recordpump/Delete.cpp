#include <optional>

#include "../common/Format.h"
#include "../common/ScopedTransaction.h"
#include "../common/Session.h"
#include "../diagnostics/Frames.h"
#include "KvDataPump.h"

// Deleting the current record: rows only. Files, upload rows and child
// records are left to CascadeDelete and ClearFileField. The record and its
// language rows go together or not at all; without a language table the
// second statement names no table and fails after the record is gone.

HRESULT CKvDataPump::Delete() {
  return SwallowingFrame(kSourceDataPump, tracesite::kDelete, [&] {
    if (!ReadGuard()) return;
    auto connection = OpenSessionConnection(m_pSession.Get());
    std::optional<ScopedTransaction> together;
    if (!m_strLangTable.empty()) together.emplace(*connection);
    connection->Execute(Format("DELETE FROM %s WHERE lid=%d", m_strTable.c_str(), m_lId).c_str(),
                        nullptr, 1);
    connection->Execute(
        Format("DELETE FROM %s WHERE lparentid=%d", m_strLangTable.c_str(), m_lId).c_str(), nullptr,
        1);
    if (together) together->Commit();
  });
}

HRESULT CKvDataPump::DeleteEx(LONG p_lLCID) {
  return SwallowingFrame(kSourceDataPump, tracesite::kDeleteEx, [&] {
    if (!ReadGuard()) return;
    auto connection = OpenSessionConnection(m_pSession.Get());
    if (p_lLCID == 0) {
      // Only the record's own row: its language rows stay.
      connection->Execute(
          Format("DELETE FROM %s WHERE lid=%d", m_strTable.c_str(), m_lId).c_str(), nullptr, 1);
    } else {
      connection->Execute(Format("DELETE FROM %s WHERE lparentid=%d AND llcid=%d",
                                 m_strLangTable.c_str(), m_lId, p_lLCID)
                              .c_str(),
                          nullptr, 1);
    }
  });
}
