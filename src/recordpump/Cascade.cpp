#include "../common/Format.h"
#include "../common/ScopedTransaction.h"
#include "../common/Session.h"
#include "../diagnostics/Frames.h"
#include "KvDataPump.h"
#include "UploadFiles.h"

// Cascade delete: the current record and everything below it in the child
// data packs, bottom-up. The application's structure comes from the host's
// data pack object; the rows of each level are found by joining through the
// levels above, so every level is deleted before the parents it joins
// through. Each level is deleted in a transaction of its own; the first
// failure ends the cascade and the levels deleted before stay deleted.

namespace {

ComPtr<IHostDataPack> LoadHostDataPack(IHostSession* pSession, LONG lDatapackId) {
  ComPtr<IHostDataPack> pack;
  const HRESULT hr = CoCreateInstance(CLSID_KvHostDataPack, nullptr, CLSCTX_ALL,
                                      IHostDataPack::kIid, pack.ReleaseAndGetVoidAddress());
  if (FAILED(hr) || !pack) throw _com_error(E_POINTER);
  const HRESULT hrLoad = pack->Load(static_cast<IDispatch*>(pSession), lDatapackId);
  if (FAILED(hrLoad)) ThrowComFailure(hrLoad, pack.Get(), IHostDataPack::kIid);
  return pack;
}

template <typename Getter>
std::string ReadPackText(IHostDataPack* pPack, Getter getter) {
  CComBSTR text;
  const HRESULT hr = (pPack->*getter)(&text);
  if (FAILED(hr)) ThrowComFailure(hr, pPack, IHostDataPack::kIid);
  return text.ToUtf8();
}

// The ids a query returns, read completely before any of them is deleted.
std::vector<LONG> CollectIds(CKvDbConnection& connection, const std::string& sql) {
  std::vector<LONG> ids;
  CKvDbRowset rowset;
  rowset.Open(sql.c_str(), &connection, -1, -1, 0);
  for (; !rowset.IsEOF(); rowset.MoveNext()) ids.push_back(rowset.GetField("lid")->GetLongValue());
  rowset.Close();
  return ids;
}

}  // namespace

HRESULT CKvDataPump::CascadeDelete(BSTR /*p_pszIdField*/, BSTR p_pszParentField,
                                   VARIANT_BOOL p_bKillChildren, VARIANT_BOOL p_bInternal) {
  HRESULT result = S_OK;
  const HRESULT hrFrame = SwallowingFrame(kSourceDataPump, tracesite::kCascadeDelete, [&] {
    if (!ReadGuard()) return;
    if (!p_bKillChildren) {
      // Deleting the internal hierarchy without the children is not offered.
      if (p_bInternal) result = E_NOTIMPL;
      return;
    }
    if (!p_bInternal) {
      CascadeWalk(m_lDatapackId, m_lId, nullptr);
      return;
    }
    // The record and its direct children in the same table, each walked as
    // a top record. Grandchildren through the same column are not reached.
    const std::string parentField = Utf8FromBstr(p_pszParentField);
    auto connection = OpenSessionConnection(m_pSession.Get());
    CKvDbRowset rowset;
    rowset.Open(Format("SELECT lid FROM %s WHERE lid=%d OR %s=%d", m_strTable.c_str(), m_lId,
                       parentField.c_str(), m_lId)
                    .c_str(),
                connection.get(), 3, 1, 0);
    for (; !rowset.IsEOF(); rowset.MoveNext())
      CascadeWalk(m_lDatapackId, rowset.GetField("lid")->GetLongValue(), nullptr);
  });
  return FAILED(hrFrame) ? hrFrame : result;
}

