// The paged result pump's dual interface, methods in slot order. Dispatch ids:
// Init 1, MoveNext 3, IsEOF 4, Close 5, Value 6, MoveFirst 7, MoveLast 8,
// MovePrevious 9, IsBOF 10, ValueEx 11 (2 is not used).
#pragma once

#include "com/OleAuto.h"

struct IKvDRPump : IDispatch {
  static constexpr IID kIid = {0x4F1C2D02, 0x7A3B, 0x4C5D, {0x8E, 0x9F, 0x10, 0x21, 0x32, 0x43, 0x54, 0x02}};
  virtual HRESULT Init(IDispatch* p_pSession, BSTR p_bstrQuery, BSTR p_bstrSorter, LONG p_lStart,
                       VARIANT_BOOL p_bDistinct, LONG* pVal) = 0;
  virtual HRESULT MoveNext() = 0;
  virtual HRESULT get_IsEOF(LONG* pVal) = 0;
  virtual HRESULT Close() = 0;
  virtual HRESULT get_Value(BSTR p_bstrField, VARIANT* pVal) = 0;
  virtual HRESULT MoveFirst() = 0;
  virtual HRESULT MoveLast() = 0;
  virtual HRESULT MovePrevious() = 0;
  virtual HRESULT get_IsBOF(LONG* pVal) = 0;
  virtual HRESULT get_ValueEx(BSTR p_bstrField, LONG p_lLCID, VARIANT* pVal) = 0;
};

inline constexpr CLSID CLSID_KvDRPump = {0x4F1C2E02, 0x7A3B, 0x4C5D, {0x8E, 0x9F, 0x10, 0x21, 0x32, 0x43, 0x54, 0x02}};
