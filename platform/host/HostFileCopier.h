// The host's file copier: works in one directory (given Windows-style, with
// '\' or '/'), finds names not yet used there and copies a file of the
// directory to another name in it. Names are plain file names: a name with a
// separator, "." or ".." would leave the directory and is refused.
#pragma once

#include <string>

#include "HostComponentBase.h"
#include "HostInterfaces.h"

class CKvHostFileCopier final : public KvHostObject<IHostFileCopier, ISupportErrorInfo> {
 public:
  CKvHostFileCopier() = default;

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  KV_HOST_MINIMAL_DISPATCH
  HRESULT InterfaceSupportsErrorInfo(REFIID riid) override;

  // *pVal is 1 when the directory exists, else 0.
  HRESULT Init(IDispatch* pSession, BSTR bstrDirectory, LONG* pVal) override;
  // base_1.ext, base_2.ext, ...: the first that names nothing in the directory.
  HRESULT UniqueName(BSTR bstrBase, BSTR bstrExtension, BSTR* pVal) override;
  // *pVal is 1 when the copy was made; an existing target is never overwritten.
  HRESULT Copy(BSTR bstrSource, BSTR bstrTarget, LONG* pVal) override;

 private:
  std::string PathOf(const std::string& name) const;

  bool m_bInitialised = false;
  std::string m_strDirectory;
};
