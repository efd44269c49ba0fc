#include "HostFileCopier.h"

#include "../win32/Win32.h"

namespace {

constexpr const char* kSource = "KvHostFileCopier";
// A directory holding this many copies of one name is not searched further.
constexpr int kMaxUniqueAttempts = 100000;

bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("\\/") == std::string::npos;
}

}  // namespace

HRESULT CKvHostFileCopier::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IHostFileCopier::kIid)
    return Offer(static_cast<IHostFileCopier*>(this), ppv);
  if (riid == IID_ISupportErrorInfo) return Offer(static_cast<ISupportErrorInfo*>(this), ppv);
  return E_NOINTERFACE;
}

HRESULT CKvHostFileCopier::InterfaceSupportsErrorInfo(REFIID riid) {
  return riid == IHostFileCopier::kIid ? S_OK : S_FALSE;
}

std::string CKvHostFileCopier::PathOf(const std::string& name) const {
  return m_strDirectory + "\\" + name;
}

HRESULT CKvHostFileCopier::Init(IDispatch* /*pSession*/, BSTR bstrDirectory, LONG* pVal) {
  if (!pVal) return E_POINTER;
  try {
    m_strDirectory = Utf8FromBstr(bstrDirectory);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  m_bInitialised = true;
  *pVal = !m_strDirectory.empty() && PathExistsA(m_strDirectory.c_str()) ? 1 : 0;
  return S_OK;
}

HRESULT CKvHostFileCopier::UniqueName(BSTR bstrBase, BSTR bstrExtension, BSTR* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  if (!m_bInitialised) return kvhost::Fail(E_UNEXPECTED, "The file copier has no directory", kSource);
  try {
    const std::string base = Utf8FromBstr(bstrBase);
    const std::string extension = Utf8FromBstr(bstrExtension);
    for (int n = 1; n <= kMaxUniqueAttempts; ++n) {
      const std::string name = base + "_" + std::to_string(n) + extension;
      if (!PathExistsA(PathOf(name).c_str())) {
        *pVal = BstrFromUtf8(name);
        return *pVal ? S_OK : E_OUTOFMEMORY;
      }
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return kvhost::Fail(E_FAIL, "No unused name is left for this file", kSource);
}

HRESULT CKvHostFileCopier::Copy(BSTR bstrSource, BSTR bstrTarget, LONG* pVal) {
  if (!pVal) return E_POINTER;
  *pVal = 0;
  if (!m_bInitialised) return kvhost::Fail(E_UNEXPECTED, "The file copier has no directory", kSource);
  try {
    const std::string source = Utf8FromBstr(bstrSource);
    const std::string target = Utf8FromBstr(bstrTarget);
    if (!IsPlainFileName(source) || !IsPlainFileName(target)) return S_OK;
    *pVal = CopyFileA(PathOf(source).c_str(), PathOf(target).c_str(), TRUE) ? 1 : 0;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}