void CKvDataPump::CascadeWalk(LONG lDatapackId, LONG lTopId, const CascadeLevel* pParent) {
  ComPtr<IHostDataPack> pack = LoadHostDataPack(m_pSession.Get(), lDatapackId);
  const std::string table = ReadPackText(pack.Get(), &IHostDataPack::get_Table);
  const std::string langTable = ReadPackText(pack.Get(), &IHostDataPack::get_LangTable);

  CascadeLevel level;
  level.strTable = table;
  if (!pParent) {
    level.strFrom = table;
    level.strWhere = Format("%s.lid=%d", table.c_str(), lTopId);
  } else {
    level.strFrom = Format("%s,%s", pParent->strFrom.c_str(), table.c_str());
    level.strWhere = Format("%s AND %s.lparentid=%s.lid", pParent->strWhere.c_str(), table.c_str(),
                            pParent->strTable.c_str());
  }

  // Children first, while this level's rows still exist to join through.
  ComPtr<IHostDataPackList> children;
  HRESULT hr = pack->get_Children(children.ReleaseAndGetAddressOf());
  if (FAILED(hr)) ThrowComFailure(hr, pack.Get(), IHostDataPack::kIid);
  if (!children) throw _com_error(E_POINTER);
  LONG count = 0;
  hr = children->get_Count(&count);
  if (FAILED(hr)) ThrowComFailure(hr, children.Get(), IHostDataPackList::kIid);
  for (LONG i = 0; i < count; ++i) {
    ComPtr<IHostDataPack> child;
    hr = children->Item(i, child.ReleaseAndGetAddressOf());
    if (FAILED(hr)) ThrowComFailure(hr, children.Get(), IHostDataPackList::kIid);
    if (!child) throw _com_error(E_POINTER);
    LONG childId = 0;
    hr = child->get_Id(&childId);
    if (FAILED(hr)) ThrowComFailure(hr, child.Get(), IHostDataPack::kIid);
    CascadeWalk(childId, 0, &level);
  }

  auto connection = OpenSessionConnection(m_pSession.Get());
  // One level goes as a whole: no record is left without its language rows,
  // and a file whose rows stay is put back.
  std::vector<std::unique_ptr<PendingFileRemoval>> removals;
  ScopedTransaction levelDeletion(*connection);

  // The language rows before the records they belong to.
  if (!langTable.empty()) {
    std::string from;
    std::string where;
    if (!pParent) {
      from = langTable;
      where = Format("%s.lparentid=%d", langTable.c_str(), lTopId);
    } else {
      from = Format("%s, %s, %s", pParent->strFrom.c_str(), table.c_str(), langTable.c_str());
      where = Format("%s AND %s.lparentid=%s.lid AND %s.lparentid=%s.lid", pParent->strWhere.c_str(),
                     table.c_str(), pParent->strTable.c_str(), langTable.c_str(), table.c_str());
    }
    const std::vector<LONG> langIds = CollectIds(
        *connection,
        Format("SELECT %s.lid FROM %s WHERE %s", langTable.c_str(), from.c_str(), where.c_str()));
    for (LONG id : langIds) DeleteRowWithFiles(langTable, "lid", id, removals);
  }

  const std::vector<LONG> ids =
      CollectIds(*connection, Format("SELECT %s.lid FROM %s WHERE %s", table.c_str(),
                                     level.strFrom.c_str(), level.strWhere.c_str()));
  for (LONG id : ids) DeleteRowWithFiles(table, "lid", id, removals);
  levelDeletion.Commit();
  for (auto& removal : removals) removal->Finish();
}

void CKvDataPump::DeleteRowWithFiles(const std::string& table, const std::string& idColumn,
                                     LONG id,
                                     std::vector<std::unique_ptr<PendingFileRemoval>>& removals) {
  auto connection = OpenSessionConnection(m_pSession.Get());
  const CFilePath basePath(SessionBasePath(m_pSession.Get()));

  std::vector<LONG> uploadIds;
  CKvDbRowset fields;
  fields.Open(Format("SELECT krappdatafield.strname FROM krappdatafield, krappdatapack WHERE "
                     "krappdatapack.strtable='%s' AND krappdatafield.ldatapackid=krappdatapack.lid "
                     "AND krappdatafield.strdatatype='FILE'",
                     table.c_str())
                  .c_str(),
              connection.get(), -1, -1, 0);
  for (; !fields.IsEOF(); fields.MoveNext()) {
    const std::string field = fields.GetField(0)->GetStringValue();
    CKvDbRowset uploads;
    uploads.Open(Format("SELECT kruploadfile.lid as kruploadlid, kruploadfile.strurl as "
                        "kruploadstrurl FROM kruploadfile, %s WHERE %s.%s=%d AND "
                        "kruploadfile.lid=%s.%s",
                        table.c_str(), table.c_str(), idColumn.c_str(), id, table.c_str(),
                        field.c_str())
                     .c_str(),
                 connection.get(), -1, -1, 0);
    for (; !uploads.IsEOF(); uploads.MoveNext()) {
      uploadIds.push_back(uploads.GetField("kruploadlid")->GetLongValue());
      // A file that cannot be deleted has its warning; its row goes anyway.
      // One that was deleted comes back when the rows cannot go.
      removals.push_back(std::make_unique<PendingFileRemoval>());
      removals.back()->Remove(
          JoinedUploadPath(basePath, uploads.GetField("kruploadstrurl")->GetStringValue()),
          tracesite::kCascadeFileRemoval + 1);
    }
    uploads.Close();
  }
  fields.Close();

  for (LONG uploadId : uploadIds)
    connection->Execute(Format("DELETE FROM kruploadfile WHERE lid=%d", uploadId).c_str(), nullptr, 1);
  connection->Execute(Format("DELETE FROM %s WHERE %s=%d", table.c_str(), idColumn.c_str(), id).c_str(),
                      nullptr, 1);
}
