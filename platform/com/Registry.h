// The file-backed class registry: the keys below HKEY_CLASSES_ROOT, kept in
// text files. Lookups ask, in this order:
//   1. the user's registry: the file the process chose (KvRegistryUseFile),
//      else the file KVCOM_REGISTRY names, else the per-user file
//      ($XDG_CONFIG_HOME/kvcom/registry or ~/.config/kvcom/registry);
//   2. the system registry of the installation: kvcom/registry in the folder
//      of the platform library itself (<prefix>/lib/kvcom/registry), written
//      when the package is installed.
// The first file that holds a key answers for it. Writes go to the user's
// registry only; kvregsvr --system points them at the system registry.
// A module path in a registry may be relative: it is then relative to the
// folder of the registry file that holds it, so an installed tree can move.
//
// Readers take no lock: a writer never changes the file in place but writes
// a temporary file and renames it over the old one, so a reader sees either
// the old or the new registry, whole. Writers serialise on a lock file beside
// the registry (flock), so two registrations running at once cannot lose
// each other's keys.
//
// Key paths are relative to HKEY_CLASSES_ROOT with '\' between key names
// ("CLSID\\{...}\\InprocServer32"); names match without regard to case. An
// empty value name stands for the key's default value.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ComTypes.h"
#include "RegistryTree.h"

// Makes path the user's registry of this process, for every lookup, write
// and module registration from now on; an empty path gives the choice back
// to KVCOM_REGISTRY and the per-user default. A host or tool with its own
// registry option calls this; the environment variable is how a process
// tells the processes it starts.
void KvRegistryUseFile(const std::string& path);

enum class KvRegistrySource { Chosen, Environment, PerUser };

// The file KvRegistryUseFile chose, else KVCOM_REGISTRY when set, else
// $XDG_CONFIG_HOME/kvcom/registry, else $HOME/.config/kvcom/registry. Read
// anew on every access. *source, when given, says which of them it is.
std::string KvRegistryFilePath(KvRegistrySource* source = nullptr);
// kvcom/registry beside the platform library (see above).
std::string KvSystemRegistryFilePath();
// The files lookups ask, in their order (the system registry is left out
// when it is the user's registry too).
std::vector<std::string> KvRegistrySearchPath();

// The registry as last committed (empty when the file does not exist yet).
// REGDB_E_READREGDB when the file cannot be read or is not a registry.
HRESULT KvRegistryLoad(std::shared_ptr<const KvRegistryTree>* out);
// The same for any registry file.
HRESULT KvRegistryLoadFile(const std::string& path, std::shared_ptr<const KvRegistryTree>* out);

// ---- reading ------------------------------------------------------------------
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when the key or the value is missing.
HRESULT KvRegQueryValue(std::string_view keyPath, std::string_view valueName, std::string* value);
// The same, also naming the registry file that answered (when file is given).
HRESULT KvRegQueryValueWhere(std::string_view keyPath, std::string_view valueName, std::string* value,
                             std::string* file);
bool KvRegKeyExists(std::string_view keyPath);
// Names of the direct subkeys, in the registry's order.
HRESULT KvRegEnumKeys(std::string_view keyPath, std::vector<std::string>* names);

// ---- writing -------------------------------------------------------------------
// Holds the lock file from Begin until it is destroyed; edits change a copy
// of the tree, which Commit writes in one atomic replacement. Without Commit
// nothing changes.
class KvRegistryTransaction {
 public:
  KvRegistryTransaction() = default;
  KvRegistryTransaction(const KvRegistryTransaction&) = delete;
  KvRegistryTransaction& operator=(const KvRegistryTransaction&) = delete;
  ~KvRegistryTransaction();

  // REGDB_E_WRITEREGDB when the lock cannot be taken, REGDB_E_READREGDB when
  // the current file is unreadable (it is then left as it is).
  HRESULT Begin();
  // The pending tree, for reads and edits (valid after a successful Begin).
  KvRegistryTree& Tree() { return m_tree; }

  HRESULT CreateKey(std::string_view keyPath);
  HRESULT SetValue(std::string_view keyPath, std::string_view valueName, std::string_view value);
  // S_FALSE when there was nothing to delete.
  HRESULT DeleteValue(std::string_view keyPath, std::string_view valueName);
  HRESULT DeleteTree(std::string_view keyPath);

  HRESULT Commit();

 private:
  int m_lockFd = -1;
  std::string m_path;
  KvRegistryTree m_tree;
};

// One-shot forms, each a transaction of its own.
HRESULT KvRegCreateKey(std::string_view keyPath);
HRESULT KvRegSetValue(std::string_view keyPath, std::string_view valueName, std::string_view value);
HRESULT KvRegDeleteTree(std::string_view keyPath);
