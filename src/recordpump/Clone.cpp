
#include <algorithm>

#include "../../platform/com/AsciiCase.h"
#include "../common/Format.h"
#include "../common/ScopedTransaction.h"
#include "../common/Session.h"
#include "../diagnostics/Frames.h"
#include "KvDataPump.h"
#include "RecordIds.h"
#include "UploadFiles.h"

// Cloning: the database copies each row itself (INSERT ... SELECT over the
// columns the repository lists for the table), then the records of the child
// data packs follow depth first, each copy hung below the copy of its
// parent. With files, every uploaded file gets a copy on disk and an upload
// row of its own; without, the copies share the source's upload rows.
//
// The copy is whole or not there: when the database fails a row copy or the
// walk of a level's children, what the clone has made so far (rows, upload
// rows, files) is taken back and -1 handed out. A file field whose copy
// cannot be finished (a file that cannot be copied) is left empty in the
// copy and what was made for it is taken back: the copy must never name the
// source's upload, or deleting the copy would delete the source's file.

namespace {

ComPtr<IHostFileCopier> CreateFileCopier() {
  ComPtr<IHostFileCopier> copier;
  const HRESULT hr = CoCreateInstance(CLSID_KvHostFileCopier, nullptr, CLSCTX_ALL,
                                      IHostFileCopier::kIid, copier.ReleaseAndGetVoidAddress());
  if (FAILED(hr) || !copier) throw _com_error(E_POINTER);
  return copier;
}

// The stored file's name split at its last '.': "doc.pdf" gives "doc" and
// ".pdf"; a name without '.' is all extension.
void SplitStoredName(const std::string& physicalPath, std::string& base, std::string& extension) {
  const size_t slash = physicalPath.rfind('\\');
  const std::string stored = slash == std::string::npos ? physicalPath : physicalPath.substr(slash + 1);
  const size_t dot = stored.rfind('.');
  if (dot == std::string::npos) {
    base.clear();
    extension = stored;
  } else {
    base = stored.substr(0, dot);
    extension = stored.substr(dot);
  }
}

// Takes back what the copy of one file field has made when it cannot be
// finished: the copy's field is emptied first, then the new upload row and
// the copied file go. Each step is tried on its own; the failure that led
// here is the one reported.
class UploadCopyGuard {
 public:
  UploadCopyGuard(CKvDbConnection& connection, std::string clearField)
      : m_connection(connection), m_clearField(std::move(clearField)) {}
  ~UploadCopyGuard() {
    if (m_finished) return;
    try {
      m_connection.Execute(m_clearField.c_str(), nullptr, 1);
    } catch (...) {
    }
    if (m_lUploadId > 0) {
      try {
        m_connection.Execute(Format("DELETE FROM kruploadfile WHERE lid = %d", m_lUploadId).c_str(),
                             nullptr, 1);
      } catch (...) {
      }
    }
    if (!m_copiedFile.empty()) RemoveUploadFile(m_copiedFile, tracesite::kCloneFileCopy + 1);
  }
  UploadCopyGuard(const UploadCopyGuard&) = delete;
  UploadCopyGuard& operator=(const UploadCopyGuard&) = delete;

  void Copied(std::string path) { m_copiedFile = std::move(path); }
  void Inserted(LONG lUploadId) { m_lUploadId = lUploadId; }
  void Finished() { m_finished = true; }

 private:
  CKvDbConnection& m_connection;
  std::string m_clearField;
  std::string m_copiedFile;
  LONG m_lUploadId = -1;
  bool m_finished = false;
};

}  // namespace

HRESULT CKvDataPump::Clone(BSTR p_pszIdField, BSTR p_pszParentField, VARIANT_BOOL p_bCloneFiles,
                           LONG* pVal) {
  if (!pVal) return E_POINTER;
  return SwallowingFrame(kSourceDataPump, tracesite::kClone, [&] {
    if (!ReadGuard()) return;
    CloneColumns columns;
    columns.strIdField = Utf8FromBstr(p_pszIdField);
    if (columns.strIdField.empty()) columns.strIdField = "lid";
    columns.strParentField = Utf8FromBstr(p_pszParentField);
    if (columns.strParentField.empty()) columns.strParentField = "lparentid";
    columns.bCloneFiles = p_bCloneFiles != VARIANT_FALSE;
    CloneJournal journal;
    const LONG lNewId = CloneRecord(m_strTable, m_lId, 0, columns, journal);
    *pVal = journal.failed && TakeBackClone(journal, columns) ? -1 : lNewId;
  });
}

