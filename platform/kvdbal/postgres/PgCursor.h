// A streaming PostgreSQL query over a server-side cursor: rows come in
// batches; skipping moves the server's cursor without fetching. A query
// known to give few rows has its whole result in hand instead.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "PgConnection.h"

namespace kvdbal {

class PgCursor final : public Cursor {
 public:
  // Runs sql and takes its first batch.
  PgCursor(std::shared_ptr<PgConnection> connection, std::string sql);
  ~PgCursor() override;

  int ColumnCount() const override { return static_cast<int>(m_columns.size()); }
  const ColumnInfo& Column(int index) override { return m_columns[index]; }
  const std::string& ColumnName(int index) override { return m_names[index]; }
  long long Advance(long long n) override;
  void Restart() override;
  void ReadValue(int index, VARIANT* out) override;
  long ReadLong(int index) override;
  std::string ReadString(int index) override;

  // The transaction that declared the cursor was rolled back.
  void MarkDead() { m_dead = true; }

 private:
  // The first batch: the whole result of a prepared shape, or a cursor
  // declared for the query.
  void Open();
  void CloseDeclared();
  void TakeBatch(PgResult batch);
  // Whether the server has rows after the batch in hand; at their end the
  // cursor's own transaction, if it has one, ends too.
  void NoteEnd(bool exhausted);
  long long MoveForward(long long count);
  bool IsNull(int index) const;
  std::string_view Text(int index) const;

  std::shared_ptr<PgConnection> m_connection;
  std::string m_sql;
  bool m_isQuery = false;
  std::string m_name;  // the declared cursor; empty while none
  bool m_dead = false;
  bool m_exhausted = false;  // no rows after the current batch
  PgResult m_batch;
  int m_rows = 0;
  int m_index = -1;  // the current row within m_batch
  std::vector<ColumnInfo> m_columns;
  std::vector<std::string> m_names;
};

}  // namespace kvdbal
