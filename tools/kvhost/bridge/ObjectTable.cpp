#include "bridge/ObjectTable.h"

#include <utility>

uint32_t ObjectTable::Add(ComPtr<IDispatch> object, std::string label) {
  uint32_t id = m_nextId++;
  std::shared_ptr<Members> members = MembersOf(object.Get());
  m_entries.emplace(id, Entry{std::move(object), std::move(label), std::move(members)});
  return id;
}

std::shared_ptr<ObjectTable::Members> ObjectTable::MembersOf(IDispatch* object) {
  ComPtr<ITypeInfo> description;
  if (!object || FAILED(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, description.ReleaseAndGetAddressOf())) ||
      !description)
    return std::make_shared<Members>();
  KnownClass& known = m_classes[description.Get()];
  if (!known.members) {
    known.description = std::move(description);
    known.members = std::make_shared<Members>();
  }
  return known.members;
}

IDispatch* ObjectTable::Find(uint32_t id) const {
  std::string_view label;
  return Find(id, &label);
}

IDispatch* ObjectTable::Find(uint32_t id, std::string_view* label) const {
  auto it = m_entries.find(id);
  if (it == m_entries.end()) {
    *label = "object";
    return nullptr;
  }
  *label = it->second.label;
  return it->second.object.Get();
}

bool ObjectTable::KnownMember(uint32_t id, std::string_view name, DISPID* dispid, bool* isMethod) const {
  auto it = m_entries.find(id);
  if (it == m_entries.end()) return false;
  for (const Member& member : *it->second.members) {
    if (member.name == name) {
      *dispid = member.dispid;
      *isMethod = member.isMethod;
      return true;
    }
  }
  return false;
}

void ObjectTable::RememberMember(uint32_t id, std::string_view name, DISPID dispid) {
  auto it = m_entries.find(id);
  if (it != m_entries.end()) it->second.members->push_back(Member{std::string(name), dispid, false});
}

void ObjectTable::RememberMethod(uint32_t id, DISPID dispid) {
  auto it = m_entries.find(id);
  if (it == m_entries.end()) return;
  for (Member& member : *it->second.members)
    if (member.dispid == dispid) member.isMethod = true;
}

std::string_view ObjectTable::MemberName(uint32_t id, DISPID dispid) const {
  auto it = m_entries.find(id);
  if (it == m_entries.end()) return {};
  for (const Member& member : *it->second.members)
    if (member.dispid == dispid) return member.name;
  return {};
}

void ObjectTable::Remove(uint32_t id) {
  auto it = m_entries.find(id);
  if (it == m_entries.end()) return;
  // Take the entry out before releasing: a destructor that calls back into
  // the host must find the table consistent.
  Entry entry = std::move(it->second);
  m_entries.erase(it);
}

void ObjectTable::Clear() {
  while (!m_entries.empty()) Remove(std::prev(m_entries.end())->first);
}