LONG CKvDataPump::CloneRecord(const std::string& table, LONG lId, LONG lNewParentId,
                              const CloneColumns& columns, CloneJournal& journal) {
  auto connection = OpenSessionConnection(m_pSession.Get());
  bool inserted = false;
  const LONG lNewId = CopyRow(*connection, table, lId, lNewParentId, columns, journal, inserted);
  // A copy without a row of its own (no id was left, or its INSERT failed)
  // has nothing its children could hang below; its id is handed out all
  // the same.
  if (lNewId < 1 || !inserted) return lNewId;

  try {
    CKvDbRowset rowset;
    rowset.Open(Format("SELECT lid FROM krappdatapack WHERE strtable = '%s' AND lappid=%d",
                       table.c_str(), m_lAppId)
                    .c_str(),
                connection.get(), -1, -1, 0);
    const LONG lDatapackId = rowset.IsEOF() ? -1 : rowset.GetField("lid")->GetLongValue();
    rowset.Close();
    if (lDatapackId < 1) return lNewId;

    CKvDbRowset childPacks;
    childPacks.Open(Format("SELECT strtable FROM krappdatapack WHERE ldatapackid = %d", lDatapackId)
                        .c_str(),
                    connection.get(), -1, -1, 0);
    for (; !childPacks.IsEOF(); childPacks.MoveNext()) {
      const std::string childTable = childPacks.GetField("strtable")->GetStringValue();
      std::vector<LONG> childIds;
      CKvDbRowset children;
      children.Open(Format("SELECT %s FROM %s WHERE %s = %d", columns.strIdField.c_str(),
                           childTable.c_str(), columns.strParentField.c_str(), lId)
                        .c_str(),
                    connection.get(), -1, -1, 0);
      for (; !children.IsEOF(); children.MoveNext())
        childIds.push_back(children.GetField(columns.strIdField.c_str())->GetLongValue());
      children.Close();
      for (LONG lChildId : childIds) {
        CloneRecord(childTable, lChildId, lNewId, columns, journal);
        if (journal.failed) return lNewId;
      }
    }
  } catch (const CKvDbException& e) {
    TraceException(e, kSourceDataPump, tracesite::kCloneRecord + 1);
    journal.failed = true;
  } catch (const _com_error& e) {
    TraceComError(e, kSourceDataPump, tracesite::kCloneRecord + 2);
    journal.failed = true;
  }
  return lNewId;
}

