#include "base/FileText.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

namespace {

bool Refuse(std::string* error, std::string reason) {
  if (error) *error = std::move(reason);
  return false;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string* text, std::string* error) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec))
    return Refuse(error, "cannot read " + path + ": it is a directory");
  std::ifstream in(path, std::ios::binary);
  if (!in) return Refuse(error, "cannot read " + path + ": " + std::strerror(errno));
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) return Refuse(error, "cannot read " + path);
  *text = buffer.str();
  return true;
}
