#include "RowsetImpl.h"

#include <limits>

#include "ColumnFit.h"
#include "RowWriter.h"
#include "SqlText.h"
#include "ValueText.h"

namespace kvdbal {

CComVariant FieldImpl::GetValue() {
  CComVariant v;
  m_rowset->ReadValue(m_index, &v);
  return v;
}
long FieldImpl::GetLongValue() { return m_rowset->ReadLong(m_index); }
std::string FieldImpl::GetStringValue() { return m_rowset->ReadString(m_index); }
void FieldImpl::SetValue(const VARIANT& value) { m_rowset->SetValue(m_index, value); }
void FieldImpl::AppendChunk(const VARIANT& chunk) { m_rowset->AppendChunk(m_index, chunk); }
long FieldImpl::GetAttributes() { return m_rowset->Attributes(m_index); }
std::string FieldImpl::GetName() { return m_rowset->Name(m_index); }

RowsetImpl::RowsetImpl()
    : m_inlineFields{{this, 0}, {this, 1}, {this, 2}, {this, 3},
                     {this, 4}, {this, 5}, {this, 6}, {this, 7}} {}
RowsetImpl::~RowsetImpl() = default;

void RowsetImpl::Open(const char* sql, CKvDbConnection* connection, eKvDbCursorType cursorType,
                      eKvDbLockType lockType) {
  if (!sql) throw CKvDbException(E_POINTER, "no statement to open");
  if (!connection) throw CKvDbException(E_POINTER, "no connection to open the rowset on");
  Close();
  std::shared_ptr<EngineConnection> engine = connection->Engine();
  std::unique_ptr<Cursor> cursor = engine->OpenCursor(sql);
  m_engine = std::move(engine);
  m_cursor = std::move(cursor);
  m_writable = lockType == kvDbLockPessimistic || lockType == kvDbLockOptimistic ||
               lockType == kvDbLockBatchOptimistic ||
               (cursorType == kvDbOpenForwardOnly && lockType == kvDbLockReadOnly);
  // Only a rowset that may store rows needs its text again (for the table).
  if (m_writable)
    m_sql = sql;
  else
    m_sql.clear();
  m_pos = -1;
  m_count = -1;
  m_eof = false;
  try {
    StepForward(1);
  } catch (...) {
    Close();
    throw;
  }
}

void RowsetImpl::Close() {
  DropRowBuffer();
  m_cursor.reset();
  m_engine.reset();
}

void RowsetImpl::CheckOpen() const {
  if (!m_cursor) throw CKvDbException(KVDB_E_CLOSED, "the rowset is not open");
}

bool RowsetImpl::IsEOF() const {
  CheckOpen();
  return m_eof || m_count == 0;
}

bool RowsetImpl::IsBOF() const {
  CheckOpen();
  return m_pos < 0 || m_count == 0;
}

// ---- navigation ---------------------------------------------------------------

void RowsetImpl::StepForward(long long count) {
  long long landed = 0;
  try {
    landed = m_cursor->Advance(count);
  } catch (...) {
    // A cursor that failed to step has started over.
    m_pos = -1;
    m_eof = false;
    throw;
  }
  if (landed == count) {
    m_pos += count;
  } else {
    m_count = m_pos + landed + 1;
    m_pos = m_count;
    m_eof = true;
  }
}

void RowsetImpl::GoBeforeFirst() {
  m_cursor->Restart();
  m_pos = -1;
  m_eof = false;
}

void RowsetImpl::GoTo(long long target) {
  if (!m_eof && target == m_pos) return;
  if (m_eof || target < m_pos) GoBeforeFirst();
  StepForward(target - m_pos);
}

void RowsetImpl::MoveFirst() {
  CheckOpen();
  DropRowBuffer();
  if (m_count == 0) return;
  GoTo(0);
}

void RowsetImpl::MoveNext() {
  CheckOpen();
  DropRowBuffer();
  if (IsEOF()) throw CKvDbException(KVDB_E_NOCURRENTROW, "there is no next row: the rowset is at its end");
  StepForward(1);
}

void RowsetImpl::MovePrev() {
  CheckOpen();
  DropRowBuffer();
  if (IsBOF()) throw CKvDbException(KVDB_E_NOCURRENTROW, "there is no previous row: the rowset is at its start");
  long long target = (m_eof ? m_count : m_pos) - 1;
  if (target < 0)
    GoBeforeFirst();
  else
    GoTo(target);
}

void RowsetImpl::MoveLast() {
  CheckOpen();
  DropRowBuffer();
  if (m_count < 0 && !m_eof) StepForward(std::numeric_limits<long long>::max() / 2);
  if (m_count <= 0) return;
  GoTo(m_count - 1);
}

void RowsetImpl::Move(long long count) {
  CheckOpen();
  DropRowBuffer();
  if (count == 0) {
    CheckCurrentRow();
    return;
  }
  if (count > 0) {
    if (!IsEOF()) StepForward(count);
    return;
  }
  if (IsBOF()) return;
  long long target = (m_eof ? m_count : m_pos) + count;
  if (target < 0)
    GoBeforeFirst();
  else
    GoTo(target);
}

// ---- fields ------------------------------------------------------------------------

int RowsetImpl::FieldCount() const {
  CheckOpen();
  return m_cursor->ColumnCount();
}

void RowsetImpl::CheckColumn(int index) const {
  CheckOpen();
  if (index < 0 || index >= m_cursor->ColumnCount())
    throw CKvDbException(KVDB_E_BADCOLUMN, "the rowset has no column " + std::to_string(index));
}

CKvDbField* RowsetImpl::FieldAt(int index) {
  CheckColumn(index);
  if (index < kInlineFields) return &m_inlineFields[index];
  size_t slot = static_cast<size_t>(index - kInlineFields);
  if (m_moreFields.size() <= slot) {
    // Grown once for all columns of this result, so pointers handed out
    // stay valid until the rowset closes.
    int count = m_cursor->ColumnCount();
    m_moreFields.clear();
    m_moreFields.reserve(count - kInlineFields);
    for (int i = kInlineFields; i < count; ++i) m_moreFields.emplace_back(this, i);
  }
  return &m_moreFields[slot];
}

CKvDbField* RowsetImpl::FieldNamed(std::string_view name) {
  CheckOpen();
  for (int i = 0, n = m_cursor->ColumnCount(); i < n; ++i)
    if (EqualsIgnoringAsciiCase(m_cursor->ColumnName(i), name)) return FieldAt(i);
  throw CKvDbException(KVDB_E_BADCOLUMN, "the rowset has no column named " + std::string(name));
}

long RowsetImpl::Attributes(int index) {
  CheckColumn(index);
  return m_cursor->Column(index).isLong ? kvDbFieldLong : 0;
}

std::string RowsetImpl::Name(int index) {
  CheckColumn(index);
  return m_cursor->ColumnName(index);
}

bool RowsetImpl::HasCurrentRow() const {
  return m_source != RowSource::Cursor || (m_pos >= 0 && !m_eof);
}

void RowsetImpl::CheckCurrentRow() const {
  if (!HasCurrentRow())
    throw CKvDbException(KVDB_E_NOCURRENTROW, "there is no current row: the rowset is at its start or end");
}

const PendingValue* RowsetImpl::Pending(int index) const {
  if (m_pending.empty() || !m_pending[index].set) return nullptr;
  return &m_pending[index];
}

void RowsetImpl::ReadValue(int index, VARIANT* out) {
  CheckColumn(index);
  CheckCurrentRow();
  VariantClear(out);
  if (const PendingValue* p = Pending(index)) {
    if (!p->chunked) {
      HRESULT hr = VariantCopy(out, &p->value);
      if (FAILED(hr)) throw CKvDbException(hr, "cannot copy the value of column " + Name(index));
    } else if (p->chunkIsText) {
      SetTextVariant(p->chunk, out);
    } else {
      SetBytesVariant(p->chunk, out);
    }
    return;
  }
  if (m_source != RowSource::Cursor) {
    out->vt = VT_NULL;
    return;
  }
  m_cursor->ReadValue(index, out);
}

long RowsetImpl::ReadLong(int index) {
  CheckColumn(index);
  CheckCurrentRow();
  if (Pending(index) || m_source != RowSource::Cursor) {
    CComVariant v;
    ReadValue(index, &v);
    return LongFromVariant(v);
  }
  return m_cursor->ReadLong(index);
}

std::string RowsetImpl::ReadString(int index) {
  CheckColumn(index);
  CheckCurrentRow();
  if (const PendingValue* p = Pending(index); p && p->chunked) return p->chunk;
  if (Pending(index) || m_source != RowSource::Cursor) {
    CComVariant v;
    ReadValue(index, &v);
    return StringFromVariant(v);
  }
  return m_cursor->ReadString(index);
}

// ---- writing -----------------------------------------------------------------------

void RowsetImpl::CheckWritable() const {
  if (!m_writable)
    throw CKvDbException(KVDB_E_NOTSUPPORTED, "the rowset was opened for reading only");
}

void RowsetImpl::DropRowBuffer() {
  m_source = RowSource::Cursor;
  m_pending.clear();
}

PendingValue& RowsetImpl::PendingForWrite(int index) {
  CheckColumn(index);
  CheckWritable();
  CheckCurrentRow();
  if (m_pending.empty()) m_pending.resize(m_cursor->ColumnCount());
  return m_pending[index];
}

void RowsetImpl::SetValue(int index, const VARIANT& value) {
  PendingValue& p = PendingForWrite(index);
  CheckValueFitsColumn(value, m_cursor->Column(index).kind, Name(index));
  CComVariant copy;
  HRESULT hr = VariantCopyInd(&copy, &value);
  if (FAILED(hr)) throw CKvDbException(hr, "cannot take the value for column " + Name(index));
  p.value = std::move(copy);
  p.set = p.changed = true;
  p.chunked = false;
  p.chunk.clear();
}

void RowsetImpl::AppendChunk(int index, const VARIANT& chunk) {
  if (Attributes(index) != kvDbFieldLong)
    throw CKvDbException(KVDB_E_NOTSUPPORTED, "column " + Name(index) + " is no long field");
  PendingValue& p = PendingForWrite(index);
  CheckValueFitsColumn(chunk, m_cursor->Column(index).kind, Name(index));
  bool binary = chunk.vt == (VT_ARRAY | VT_UI1);
  // The first chunk since the row became current replaces the stored value.
  if (!p.chunked || !p.changed) {
    p.chunk.clear();
    p.chunkIsText = !binary;
    p.value.Clear();
  }
  if (binary)
    p.chunk.append(BytesOfArray(chunk.parray));
  else
    p.chunk += StringFromVariant(chunk);
  p.set = p.changed = p.chunked = true;
}

void RowsetImpl::AddNew() {
  CheckOpen();
  CheckWritable();
  DropRowBuffer();
  m_source = RowSource::NewRow;
  m_pending.resize(m_cursor->ColumnCount());
}

void RowsetImpl::Update() {
  CheckOpen();
  CheckWritable();
  CheckCurrentRow();
  bool changed = false;
  for (const PendingValue& p : m_pending) changed = changed || p.changed;
  if (!changed && m_source != RowSource::NewRow) return;
  std::string table = SingleTableOf(m_sql);
  if (table.empty())
    throw CKvDbException(KVDB_E_NOTSUPPORTED, "rows can be stored only through a SELECT of one table");
  if (m_source == RowSource::NewRow) {
    InsertRow(*m_engine, *m_cursor, table, m_pending);
    m_source = RowSource::StoredNewRow;
  } else {
    UpdateRow(*m_engine, *m_cursor, table, m_pending, m_source == RowSource::Cursor);
  }
  for (PendingValue& p : m_pending) p.changed = false;
}

}  // namespace kvdbal
