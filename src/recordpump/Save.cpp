// SaveFieldValues: writes the field value store as one main row of the data
// table and one row of the language table per LCID list, all in one
// transaction. New ids are MAX(lid)+1, so concurrent writers may pick the
// same id; the database refuses the second one and the save rolls back,
// waits a random 0-255 ms (spreading competing writers apart) and tries
// again with fresh ids. A connection opened with savelock=table makes the
// transaction wait for other such saves into the same tables before the
// ids are read, so they rarely collide; a wait that runs out is a
// collision like the others.
#include <map>
#include <optional>
#include <unordered_set>
#include <vector>

#include "../../platform/com/AsciiCase.h"
#include "../common/Format.h"
#include "../common/RowsetOpen.h"
#include "../common/ScopedTransaction.h"
#include "../common/Session.h"
#include "../diagnostics/Frames.h"
#include "../outside/FileServices.h"
#include "CollisionBackoff.h"
#include "KvDataPump.h"
#include "RecordIds.h"

namespace {

using LangFieldLists = std::map<LONG, std::unique_ptr<FieldValueList>>;

constexpr int kMaxCollisions = 100;

// Result codes with which the access layer reports a duplicate id or a
// conflicting concurrent change; only these are worth another attempt.
bool IsCollision(HRESULT hr) {
  return hr == KVDB_E_COLLISION_CHANGED || hr == KVDB_E_COLLISION_DEADLOCK || hr == KVDB_E_COLLISION_DUPKEY ||
         hr == KVDB_E_COLLISION_LOCKED;
}

// An Update the database refused, with the id the row was being written with
// (-1 for a language row found by its parent and LCID), or a wait for other
// writers that ran out before the attempt began (the caller's id or -1).
struct RefusedUpdate {
  CKvDbException error;
  LONG lRowId;
};

void UpdateRow(CKvDbRowset& rowset, LONG lRowId) {
  try {
    rowset.Update();
  } catch (const CKvDbException& e) {
    throw RefusedUpdate{e, lRowId};
  }
}

// Role names are matched exactly; where a name occurs twice the last entry
// counts, as it is the one the row ends up holding.
FieldValue* LastEntryNamed(const FieldValueList& list, const char* name) {
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    if ((*it)->strName == name) return it->get();
  }
  return nullptr;
}

LONG IdOf(const FieldValue* entry) { return entry ? IdOfValue(entry->vValue, "lid") : -1; }

void PutIdEntry(FieldValueList& list, const char* name, LONG value) {
  if (FieldValue* entry = LastEntryNamed(list, name)) {
    entry->vValue = CComVariant(value);
    return;
  }
  auto entry = std::make_unique<FieldValue>();
  entry->strName = name;
  entry->vValue = CComVariant(value);
  list.push_back(std::move(entry));
}

void AppendCopy(FieldValueList& list, const FieldValue& source) {
  auto entry = std::make_unique<FieldValue>();
  entry->strName = source.strName;
  const HRESULT hr = VariantCopy(&entry->vValue, &source.vValue);
  if (FAILED(hr)) throw _com_error(hr);
  list.push_back(std::move(entry));
}

LONG NextFreeId(CKvDbConnection& connection, const std::string& table) {
  CKvDbRowset rowset;
  OpenForReading(rowset, connection, Format("SELECT MAX(lid) as maxid FROM %s", table.c_str()));
  // An empty table's NULL maximum reads as 0.
  const LONG id = rowset.IsEOF() ? 1 : IdAfter(rowset.GetField("maxid")->GetLongValue(), table);
  rowset.Close();
  return id;
}

// An empty value cannot be appended in chunks; it is set.
bool IsEmptyForLongField(const VARIANT& v) {
  if (v.vt == VT_EMPTY || v.vt == VT_NULL) return true;
  if (v.vt == VT_BSTR) return SysStringLen(v.bstrVal) == 0;
  if (v.vt == (VT_BSTR | VT_BYREF)) return !v.pbstrVal || SysStringLen(*v.pbstrVal) == 0;
  return false;
}

