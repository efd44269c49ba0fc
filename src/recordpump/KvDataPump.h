// CKvDataPump: the record pump. One object binds to one form (Init), works
// on one record of the form's data table at a time (MoveTo), keeps a store of
// pending field values, and runs an ad-hoc query cursor beside it.
//
// The implementation is split by concern: KvDataPump.cpp (object, MoveTo,
// IObjectControl), Binding.cpp (Init), Fields.cpp (reading and setting
// values), Save.cpp, Delete.cpp, Files.cpp (file fields), Cascade.cpp,
// Clone.cpp, Query.cpp (query cursor), Lookups.cpp, JoinSql.cpp.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../common/LangTexts.h"
#include "../outside/HostObjects.h"
#include "../module/DualInterface.h"
#include "../outside/KvDbal.h"
#include "IKvDataPump.h"

class PendingFileRemoval;

// One pending field value: the name exactly as the caller passed it and an
// own copy of the value.
struct FieldValue {
  std::string strName;
  CComVariant vValue;
};

using FieldValueList = std::vector<std::unique_ptr<FieldValue>>;

class CKvDataPump final : public IObjectControl, public KvDispatchImpl<IKvDataPump> {
 public:
  CKvDataPump();
  CKvDataPump(const CKvDataPump&) = delete;
  CKvDataPump& operator=(const CKvDataPump&) = delete;

  // Creates an object with reference count 1 (and one module lock).
  static HRESULT CreateInstance(REFIID riid, void** ppv);

  // IUnknown
  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;
  // IDispatch: KvDispatchImpl, from the module's type library.

  // IObjectControl
  HRESULT Activate() override;
  void Deactivate() override;
  BOOL CanBePooled() override;

  // IKvDataPump
  HRESULT Init(IDispatch* p_pSession, LONG p_lFormId) override;
  HRESULT MoveTo(LONG p_lId) override;
  HRESULT SaveFieldValues(LONG* pVal) override;
  HRESULT ValueByFieldName(BSTR p_pszField, VARIANT p_vDefault, VARIANT* pVal) override;
  HRESULT CompareByFieldName(BSTR p_pszField, VARIANT p_vValue, VARIANT p_vTrueValue,
                             VARIANT p_vFalseValue, VARIANT* pVal) override;
  HRESULT SetFieldValue(BSTR p_pszField, VARIANT p_vData) override;
  HRESULT CleanFieldValues() override;
  HRESULT Delete() override;
  HRESULT CascadeDelete(BSTR p_pszIdField, BSTR p_pszParentField, VARIANT_BOOL p_bKillChildren,
                        VARIANT_BOOL p_bInternal) override;
  HRESULT GetValueDirect(BSTR p_pszTable, LONG p_iRowId, BSTR p_pszField, VARIANT* pVal) override;
  HRESULT QueryInit(IDispatch* p_pSession, BSTR p_pszQuery) override;
  HRESULT CloseQuery() override;
  HRESULT get_IsEOF(VARIANT_BOOL* pVal) override;
  HRESULT MoveNext(LONG* p_lId) override;
  HRESULT get_Value(BSTR p_pszField, VARIANT* pVal) override;
  HRESULT Clone(BSTR p_pszIdField, BSTR p_pszParentField, VARIANT_BOOL p_bCloneFiles,
                LONG* pVal) override;
  HRESULT ClearFileField(LONG p_lId, BSTR p_szField) override;
  HRESULT SetFieldValueEx(BSTR p_pszField, LONG p_lLCID, VARIANT p_vData) override;
  HRESULT MoveFirst(LONG* p_lId) override;
  HRESULT MovePrevious(LONG* p_lId) override;
  HRESULT MoveLast(LONG* p_lId) override;
  HRESULT ValueByFieldNameEx(BSTR p_pszField, VARIANT p_vDefault, LONG p_lLCID,
                             VARIANT* pVal) override;
  HRESULT ClearFileFieldEx(LONG p_lId, BSTR p_szField, LONG p_lLCID) override;
  HRESULT DeleteEx(LONG p_lLCID) override;
  HRESULT GetValueDirectEx(BSTR p_pszTable, LONG p_iRowId, BSTR p_pszField, LONG p_lLCID,
                           VARIANT* pVal) override;
  HRESULT GetSQLJoinSelect(LONG p_lDatapackId, LONG p_lLCID, VARIANT p_vDistinct,
                           VARIANT* p_pvFields, BSTR* pSelect) override;
  HRESULT GetSQLJoinWhere(LONG p_lDatapackId, BSTR p_pszWhere, LONG p_lLCID,
                          BSTR* pWhere) override;
  HRESULT get_ValueEx(BSTR p_pszField, LONG p_lLCID, VARIANT* pVal) override;

