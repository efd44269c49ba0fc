// The record pump's dual interface, methods in slot order (dispatch ids 1 to 28).
#pragma once

#include "com/OleAuto.h"

struct IKvDataPump : IDispatch {
  static constexpr IID kIid = {0x4F1C2D01, 0x7A3B, 0x4C5D, {0x8E, 0x9F, 0x10, 0x21, 0x32, 0x43, 0x54, 0x01}};
  virtual HRESULT Init(IDispatch* p_pSession, LONG p_lFormId) = 0;                          // 1
  virtual HRESULT MoveTo(LONG p_lId) = 0;                                                   // 2
  virtual HRESULT SaveFieldValues(LONG* pVal) = 0;                                          // 3
  virtual HRESULT ValueByFieldName(BSTR p_pszField, VARIANT p_vDefault, VARIANT* pVal) = 0;  // 4
  virtual HRESULT CompareByFieldName(BSTR p_pszField, VARIANT p_vValue, VARIANT p_vTrueValue,
                                     VARIANT p_vFalseValue, VARIANT* pVal) = 0;             // 5
  virtual HRESULT SetFieldValue(BSTR p_pszField, VARIANT p_vData) = 0;                      // 6
  virtual HRESULT CleanFieldValues() = 0;                                                   // 7
  virtual HRESULT Delete() = 0;                                                             // 8
  virtual HRESULT CascadeDelete(BSTR p_pszIdField, BSTR p_pszParentField,
                                VARIANT_BOOL p_bKillChildren, VARIANT_BOOL p_bInternal) = 0;  // 9
  virtual HRESULT GetValueDirect(BSTR p_pszTable, LONG p_iRowId, BSTR p_pszField,
                                 VARIANT* pVal) = 0;                                        // 10
  virtual HRESULT QueryInit(IDispatch* p_pSession, BSTR p_pszQuery) = 0;                    // 11
  virtual HRESULT CloseQuery() = 0;                                                         // 12
  virtual HRESULT get_IsEOF(VARIANT_BOOL* pVal) = 0;                                        // 13
  virtual HRESULT MoveNext(LONG* p_lId) = 0;                                                // 14
  virtual HRESULT get_Value(BSTR p_pszField, VARIANT* pVal) = 0;                            // 15
  virtual HRESULT Clone(BSTR p_pszIdField, BSTR p_pszParentField, VARIANT_BOOL p_bCloneFiles,
                        LONG* pVal) = 0;                                                    // 16
  virtual HRESULT ClearFileField(LONG p_lId, BSTR p_szField) = 0;                           // 17
  virtual HRESULT SetFieldValueEx(BSTR p_pszField, LONG p_lLCID, VARIANT p_vData) = 0;      // 18
  virtual HRESULT MoveFirst(LONG* p_lId) = 0;                                               // 19
  virtual HRESULT MovePrevious(LONG* p_lId) = 0;                                            // 20
  virtual HRESULT MoveLast(LONG* p_lId) = 0;                                                // 21
  virtual HRESULT ValueByFieldNameEx(BSTR p_pszField, VARIANT p_vDefault, LONG p_lLCID,
                                     VARIANT* pVal) = 0;                                    // 22
  virtual HRESULT ClearFileFieldEx(LONG p_lId, BSTR p_szField, LONG p_lLCID) = 0;           // 23
  virtual HRESULT DeleteEx(LONG p_lLCID) = 0;                                               // 24
  virtual HRESULT GetValueDirectEx(BSTR p_pszTable, LONG p_iRowId, BSTR p_pszField,
                                   LONG p_lLCID, VARIANT* pVal) = 0;                        // 25
  virtual HRESULT GetSQLJoinSelect(LONG p_lDatapackId, LONG p_lLCID, VARIANT p_vDistinct,
                                   VARIANT* p_pvFields, BSTR* pSelect) = 0;                 // 26
  virtual HRESULT GetSQLJoinWhere(LONG p_lDatapackId, BSTR p_pszWhere, LONG p_lLCID,
                                  BSTR* pWhere) = 0;                                        // 27
  virtual HRESULT get_ValueEx(BSTR p_pszField, LONG p_lLCID, VARIANT* pVal) = 0;            // 28
};

inline constexpr CLSID CLSID_KvDataPump = {0x4F1C2E01, 0x7A3B, 0x4C5D, {0x8E, 0x9F, 0x10, 0x21, 0x32, 0x43, 0x54, 0x01}};
