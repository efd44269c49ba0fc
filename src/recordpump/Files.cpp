#include "../common/Format.h"
#include "../common/ScopedTransaction.h"
#include "../common/Session.h"
#include "../diagnostics/Frames.h"
#include "KvDataPump.h"
#include "UploadFiles.h"

// Emptying a file field: the stored file goes first, then its upload row,
// then the field. A file that cannot be deleted stops the clearing with the
// database unchanged, so the field never points to a row whose file is still
// on disk.
//
// The base path and the connection are read before the database work and
// outside its frame: without a session or an application object nothing can
// be cleared, and the page learns so from E_FAIL (with the standard frame's
// report and "Returning:" line) rather than from a silent S_OK. Inside, only
// access-layer and host errors are swallowed; anything else (memory) also
// reaches the standard frame's handlers.

HRESULT CKvDataPump::ClearFileField(LONG p_lId, BSTR p_szField) {
  return StandardFrame(kSourceDataPump, tracesite::kClearFileField, [&] {
    const std::string field = Utf8FromBstr(p_szField);
    return ClearFile(p_lId, field, m_strTable,
                     Format("SELECT %s FROM %s WHERE lid = %d", field.c_str(), m_strTable.c_str(),
                            p_lId),
                     true);
  });
}

HRESULT CKvDataPump::ClearFileFieldEx(LONG p_lId, BSTR p_szField, LONG p_lLCID) {
  return StandardFrame(kSourceDataPump, tracesite::kClearFileFieldEx, [&] {
    const std::string field = Utf8FromBstr(p_szField);
    if (p_lLCID == 0) {
      return ClearFile(
          p_lId, field, m_strTable,
          Format("SELECT %s FROM %s WHERE lid=%d", field.c_str(), m_strTable.c_str(), p_lId), false);
    }
    // p_lId is the language row's own id here, not the record's.
    return ClearFile(p_lId, field, m_strLangTable,
                     Format("SELECT %s FROM %s WHERE lid=%d AND llcid=%d", field.c_str(),
                            m_strLangTable.c_str(), p_lId, p_lLCID),
                     false);
  });
}

HRESULT CKvDataPump::ClearFile(LONG p_lId, const std::string& field, const std::string& table,
                               const std::string& selectField, bool spaced) {
  const std::string basePath = SessionBasePath(m_pSession.Get());
  auto connection = OpenSessionConnection(m_pSession.Get());

  return ReducedSwallowingFrame(kSourceDataPump, tracesite::kClearFileDatabaseWork, [&] {
    CKvDbRowset rowset;
    rowset.Open(selectField.c_str(), connection.get(), -1, -1, 0);
    if (rowset.IsEOF()) return;
    const LONG fileId = rowset.GetField(field.c_str())->GetLongValue();
    rowset.Close();
    if (fileId <= 0) return;

    rowset.Open((spaced ? Format("SELECT strurl FROM kruploadfile WHERE lid = %d", fileId)
                        : Format("SELECT strurl FROM kruploadfile WHERE lid=%d", fileId))
                    .c_str(),
                connection.get(), -1, -1, 0);
    const std::string url = rowset.IsEOF() ? std::string() : rowset.GetField("strurl")->GetStringValue();
    rowset.Close();

    const std::string path = PlainUploadPath(basePath, url);
    if (path.empty()) return;
    PendingFileRemoval removal;
    if (!removal.Remove(path, tracesite::kClearFileRemoval + 1)) return;

    // The upload row and the field that names it go together.
    ScopedTransaction together(*connection);
    connection->Execute((spaced ? Format("DELETE FROM kruploadfile WHERE lid = %d", fileId)
                                : Format("DELETE FROM kruploadfile WHERE lid=%d", fileId))
                            .c_str(),
                        nullptr, 1);
    connection->Execute(
        (spaced ? Format("UPDATE %s SET %s = NULL WHERE lid = %d", table.c_str(), field.c_str(), p_lId)
                : Format("UPDATE %s SET %s=NULL WHERE lid=%d", table.c_str(), field.c_str(), p_lId))
            .c_str(),
        nullptr, 1);
    together.Commit();
    removal.Finish();
  });
}