  // QueryInit makes the rowset before it opens the statement: a statement
  // that fails to open leaves a rowset behind that is no open query.
  bool HasOpenQuery() const { return m_pQueryRowset && m_pQueryRowset->IsOpen(); }

 private:
  ~CKvDataPump();

  // The read guard of the reading, deleting and cloning methods: session set
  // and valid, data table bound, current record id 1 or more.
  bool ReadGuard();

  // ---- Files.cpp / Cascade.cpp / Clone.cpp ----
  // Empties one file field of the row that selectField reads; table is where
  // the field is set to NULL. spaced picks the statement texts with blanks
  // around '=' (ClearFileField) or without (ClearFileFieldEx).
  HRESULT ClearFile(LONG p_lId, const std::string& field, const std::string& table,
                    const std::string& selectField, bool spaced);

  // One level of a cascade: the table and the FROM list and WHERE condition
  // that select the level's records by joining through the levels above.
  struct CascadeLevel {
    std::string strTable;
    std::string strFrom;
    std::string strWhere;
  };
  // Deletes the records of data pack lDatapackId below pParent (or the top
  // record lTopId when pParent is null), their children first.
  void CascadeWalk(LONG lDatapackId, LONG lTopId, const CascadeLevel* pParent);
  // Deletes the stored files and upload rows that the row's file fields
  // name, then the row. The file removals are added to removals, to be
  // finished once the deleted rows are committed.
  void DeleteRowWithFiles(const std::string& table, const std::string& idColumn, LONG id,
                          std::vector<std::unique_ptr<PendingFileRemoval>>& removals);

  // The names that steer a clone at every level.
  struct CloneColumns {
    std::string strIdField;
    std::string strParentField;
    bool bCloneFiles = false;
  };
  // What one clone has made, to be taken back when the database fails it
  // half way: the copied rows in the order made, new upload rows and files.
  struct CloneJournal {
    std::vector<std::pair<std::string, LONG>> rows;
    std::vector<LONG> uploads;
    std::vector<std::string> files;
    bool failed = false;
  };
  // Copies record lId of table below lNewParentId (0: keep the source's
  // parent) with its child records; returns the copy's id.
  LONG CloneRecord(const std::string& table, LONG lId, LONG lNewParentId,
                   const CloneColumns& columns, CloneJournal& journal);
  // Copies the row itself; returns the new id, -1 when it could not be read.
  LONG CopyRow(CKvDbConnection& connection, const std::string& table, LONG lId,
               LONG lNewParentId, const CloneColumns& columns, CloneJournal& journal,
               bool& inserted);
  // Copies the stored file of one file field and points the copy's field at
  // a new upload row.
  void CopyUploadedFile(CKvDbConnection& connection, const std::string& table,
                        const std::string& field, LONG lSourceId, LONG lNewId, LONG lUserId,
                        const CloneColumns& columns, CloneJournal& journal);
  // Removes what a failed clone made; false when that failed too.
  bool TakeBackClone(const CloneJournal& journal, const CloneColumns& columns);

  ULONG m_cRef = 0;
  ComPtr<IHostSession> m_pSession;
  FieldValueList m_arrFields;
  std::map<LONG, std::unique_ptr<FieldValueList>> m_mapLangFields;
  LONG m_lId = -1;
  LONG m_lDatapackId = -1;
  LONG m_lLangDatapackId = -1;
  LONG m_lAppId = -1;
  std::string m_strTable;
  std::string m_strLangTable;
  CLangTextMap m_mapLangTexts;
  std::unique_ptr<CKvDbConnection> m_pQueryConnection;
  std::unique_ptr<CKvDbRowset> m_pQueryRowset;
  ComPtr<IObjectContext> m_spObjectContext;
};
