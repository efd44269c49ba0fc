// CKvDRPump: the paged result pump. Init counts a query, opens it with a sort
// clause and skips to the first row of the page; the page then walks the
// rows and reads values, also translated into a language.
#pragma once

#include <string>

#include "../common/LangTexts.h"
#include "../outside/HostObjects.h"
#include "../module/DualInterface.h"
#include "../outside/KvDbal.h"
#include "CountStatements.h"
#include "IKvDRPump.h"

class CKvDRPump final : public KvDispatchImpl<IKvDRPump> {
 public:
  CKvDRPump();
  CKvDRPump(const CKvDRPump&) = delete;
  CKvDRPump& operator=(const CKvDRPump&) = delete;

  // Creates an object with reference count 1 (and one module lock). With
  // pUnkOuter the object is created inside that aggregate and *ppv receives
  // the inner (non-delegating) IUnknown; riid must then be IID_IUnknown.
  static HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv);

  // IUnknown (delegating to the outer object when aggregated)
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;
  // IDispatch: KvDispatchImpl, from the module's type library.

  // IKvDRPump
  HRESULT Init(IDispatch* p_pSession, BSTR p_bstrQuery, BSTR p_bstrSorter, LONG p_lStart,
               VARIANT_BOOL p_bDistinct, LONG* pVal) override;
  HRESULT MoveNext() override;
  HRESULT get_IsEOF(LONG* pVal) override;
  HRESULT Close() override;
  HRESULT get_Value(BSTR p_bstrField, VARIANT* pVal) override;
  HRESULT MoveFirst() override;
  HRESULT MoveLast() override;
  HRESULT MovePrevious() override;
  HRESULT get_IsBOF(LONG* pVal) override;
  HRESULT get_ValueEx(BSTR p_bstrField, LONG p_lLCID, VARIANT* pVal) override;

 private:
  ~CKvDRPump();

  // The object's own, non-delegating IUnknown: it holds the reference count
  // and hands out the interfaces. An aggregate holds this one; the
  // interfaces' IUnknown methods go to the controlling unknown instead.
  class CInnerUnknown final : public IUnknown {
   public:
    explicit CInnerUnknown(CKvDRPump* owner) : m_owner(owner) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

   private:
    CKvDRPump* m_owner;
  };

  // ---- DRPumpInit.cpp ----
  // Counts the rows of query (without its last ORDER BY) into *pVal; returns
  // E_INVALIDARG when a plainly counted query has no " from".
  HRESULT CountRows(const std::string& query, CKvDbConnection& connection, LONG* pVal);

  ULONG m_cRef = 0;
  CInnerUnknown m_inner{this};
  // Controlling unknown: the outer object when aggregated (not counted),
  // otherwise m_inner.
  IUnknown* m_pOuter = &m_inner;
  ComPtr<IHostSession> m_pSession;
  CKvDbRowset m_rowset;
  CLangTextMap m_mapLangTexts;
};