// A field that cannot be written (no such column, a value the column cannot
// take) is reported and skipped; the rest of the row is still saved.
void WriteEntry(CKvDbRowset& rowset, const FieldValue& entry) {
  try {
    CKvDbField* field = rowset.GetField(entry.strName.c_str());
    if ((field->GetAttributes() & kvDbFieldLong) && !IsEmptyForLongField(entry.vValue)) {
      field->AppendChunk(entry.vValue);
    } else {
      field->SetValue(entry.vValue);
    }
  } catch (const CKvDbException& e) {
    TraceException(e, kSourceDataPump, tracesite::kSaveWriteEntry + 1);
  } catch (const _com_error& e) {
    TraceComError(e, kSourceDataPump, tracesite::kSaveWriteEntry + 2);
  }
}

// Only the last entry of a column is written: an earlier one would be
// overwritten anyway, except in a long field, where appending both would
// join the two values. Column names match without regard to case, as in SQL.
void WriteEntries(CKvDbRowset& rowset, const FieldValueList& list) {
  std::unordered_set<std::string> written;
  std::vector<const FieldValue*> lastEntries;
  for (auto it = list.rbegin(); it != list.rend(); ++it) {
    if (written.insert(LowerAscii((*it)->strName)).second) lastEntries.push_back(it->get());
  }
  for (auto it = lastEntries.rbegin(); it != lastEntries.rend(); ++it) WriteEntry(rowset, **it);
}

void TraceMissingRow(LONG lId) { TraceText("Dataset with lid = %d does not exist", lId); }

// One save of the store. Whether a row is inserted or updated is decided
// once, from what the caller set, so a retry never takes over an id that a
// rolled-back attempt had put into the store.
class RecordSave {
 public:
  RecordSave(FieldValueList& mainFields, LangFieldLists& langFields, const std::string& table,
             const std::string& langTable, CKvDbConnection& connection)
      : m_mainFields(mainFields),
        m_langFields(langFields),
        m_table(table),
        m_langTable(langTable),
        m_connection(connection) {
    // Ids from a form arrive as texts; the rows are then written with the
    // number itself.
    m_lCallerMainId = IdOf(LastEntryNamed(m_mainFields, "lid"));
    if (m_lCallerMainId > 0) PutIdEntry(m_mainFields, "lid", m_lCallerMainId);
    m_pDtEdit = LastEntryNamed(m_mainFields, "dtedit");
    m_pUserId = LastEntryNamed(m_mainFields, "luserid");
    for (const auto& [lcid, list] : m_langFields) {
      const LONG lRowId = IdOf(LastEntryNamed(*list, "lid"));
      if (lRowId > 0) {
        PutIdEntry(*list, "lid", lRowId);
        m_langWithCallerId[lcid] = true;
      }
    }
  }

  // The tables in which this save may read a new id: the data table unless
  // the caller named the row, the language table unless the caller named
  // every language row.
  std::vector<std::string> TablesTakingIds() const {
    std::vector<std::string> tables;
    if (m_lCallerMainId <= 0) tables.push_back(m_table);
    if (!m_langTable.empty() && m_langWithCallerId.size() < m_langFields.size()) tables.push_back(m_langTable);
    return tables;
  }
  LONG CallerMainId() const { return m_lCallerMainId > 0 ? m_lCallerMainId : -1; }

  // Writes all rows inside the caller's transaction. Returns false when a
  // row to update does not exist (already traced).
  bool Attempt(LONG& lMainId) {
    CKvDbRowset rowset;
    LONG lRowId = m_lCallerMainId;
    if (lRowId > 0) {
      OpenForWriting(rowset, m_connection,
                     Format("SELECT * FROM %s WHERE lid=%d", m_table.c_str(), lRowId));
      if (rowset.IsEOF()) {
        TraceMissingRow(lRowId);
        return false;
      }
    } else {
      lRowId = NextFreeId(m_connection, m_table);
      PutIdEntry(m_mainFields, "lid", lRowId);
      OpenForWriting(rowset, m_connection,
                     Format("SELECT * FROM %s WHERE lid = -1", m_table.c_str()));
      rowset.AddNew();
    }
    WriteEntries(rowset, m_mainFields);
    UpdateRow(rowset, lRowId);
    rowset.Close();
    lMainId = lRowId;

    for (const auto& [lcid, list] : m_langFields) {
      if (!SaveLanguageRow(lMainId, lcid, *list)) return false;
    }
    return true;
  }

