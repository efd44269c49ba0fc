// The engine-neutral rowset: position bookkeeping over a streaming cursor,
// the fields handed out, and the row buffer that AddNew / SetValue /
// AppendChunk fill and Update stores.
#pragma once

#include <memory>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "Engine.h"

namespace kvdbal {

// A field is a column index into its rowset; every operation asks the
// rowset, which knows whether a row is current and where its value lives.
class RowsetImpl;
class FieldImpl final : public CKvDbField {
 public:
  FieldImpl(RowsetImpl* rowset, int index) : m_rowset(rowset), m_index(index) {}
  CComVariant GetValue() override;
  long GetLongValue() override;
  std::string GetStringValue() override;
  void SetValue(const VARIANT& value) override;
  void AppendChunk(const VARIANT& chunk) override;
  long GetAttributes() override;
  std::string GetName() override;

 private:
  RowsetImpl* m_rowset;
  int m_index;
};

// A value written to the current row and not yet, or already, stored.
struct PendingValue {
  bool set = false;      // the buffer holds this column's value
  bool changed = false;  // set since the last Update
  bool chunked = false;  // collected by AppendChunk into chunk
  bool chunkIsText = true;
  CComVariant value;
  std::string chunk;
};

class RowsetImpl {
 public:
  RowsetImpl();
  ~RowsetImpl();
  RowsetImpl(const RowsetImpl&) = delete;  // its fields point back at it
  RowsetImpl& operator=(const RowsetImpl&) = delete;

  void Open(const char* sql, CKvDbConnection* connection, eKvDbCursorType cursorType,
            eKvDbLockType lockType);
  bool IsOpen() const { return m_cursor != nullptr; }
  bool IsEOF() const;
  bool IsBOF() const;
  void MoveFirst();
  void MoveNext();
  void MovePrev();
  void MoveLast();
  void Move(long long count);
  void AddNew();
  void Update();
  void Close();

  CKvDbField* FieldAt(int index);
  CKvDbField* FieldNamed(std::string_view name);
  int FieldCount() const;

  // Operations of the fields handed out.
  void ReadValue(int index, VARIANT* out);
  long ReadLong(int index);
  std::string ReadString(int index);
  void SetValue(int index, const VARIANT& value);
  void AppendChunk(int index, const VARIANT& chunk);
  long Attributes(int index);
  std::string Name(int index);

 private:
  enum class RowSource { Cursor, NewRow, StoredNewRow };

  void CheckOpen() const;
  void CheckColumn(int index) const;
  void CheckWritable() const;
  bool HasCurrentRow() const;
  void CheckCurrentRow() const;
  const PendingValue* Pending(int index) const;
  PendingValue& PendingForWrite(int index);
  void DropRowBuffer();

  void StepForward(long long count);
  void GoTo(long long target);
  void GoBeforeFirst();

  std::shared_ptr<EngineConnection> m_engine;
  std::unique_ptr<Cursor> m_cursor;
  std::string m_sql;
  bool m_writable = false;

  // The cursor stands on row m_pos (0-based; -1 before the first). Once the
  // end has been reached, m_count holds the number of rows and m_eof is set
  // until the cursor starts again.
  long long m_pos = -1;
  long long m_count = -1;
  bool m_eof = false;

  RowSource m_source = RowSource::Cursor;
  std::vector<PendingValue> m_pending;  // empty while nothing was written
  // One field per column. The first ones live inside the rowset, so that the
  // common narrow query allocates nothing for its fields.
  static constexpr int kInlineFields = 8;
  FieldImpl m_inlineFields[kInlineFields];
  std::vector<FieldImpl> m_moreFields;  // columns from kInlineFields on
};

}  // namespace kvdbal
