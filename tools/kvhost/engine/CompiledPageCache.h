// Compiled pages by virtual path, each with the files it was made from as
// they were then. An entry serves only while every one of those files is
// unchanged on disk (same inode, size and modification time), so a page is
// compiled again when it or anything it includes is edited, replaced or
// removed. At most `capacity` pages are kept; the one used longest ago goes
// first.
//
// File systems stamp modification times from a coarse clock, so a file
// written twice within one tick can keep its stamp. A page whose files were
// modified moments before they were stamped is therefore not kept: it is
// compiled again until its files have settled.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/FileStamp.h"
#include "engine/PageEngine.h"

class CompiledPageCache {
 public:
  explicit CompiledPageCache(size_t capacity) : m_capacity(capacity) {}
  CompiledPageCache(const CompiledPageCache&) = delete;
  CompiledPageCache& operator=(const CompiledPageCache&) = delete;

  // The program for virtualPath if one is kept and none of its files has
  // changed since; null otherwise (a stale entry is dropped).
  std::shared_ptr<const CompiledProgram> Find(const std::string& virtualPath);
  // Keeps program for virtualPath, made from files as stamped before they
  // were read (unless one of them was modified too recently to tell a later
  // change by its stamp).
  void Store(const std::string& virtualPath, std::shared_ptr<const CompiledProgram> program,
             std::vector<FileStamp> files);
  size_t Size() const;

 private:
  struct Entry {
    std::shared_ptr<const CompiledProgram> program;
    std::vector<FileStamp> files;
    std::list<std::string>::iterator recent;
  };
  static bool Unchanged(const std::vector<FileStamp>& files);

  size_t m_capacity;
  mutable std::mutex m_mutex;
  std::unordered_map<std::string, Entry> m_entries;
  std::list<std::string> m_recent;  // most recently used first
};
