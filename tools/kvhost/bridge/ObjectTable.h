// The COM objects a page holds. Script objects carry only a number; the
// reference itself lives here, so whatever the script engine does not
// finalise is still released when the host tears the table down.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/com/ComPtr.h"
#include "platform/com/TypeInfo.h"

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
  // The same, with the object's label ("object" when the id is unknown),
  // valid while the object is in the table.
  IDispatch* Find(uint32_t id, std::string_view* label) const;
  void Remove(uint32_t id);
  // The member ids found on an object so far, by the name the script used.
  // An object's ids stay the same while it lives, so each name it is
  // called by is looked up once. Objects that describe their class with
  // type information share what was found with every object of that class
  // (its ids come from that description), for as long as the table lives;
  // any other object starts with none.
  // *isMethod tells whether reading the member without arguments was found
  // to be no plain property, so that the next read need not ask again.
  bool KnownMember(uint32_t id, std::string_view name, DISPID* dispid, bool* isMethod) const;
  void RememberMember(uint32_t id, std::string_view name, DISPID dispid);
  void RememberMethod(uint32_t id, DISPID dispid);
  // The name a remembered member id was first found by ("" when unknown),
  // valid while the object is in the table.
  std::string_view MemberName(uint32_t id, DISPID dispid) const;
  size_t Count() const { return m_entries.size(); }
  // Releases every object, the most recently created first.
  void Clear();

 private:
  struct Member {
    std::string name;
    DISPID dispid;
    bool isMethod;
  };
  // A page names a few; names stay where they are.
  using Members = std::deque<Member>;
  struct Entry {
    ComPtr<IDispatch> object;
    std::string label;
    std::shared_ptr<Members> members;
  };
  // The members of each class described by type information, by that
  // description, which is held so that its address names no other.
  struct KnownClass {
    ComPtr<ITypeInfo> description;
    std::shared_ptr<Members> members;
  };
  std::shared_ptr<Members> MembersOf(IDispatch* object);

  std::map<uint32_t, Entry> m_entries;
  std::map<ITypeInfo*, KnownClass> m_classes;
  uint32_t m_nextId = 1;
};