 private:
  bool SaveLanguageRow(LONG lMainId, LONG lLCID, FieldValueList& list) {
    LONG lRowId = m_langWithCallerId.count(lLCID) ? IdOf(LastEntryNamed(list, "lid")) : -1;
    // The main row's stamp wins over one set for the language alone.
    if (m_pDtEdit) AppendCopy(list, *m_pDtEdit);
    if (m_pUserId) AppendCopy(list, *m_pUserId);

    CKvDbRowset rowset;
    if (lRowId > 0) {
      OpenForWriting(rowset, m_connection,
                     Format("SELECT * FROM %s WHERE lid=%d", m_langTable.c_str(), lRowId));
      if (rowset.IsEOF()) {
        TraceMissingRow(lRowId);
        return false;
      }
    } else {
      OpenForWriting(rowset, m_connection,
                     Format("SELECT * FROM %s WHERE lparentid=%d AND llcid=%d",
                            m_langTable.c_str(), lMainId, lLCID));
      if (rowset.IsEOF()) {
        rowset.Close();
        lRowId = NextFreeId(m_connection, m_langTable);
        PutIdEntry(list, "lid", lRowId);
        PutIdEntry(list, "lparentid", lMainId);
        PutIdEntry(list, "llcid", lLCID);
        OpenForWriting(rowset, m_connection,
                       Format("SELECT * FROM %s WHERE lid = -1", m_langTable.c_str()));
        rowset.AddNew();
      }
    }
    WriteEntries(rowset, list);
    UpdateRow(rowset, lRowId);
    rowset.Close();
    return true;
  }

  FieldValueList& m_mainFields;
  LangFieldLists& m_langFields;
  const std::string& m_table;
  const std::string& m_langTable;
  CKvDbConnection& m_connection;
  LONG m_lCallerMainId = -1;
  const FieldValue* m_pDtEdit = nullptr;
  const FieldValue* m_pUserId = nullptr;
  std::map<LONG, bool> m_langWithCallerId;
};

// Begins an attempt's transaction. Running out of time while other writers
// hold the tables is a collision like any other: the attempt is retried.
void BeginAttempt(std::optional<ScopedTransaction>& transaction, CKvDbConnection& connection,
                  const RecordSave& save) {
  try {
    transaction.emplace(connection, save.TablesTakingIds());
  } catch (const CKvDbException& e) {
    if (!IsCollision(e.GetResult())) throw;
    throw RefusedUpdate{e, save.CallerMainId()};
  }
}

}  // namespace

HRESULT CKvDataPump::SaveFieldValues(LONG* pVal) {
  if (!pVal) return E_POINTER;
  return StandardFrame(kSourceDataPump, tracesite::kSaveFieldValues, [&]() -> HRESULT {
    if (!m_pSession || !SessionIsValid(m_pSession.Get()) || m_strTable.empty()) return S_OK;

    std::unique_ptr<CKvDbConnection> connection = OpenSessionConnection(m_pSession.Get());
    RecordSave save(m_arrFields, m_mapLangFields, m_strTable, m_strLangTable, *connection);
    int collisions = 0;
    for (;;) {
      std::optional<ScopedTransaction> transaction;
      try {
        BeginAttempt(transaction, *connection, save);
        LONG lMainId = -1;
        if (!save.Attempt(lMainId)) {
          transaction->Rollback();
          return S_OK;
        }
        transaction->Commit();
        *pVal = lMainId;
        return S_OK;
      } catch (const RefusedUpdate& refused) {
        if (transaction) transaction->Rollback();
        const HRESULT hr = refused.error.GetResult();
        if (!IsCollision(hr)) {
          TraceException(refused.error, kSourceDataPump, tracesite::kSaveRefusedUpdate + 1);
          return hr;
        }
        ++collisions;
        TraceText("Data save collision. ID: %d Retry: %d\n", refused.lRowId, collisions);
        if (collisions >= kMaxCollisions) TraceException(refused.error, kSourceDataPump, tracesite::kSaveRefusedUpdate + 2);
        Sleep(CollisionBackoffMs());
        // Giving up is reported by the frame's last handler, as a failure
        // that is not the database's own.
        if (collisions >= kMaxCollisions) throw _com_error(E_FAIL);
      }
    }
  });
}
