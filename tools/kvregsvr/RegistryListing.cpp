#include "RegistryListing.h"

#include <filesystem>
#include <memory>
#include <set>

#include "platform/com/Registry.h"
#include "platform/com/RegistryTree.h"

namespace fs = std::filesystem;

namespace {

std::string Role(const std::string& file) {
  if (file == KvSystemRegistryFilePath()) return "system registry";
  KvRegistrySource source = KvRegistrySource::PerUser;
  KvRegistryFilePath(&source);
  switch (source) {
    case KvRegistrySource::Chosen:
      return "registry of --registry";
    case KvRegistrySource::Environment:
      return "registry of KVCOM_REGISTRY";
    case KvRegistrySource::PerUser:
      break;
  }
  return "per-user registry";
}

const std::string* DefaultOf(const KvRegistryTree& tree, const std::string& path) {
  const KvRegistryTree::Key* key = tree.Find(path);
  return key && key->defaultValue ? &*key->defaultValue : nullptr;
}

std::string Absolute(const std::string& module, const std::string& registryFile) {
  if (!module.empty() && module.front() == '/') return module;
  return (fs::path(registryFile).parent_path() / module).lexically_normal().string();
}

// Every value of the key and the keys below it.
template <typename Visit>
void ForEachValue(KvRegistryTree::Key& key, Visit visit) {
  if (key.defaultValue) visit(*key.defaultValue);
  for (auto& [name, value] : key.values) visit(value);
  for (auto& [name, sub] : key.subkeys) ForEachValue(*sub, visit);
}

}  // namespace

bool PrintRegistryListing(std::FILE* out, std::string* error) {
  const std::vector<std::string> files = KvRegistrySearchPath();
  std::set<std::string> seen;
  for (size_t i = 0; i < files.size(); ++i) {
    std::shared_ptr<const KvRegistryTree> tree;
    if (FAILED(KvRegistryLoadFile(files[i], &tree))) {
      *error = "cannot read the registry " + files[i];
      return false;
    }
    std::error_code ec;
    std::fprintf(out, "%s %s%s\n", Role(files[i]).c_str(), files[i].c_str(),
                 fs::exists(files[i], ec) ? ":" : " (no such file)");
    int listed = 0;
    for (const auto& [name, key] : tree->Root().subkeys) {
      const std::string* clsid = DefaultOf(*tree, key->name + "\\CLSID");
      if (!clsid || key->name == "CLSID") continue;
      const std::string* module = DefaultOf(*tree, "CLSID\\" + *clsid + "\\InprocServer32");
      std::string path = module ? Absolute(*module, files[i]) : "(no module)";
      std::string note;
      if (module && !fs::exists(path, ec)) note = " (missing)";
      if (!seen.insert(key->name).second) note += " (hidden)";
      std::fprintf(out, "  %s %s %s%s\n", key->name.c_str(), clsid->c_str(), path.c_str(), note.c_str());
      ++listed;
    }
    if (listed == 0) std::fprintf(out, "  (nothing registered)\n");
  }
  return true;
}

bool MakeModulePathsRelative(const std::string& modulePath, const std::string& registryFile, std::string* error) {
  std::error_code ec;
  const fs::path module = fs::canonical(modulePath, ec);
  const fs::path registryDir = fs::weakly_canonical(fs::absolute(registryFile).parent_path(), ec);
  if (ec) {
    *error = "cannot resolve " + modulePath;
    return false;
  }
  const std::string moduleText = module.string(), dirText = module.parent_path().string();
  const std::string relativeModule = module.lexically_relative(registryDir).string();
  const std::string relativeDir = module.parent_path().lexically_relative(registryDir).string();
  KvRegistryTransaction tx;
  if (FAILED(tx.Begin())) {
    *error = "cannot open the registry " + registryFile + " for writing";
    return false;
  }
  // The pending tree is the transaction's own copy: editing its keys in place is
  // what Commit writes.
  ForEachValue(const_cast<KvRegistryTree::Key&>(tx.Tree().Root()), [&](std::string& value) {
    if (value == moduleText) value = relativeModule;
    else if (value == dirText) value = relativeDir;
  });
  if (FAILED(tx.Commit())) {
    *error = "cannot write the registry " + registryFile;
    return false;
  }
  return true;
}
