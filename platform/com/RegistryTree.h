// The class registry's keys in memory: a tree of keys below
// HKEY_CLASSES_ROOT, each with an optional default value and named string
// values, and its text form on disk.
//
// Key paths use '\' between key names. Key and value names are matched
// without regard to ASCII case and keep the case they were created with, as
// the registry of the original platform does.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "AsciiCase.h"

class KvRegistryTree {
 public:
  struct Key {
    std::string name;                          // as first created
    std::optional<std::string> defaultValue;   // unset: the key has no default value
    std::map<std::string, std::string, AsciiCaseLess> values;  // named values
    std::map<std::string, std::unique_ptr<Key>, AsciiCaseLess> subkeys;
  };

  KvRegistryTree();

  // Splits a path into key names; false for an empty path or an empty name
  // ("a\\\\b", a leading or trailing separator) and for names holding
  // control characters, which the text form could not keep.
  static bool SplitPath(std::string_view path, std::vector<std::string>* names);

  const Key* Find(std::string_view path) const;
  Key* Find(std::string_view path);
  // Creates the key and any missing parents; nullptr for an invalid path.
  Key* Create(std::string_view path);
  // Removes the key with everything below it; false when it does not exist.
  bool DeleteTree(std::string_view path);

  const Key& Root() const { return *m_root; }

  // Text form: a header line, then one section per key in depth-first
  // order ("[path]"), each followed by its values ("@=" for the default,
  // "\"name\"=" for named ones; values quoted with \\, \" and \n escapes).
  std::string Serialize() const;
  // false (tree left empty) when the text is not in that form.
  static bool Parse(std::string_view text, KvRegistryTree* out);

 private:
  std::unique_ptr<Key> m_root;
};
