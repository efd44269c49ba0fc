// The application's values and lock kept in the shared state database, so
// that every serve process sees the same Application(name) and one page at
// a time, whichever process runs it, holds Application.Lock.
#pragma once

#include "page/PageContext.h"
#include "state/StateDatabase.h"

class DatabaseApplication final : public PageApplication, private ValueStore {
 public:
  explicit DatabaseApplication(StateDatabase& database) : m_database(database) {}
  ValueStore& Values() override { return *this; }
  HeldLock Lock(std::chrono::steady_clock::time_point deadline) override;

 private:
  // Every read and write goes to the database: a value another process
  // put a moment ago is the one a page reads.
  bool Get(const std::string& name, VARIANT* out) const override;
  void Put(const std::string& name, const VARIANT& value) override;

  StateDatabase& m_database;
};
