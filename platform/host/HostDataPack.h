// The host's data pack object: describes one data pack of an application as
// the repository holds it (krappdatapack): its table, the table of its
// language data pack ("#" followed by its id), and its child data packs
// (those whose ldatapackid is its id). It reads the repository through the
// connection of the session it is loaded with.
#pragma once

#include <string>
#include <vector>

#include "../com/ComPtr.h"
#include "HostComponentBase.h"
#include "HostInterfaces.h"

class CKvHostDataPack final : public KvHostObject<IHostDataPack, ISupportErrorInfo> {
 public:
  CKvHostDataPack() = default;

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  KV_HOST_MINIMAL_DISPATCH
  HRESULT InterfaceSupportsErrorInfo(REFIID riid) override;

  HRESULT Load(IDispatch* pSession, LONG lDatapackId) override;
  HRESULT get_Table(BSTR* pVal) override;
  HRESULT get_LangTable(BSTR* pVal) override;
  HRESULT get_Children(IHostDataPackList** pVal) override;
  HRESULT get_Id(LONG* pVal) override;

 private:
  HRESULT LoadFromRepository(IDispatch* pSession, LONG lDatapackId);

  bool m_bLoaded = false;
  LONG m_lId = -1;
  std::string m_strTable;
  std::string m_strLangTable;
  std::vector<LONG> m_arrChildIds;
  ComPtr<IDispatch> m_pSession;  // loads the children
};

// The child data packs of one data pack; each item is loaded when asked for.
class CKvHostDataPackList final : public KvHostObject<IHostDataPackList, ISupportErrorInfo> {
 public:
  CKvHostDataPackList(ComPtr<IDispatch> pSession, std::vector<LONG> ids)
      : m_pSession(std::move(pSession)), m_arrIds(std::move(ids)) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  KV_HOST_MINIMAL_DISPATCH
  HRESULT InterfaceSupportsErrorInfo(REFIID riid) override;

  HRESULT get_Count(LONG* pVal) override;
  HRESULT Item(LONG lIndex, IHostDataPack** pVal) override;

 private:
  ComPtr<IDispatch> m_pSession;
  std::vector<LONG> m_arrIds;
};
