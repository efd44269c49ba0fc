// The COM objects a page holds. Script objects carry only a number; the
// reference itself lives here, so whatever the script engine does not
// finalise is still released when the host tears the table down.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/com/ComPtr.h"

class ObjectTable {
 public:
  ObjectTable() = default;
  ObjectTable(const ObjectTable&) = delete;
  ObjectTable& operator=(const ObjectTable&) = delete;
  ~ObjectTable() { Clear(); }

  // label names the object in error messages (its ProgID, or "Session").
  uint32_t Add(ComPtr<IDispatch> object, std::string label);
  // Borrowed pointer; null when the id is unknown or already released.
  IDispatch* Find(uint32_t id) const;
  std::string Label(uint32_t id) const;
  void Remove(uint32_t id);
  size_t Count() const { return m_entries.size(); }
  // Releases every object, the most recently created first.
  void Clear();

 private:
  struct Entry {
    ComPtr<IDispatch> object;
    std::string label;
  };
  std::map<uint32_t, Entry> m_entries;
  uint32_t m_nextId = 1;
};