LONG CKvDataPump::CopyRow(CKvDbConnection& connection, const std::string& table, LONG lId,
                          LONG lNewParentId, const CloneColumns& columns, CloneJournal& journal,
                          bool& inserted) {
  const LONG lUserId = SessionUserId(m_pSession.Get());
  LONG lNewId = -1;
  try {
    CKvDbRowset rowset;
    rowset.Open(Format("SELECT MAX(%s) as newid FROM %s", columns.strIdField.c_str(), table.c_str())
                    .c_str(),
                &connection, 3, 1, 0);
    lNewId = rowset.IsEOF() ? 1 : IdAfter(rowset.GetField("newid")->GetLongValue(), table);
    rowset.Close();

    // Every data pack on this table contributes its fields; the copy keeps
    // each value except the id and, below a copied parent, the parent link.
    rowset.Open(Format("SELECT krappdatafield.lid, krappdatafield.strname, krappdatafield.strdatatype "
                       "FROM krappdatafield, krappdatapack WHERE krappdatapack.strtable = '%s' AND "
                       "krappdatafield.ldatapackid = krappdatapack.lid ORDER BY krappdatafield.lid",
                       table.c_str())
                    .c_str(),
                &connection, 0, 1, 0);
    const std::string idExpression = Format("%d AS %s", lNewId, columns.strIdField.c_str());
    const std::string parentExpression =
        lNewParentId == 0
            ? Format("%s AS %s", columns.strParentField.c_str(), columns.strParentField.c_str())
            : Format("%d AS %s", lNewParentId, columns.strParentField.c_str());
    std::string columnList;
    std::string selectList;
    std::vector<std::string> fileFields;
    for (; !rowset.IsEOF(); rowset.MoveNext()) {
      const std::string name = rowset.GetField(1)->GetStringValue();
      const std::string type = rowset.GetField(2)->GetStringValue();
      const char* separator = columnList.empty() ? "" : ", ";
      columnList += separator + name;
      selectList += separator;
      if (EqualsIgnoringAsciiCase(name, columns.strIdField))
        selectList += idExpression;
      else if (EqualsIgnoringAsciiCase(name, columns.strParentField))
        selectList += parentExpression;
      else
        selectList += name;
      if (columns.bCloneFiles && EqualsIgnoringAsciiCase(type, "FILE")) fileFields.push_back(name);
    }
    rowset.Close();

    long copied = 0;
    connection.Execute(Format("INSERT INTO %s (%s) SELECT %s FROM %s WHERE %s = %d", table.c_str(),
                              columnList.c_str(), selectList.c_str(), table.c_str(),
                              columns.strIdField.c_str(), lId)
                           .c_str(),
                       &copied, 1);
    inserted = copied > 0;
    if (inserted) journal.rows.emplace_back(table, lNewId);

    // Each file field on its own: one that fails must not leave the later
    // ones naming the source's uploads.
    for (const std::string& field : fileFields) {
      try {
        CopyUploadedFile(connection, table, field, lId, lNewId, lUserId, columns, journal);
      } catch (const CKvDbException& e) {
        TraceException(e, kSourceDataPump, tracesite::kCloneFileCopy + 2);
      } catch (const _com_error& e) {
        TraceComError(e, kSourceDataPump, tracesite::kCloneFileCopy + 3);
      } catch (const CException& e) {
        TraceException(e, kSourceDataPump, tracesite::kCloneFileCopy + 4);
      }
    }
  } catch (const CKvDbException& e) {
    TraceException(e, kSourceDataPump, tracesite::kCloneRowCopy + 1);
    journal.failed = true;
  } catch (const _com_error& e) {
    TraceComError(e, kSourceDataPump, tracesite::kCloneRowCopy + 2);
    journal.failed = true;
  } catch (const CException& e) {
    // No id left for the copy: nothing was inserted.
    TraceException(e, kSourceDataPump, tracesite::kCloneRowCopy + 3);
    lNewId = -1;
  }
  return lNewId;
}

