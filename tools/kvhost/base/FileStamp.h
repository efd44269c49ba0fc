// What tells one version of a file from another without reading it: the
// file it is (device and inode, so a file replaced by rename or a symlink
// pointed elsewhere counts as changed), its size and its modification time
// to the nanosecond.
#pragma once

#include <sys/types.h>

#include <string>

struct FileStamp {
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  long long modifiedNs = 0;

  // The file at path (symlinks followed) as it is now; false when it cannot
  // be seen.
  static bool Take(const std::string& path, FileStamp* stamp);
  bool SameAs(const FileStamp& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modifiedNs == other.modifiedNs;
  }
};
