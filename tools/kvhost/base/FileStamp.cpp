#include "base/FileStamp.h"

#include <sys/stat.h>

bool FileStamp::Take(const std::string& path, FileStamp* stamp) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return false;
  stamp->path = path;
  stamp->device = info.st_dev;
  stamp->inode = info.st_ino;
  stamp->size = info.st_size;
  stamp->modifiedNs = static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
  return true;
}
