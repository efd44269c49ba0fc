#include "RegistryTree.h"

#include <algorithm>

namespace {

constexpr std::string_view kHeader = "KVCOM REGISTRY 1";

bool HasControlCharacter(std::string_view s) {
  return std::any_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

void AppendQuoted(std::string* out, std::string_view s) {
  out->push_back('"');
  for (char c : s) {
    switch (c) {
      case '\\': out->append("\\\\"); break;
      case '"': out->append("\\\""); break;
      case '\n': out->append("\\n"); break;
      case '\r': out->append("\\r"); break;
      default: out->push_back(c);
    }
  }
  out->push_back('"');
}

// Reads a quoted string starting at text[*pos] == '"'; leaves *pos after the
// closing quote.
bool ReadQuoted(std::string_view text, size_t* pos, std::string* out) {
  if (*pos >= text.size() || text[*pos] != '"') return false;
  out->clear();
  for (size_t i = *pos + 1; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c == '\\') {
      if (++i >= text.size()) return false;
      switch (text[i]) {
        case '\\': out->push_back('\\'); break;
        case '"': out->push_back('"'); break;
        case 'n': out->push_back('\n'); break;
        case 'r': out->push_back('\r'); break;
        default: return false;
      }
    } else {
      out->push_back(c);
    }
  }
  return false;
}

void SerializeKey(const KvRegistryTree::Key& key, const std::string& path, std::string* out) {
  if (!path.empty()) {
    out->append("[").append(path).append("]\n");
    if (key.defaultValue) {
      out->append("@=");
      AppendQuoted(out, *key.defaultValue);
      out->push_back('\n');
    }
    for (const auto& [name, value] : key.values) {
      AppendQuoted(out, name);
      out->push_back('=');
      AppendQuoted(out, value);
      out->push_back('\n');
    }
  }
  for (const auto& [name, sub] : key.subkeys)
    SerializeKey(*sub, path.empty() ? sub->name : path + "\\" + sub->name, out);
}

}  // namespace

KvRegistryTree::KvRegistryTree() : m_root(std::make_unique<Key>()) {}

bool KvRegistryTree::SplitPath(std::string_view path, std::vector<std::string>* names) {
  names->clear();
  if (path.empty() || HasControlCharacter(path)) return false;
  size_t start = 0;
  while (true) {
    size_t sep = path.find('\\', start);
    std::string_view name = path.substr(start, sep == std::string_view::npos ? sep : sep - start);
    if (name.empty()) return false;
    names->emplace_back(name);
    if (sep == std::string_view::npos) return true;
    start = sep + 1;
  }
}

const KvRegistryTree::Key* KvRegistryTree::Find(std::string_view path) const {
  return const_cast<KvRegistryTree*>(this)->Find(path);
}

KvRegistryTree::Key* KvRegistryTree::Find(std::string_view path) {
  std::vector<std::string> names;
  if (!SplitPath(path, &names)) return nullptr;
  Key* key = m_root.get();
  for (const std::string& name : names) {
    auto it = key->subkeys.find(name);
    if (it == key->subkeys.end()) return nullptr;
    key = it->second.get();
  }
  return key;
}

KvRegistryTree::Key* KvRegistryTree::Create(std::string_view path) {
  std::vector<std::string> names;
  if (!SplitPath(path, &names)) return nullptr;
  Key* key = m_root.get();
  for (const std::string& name : names) {
    auto& slot = key->subkeys[name];
    if (!slot) {
      slot = std::make_unique<Key>();
      slot->name = name;
    }
    key = slot.get();
  }
  return key;
}

bool KvRegistryTree::DeleteTree(std::string_view path) {
  std::vector<std::string> names;
  if (!SplitPath(path, &names)) return false;
  Key* parent = m_root.get();
  for (size_t i = 0; i + 1 < names.size(); ++i) {
    auto it = parent->subkeys.find(names[i]);
    if (it == parent->subkeys.end()) return false;
    parent = it->second.get();
  }
  return parent->subkeys.erase(names.back()) > 0;
}

std::string KvRegistryTree::Serialize() const {
  std::string out(kHeader);
  out.push_back('\n');
  SerializeKey(*m_root, std::string(), &out);
  return out;
}

bool KvRegistryTree::Parse(std::string_view text, KvRegistryTree* out) {
  *out = KvRegistryTree();
  KvRegistryTree tree;
  Key* current = nullptr;
  size_t pos = 0;
  bool first = true;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (first) {
      if (line != kHeader) return false;
      first = false;
      continue;
    }
    if (line.empty()) continue;
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3) return false;
      current = tree.Create(line.substr(1, line.size() - 2));
      if (!current) return false;
      continue;
    }
    if (!current) return false;
    size_t at = 0;
    std::string name;
    bool isDefault = false;
    if (line.front() == '@') {
      isDefault = true;
      at = 1;
    } else if (!ReadQuoted(line, &at, &name)) {
      return false;
    }
    if (at >= line.size() || line[at] != '=') return false;
    ++at;
    std::string value;
    if (!ReadQuoted(line, &at, &value) || at != line.size()) return false;
    if (isDefault)
      current->defaultValue = std::move(value);
    else
      current->values[name] = std::move(value);
  }
  *out = std::move(tree);
  return true;
}
