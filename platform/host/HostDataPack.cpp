#include "HostDataPack.h"

#include <cstdio>
#include <mutex>
#include <set>

#include "../kvdbal/KvDbal.h"
#include "HostComponents.h"

namespace {

constexpr const char* kSource = "KvHostDataPack";

std::mutex g_failingMutex;
std::set<LONG> g_failingIds;

bool LoadIsMadeToFail(LONG lDatapackId) {
  std::lock_guard<std::mutex> lock(g_failingMutex);
  return g_failingIds.count(lDatapackId) != 0;
}

std::string Text(const char* format, LONG value) {
  char buffer[128];
  std::snprintf(buffer, sizeof buffer, format, static_cast<int>(value));
  return buffer;
}

HRESULT ReturnText(const std::string& text, BSTR* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = BstrFromUtf8(text);
  return *pVal ? S_OK : E_OUTOFMEMORY;
}

}  // namespace

void KvHostDataPackFailFor(LONG lDatapackId) {
  std::lock_guard<std::mutex> lock(g_failingMutex);
  g_failingIds.insert(lDatapackId);
}

void KvHostDataPackFailNone() {
  std::lock_guard<std::mutex> lock(g_failingMutex);
  g_failingIds.clear();
}

HRESULT CKvHostDataPack::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IHostDataPack::kIid)
    return Offer(static_cast<IHostDataPack*>(this), ppv);
  if (riid == IID_ISupportErrorInfo) return Offer(static_cast<ISupportErrorInfo*>(this), ppv);
  return E_NOINTERFACE;
}

HRESULT CKvHostDataPack::InterfaceSupportsErrorInfo(REFIID riid) {
  return riid == IHostDataPack::kIid ? S_OK : S_FALSE;
}

HRESULT CKvHostDataPack::Load(IDispatch* pSession, LONG lDatapackId) {
  m_bLoaded = false;
  if (!pSession) return kvhost::Fail(E_POINTER, "No session to load a data pack with", kSource);
  if (LoadIsMadeToFail(lDatapackId))
    return kvhost::Fail(E_FAIL, Text("Data pack %d cannot be loaded", lDatapackId), kSource);
  try {
    return LoadFromRepository(pSession, lDatapackId);
  } catch (const CKvDbException& e) {
    return kvhost::Fail(e.GetResult(), e.Message(), kSource);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT CKvHostDataPack::LoadFromRepository(IDispatch* pSession, LONG lDatapackId) {
  ComPtr<IHostSession> session;
  HRESULT hr = pSession->QueryInterface(IHostSession::kIid, session.ReleaseAndGetVoidAddress());
  if (FAILED(hr)) return kvhost::Fail(hr, "The object given as session is no host session", kSource);
  ComPtr<IDispatch> sessionConnection;
  hr = session->get_Connection(sessionConnection.ReleaseAndGetAddressOf());
  if (FAILED(hr) || !sessionConnection)
    return kvhost::Fail(FAILED(hr) ? hr : E_POINTER, "The session has no connection", kSource);
  CKvDbConnection connection(sessionConnection.Get(), true);
  sessionConnection.Reset();

  CKvDbRowset rowset;
  rowset.Open(Text("SELECT strtable FROM krappdatapack WHERE lid=%d", lDatapackId).c_str(),
              &connection, -1, -1, 0);
  if (rowset.IsEOF()) return kvhost::Fail(E_INVALIDARG, Text("There is no data pack %d", lDatapackId), kSource);
  std::string table = rowset.GetField(0)->GetStringValue();
  rowset.Close();

  rowset.Open(Text("SELECT strtable FROM krappdatapack WHERE strname='#%d'", lDatapackId).c_str(),
              &connection, -1, -1, 0);
  std::string langTable = rowset.IsEOF() ? std::string() : rowset.GetField(0)->GetStringValue();
  rowset.Close();

  std::vector<LONG> childIds;
  rowset.Open(
      Text("SELECT lid FROM krappdatapack WHERE ldatapackid=%d ORDER BY lid", lDatapackId).c_str(),
      &connection, -1, -1, 0);
  for (; !rowset.IsEOF(); rowset.MoveNext()) childIds.push_back(rowset.GetField(0)->GetLongValue());
  rowset.Close();

  m_lId = lDatapackId;
  m_strTable = std::move(table);
  m_strLangTable = std::move(langTable);
  m_arrChildIds = std::move(childIds);
  m_pSession = ComPtr<IDispatch>(pSession);
  m_bLoaded = true;
  return S_OK;
}

HRESULT CKvHostDataPack::get_Table(BSTR* pVal) {
  if (!m_bLoaded) return kvhost::Fail(E_UNEXPECTED, "The data pack is not loaded", kSource);
  return ReturnText(m_strTable, pVal);
}

HRESULT CKvHostDataPack::get_LangTable(BSTR* pVal) {
  if (!m_bLoaded) return kvhost::Fail(E_UNEXPECTED, "The data pack is not loaded", kSource);
  return ReturnText(m_strLangTable, pVal);
}

HRESULT CKvHostDataPack::get_Children(IHostDataPackList** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  if (!m_bLoaded) return kvhost::Fail(E_UNEXPECTED, "The data pack is not loaded", kSource);
  try {
    *pVal = new CKvHostDataPackList(m_pSession, m_arrChildIds);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT CKvHostDataPack::get_Id(LONG* pVal) {
  if (!pVal) return E_POINTER;
  if (!m_bLoaded) return kvhost::Fail(E_UNEXPECTED, "The data pack is not loaded", kSource);
  *pVal = m_lId;
  return S_OK;
}

HRESULT CKvHostDataPackList::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IHostDataPackList::kIid)
    return Offer(static_cast<IHostDataPackList*>(this), ppv);
  if (riid == IID_ISupportErrorInfo) return Offer(static_cast<ISupportErrorInfo*>(this), ppv);
  return E_NOINTERFACE;
}

HRESULT CKvHostDataPackList::InterfaceSupportsErrorInfo(REFIID riid) {
  return riid == IHostDataPackList::kIid ? S_OK : S_FALSE;
}

HRESULT CKvHostDataPackList::get_Count(LONG* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = static_cast<LONG>(m_arrIds.size());
  return S_OK;
}

HRESULT CKvHostDataPackList::Item(LONG lIndex, IHostDataPack** pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  if (lIndex < 0 || static_cast<size_t>(lIndex) >= m_arrIds.size())
    return kvhost::Fail(DISP_E_BADINDEX, Text("No child data pack at index %d", lIndex), kSource);
  CKvHostDataPack* child = new (std::nothrow) CKvHostDataPack();
  if (!child) return E_OUTOFMEMORY;
  // The child's error information, if any, stays for the caller of Item.
  const HRESULT hr = child->Load(m_pSession.Get(), m_arrIds[static_cast<size_t>(lIndex)]);
  if (FAILED(hr)) {
    child->Release();
    return hr;
  }
  *pVal = child;
  return S_OK;
}