void CKvDataPump::CopyUploadedFile(CKvDbConnection& connection, const std::string& table,
                                   const std::string& field, LONG lSourceId, LONG lNewId,
                                   LONG lUserId, const CloneColumns& columns,
                                   CloneJournal& journal) {
  // The copy's field names the source's upload until it names one of its
  // own; any way out before that empties it.
  UploadCopyGuard guard(connection, Format("UPDATE %s SET %s = NULL WHERE %s = %d", table.c_str(),
                                           field.c_str(), columns.strIdField.c_str(), lNewId));
  CKvDbRowset rowset;
  rowset.Open(Format("SELECT %s FROM %s WHERE %s = %d", field.c_str(), table.c_str(),
                     columns.strIdField.c_str(), lSourceId)
                  .c_str(),
              &connection, 0, 1, 0);
  const LONG lUploadId = rowset.IsEOF() ? -1 : rowset.GetField(field.c_str())->GetLongValue();
  rowset.Close();
  if (lUploadId < 1) {
    guard.Finished();  // nothing to share
    return;
  }

  rowset.Open(Format("SELECT lid, strfilename, strphysicalpath, dtupload, luserid, strurl, lappid, "
                     "ltemplateid, strcontenttype FROM kruploadfile WHERE lid = %d",
                     lUploadId)
                  .c_str(),
              &connection, 0, 1, 0);
  if (rowset.IsEOF()) return;
  const std::string fileName = rowset.GetField("strfilename")->GetStringValue();
  const std::string physicalPath = rowset.GetField("strphysicalpath")->GetStringValue();
  const std::string url = rowset.GetField("strurl")->GetStringValue();
  const std::string contentType = rowset.GetField("strcontenttype")->GetStringValue();
  const LONG lAppId = rowset.GetField("lappid")->GetLongValue();
  const LONG lTemplateId = rowset.GetField("ltemplateid")->GetLongValue();
  rowset.Close();

  std::string base;
  std::string extension;
  SplitStoredName(physicalPath, base, extension);

  ComPtr<IHostFileCopier> copier = CreateFileCopier();
  const size_t lastSlash = url.rfind('/');
  std::string directory = SessionBasePath(m_pSession.Get()) +
                          (lastSlash == std::string::npos ? std::string() : url.substr(0, lastSlash));
  std::replace(directory.begin(), directory.end(), '/', '\\');

  LONG lIgnored = 0;
  HRESULT hr = copier->Init(static_cast<IDispatch*>(m_pSession.Get()), CComBSTR(directory).Get(), &lIgnored);
  if (FAILED(hr)) ThrowComFailure(hr, copier.Get(), IHostFileCopier::kIid);
  CComBSTR newNameBstr;
  hr = copier->UniqueName(CComBSTR(base).Get(), CComBSTR(extension).Get(), &newNameBstr);
  if (FAILED(hr)) ThrowComFailure(hr, copier.Get(), IHostFileCopier::kIid);
  const std::string newName = newNameBstr.ToUtf8();
  LONG lCopied = 0;
  hr = copier->Copy(CComBSTR(base + extension).Get(), newNameBstr.Get(), &lCopied);
  if (FAILED(hr)) ThrowComFailure(hr, copier.Get(), IHostFileCopier::kIid);
  if (lCopied == 0) return;
  const std::string newPhysicalPath = directory + "\\" + newName;
  guard.Copied(newPhysicalPath);

  rowset.Open("SELECT MAX(lid) as maxid FROM kruploadfile", &connection, -1, -1, 0);
  const LONG lNewUploadId =
      rowset.IsEOF() ? 1 : IdAfter(rowset.GetField("maxid")->GetLongValue(), "kruploadfile");
  rowset.Close();

  const std::string uploaded = connection.GetService().StringFromDATE(DateNowLocal(), 3);
  const std::string newUrl =
      (lastSlash == std::string::npos ? std::string() : url.substr(0, lastSlash + 1)) + newName;

  connection.Execute(
      Format("INSERT INTO kruploadfile (lid, strfilename, strphysicalpath, dtupload, luserid, strurl, "
             "lappid, ltemplateid, strcontenttype) VALUES(%d, '%s', '%s', %s, %d, '%s', %d, %d, '%s')",
             lNewUploadId, EscapeSqlText(fileName).c_str(), EscapeSqlText(newPhysicalPath).c_str(),
             uploaded.c_str(), lUserId, EscapeSqlText(newUrl).c_str(), lAppId, lTemplateId,
             EscapeSqlText(contentType).c_str())
          .c_str(),
      nullptr, 1);
  guard.Inserted(lNewUploadId);
  connection.Execute(Format("UPDATE %s SET %s = %d WHERE %s = %d", table.c_str(), field.c_str(),
                            lNewUploadId, columns.strIdField.c_str(), lNewId)
                         .c_str(),
                     nullptr, 1);
  guard.Finished();
  journal.uploads.push_back(lNewUploadId);
  journal.files.push_back(newPhysicalPath);
}

bool CKvDataPump::TakeBackClone(const CloneJournal& journal, const CloneColumns& columns) {
  try {
    auto connection = OpenSessionConnection(m_pSession.Get());
    ScopedTransaction takeBack(*connection);
    for (auto row = journal.rows.rbegin(); row != journal.rows.rend(); ++row)
      connection->Execute(Format("DELETE FROM %s WHERE %s = %d", row->first.c_str(),
                                 columns.strIdField.c_str(), row->second)
                              .c_str(),
                          nullptr, 1);
    for (LONG lUploadId : journal.uploads)
      connection->Execute(Format("DELETE FROM kruploadfile WHERE lid = %d", lUploadId).c_str(), nullptr, 1);
    takeBack.Commit();
  } catch (const CKvDbException& e) {
    TraceException(e, kSourceDataPump, tracesite::kCloneRecord + 3);
    return false;
  } catch (const _com_error& e) {
    TraceComError(e, kSourceDataPump, tracesite::kCloneRecord + 4);
    return false;
  }
  for (const std::string& file : journal.files) RemoveUploadFile(file, tracesite::kCloneFileCopy + 5);
  return true;
}
