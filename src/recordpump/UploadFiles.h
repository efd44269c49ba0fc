// Stored files of upload rows: where an upload's file lies below the
// application base path, and its removal with the "File Warning" report.
#pragma once

#include <string>

#include "FilePath.h"

// The base path immediately followed by the url, every '/' then turned into
// '\'. Nothing is inserted between the two, so the caller's base path and url
// decide whether a separator stands there.
std::string PlainUploadPath(const std::string& basePath, const std::string& url);

// The url (without one leading separator) joined onto the parsed base path:
// separators are normalised and "." and ".." applied.
std::string JoinedUploadPath(const CFilePath& basePath, const std::string& url);

// Deletes the file once. On failure writes a "File Warning" report naming the
// path, the system error code and its message, and returns false; nothing is
// raised either way. traceSite is the caller's own number for the report.
bool RemoveUploadFile(const std::string& path, int traceSite);

// A removal of an upload's file that the database work after it can take
// back: the file is gone from its path at once, as for RemoveUploadFile, but
// a second name keeps its content until Finish(). Destroyed unfinished (the
// rows that name the file could not be changed) it puts the file back, so
// that no upload row is ever left without its file.
class PendingFileRemoval {
 public:
  PendingFileRemoval() = default;
  ~PendingFileRemoval();
  PendingFileRemoval(const PendingFileRemoval&) = delete;
  PendingFileRemoval& operator=(const PendingFileRemoval&) = delete;

  // RemoveUploadFile with a way back; false (and the same report) when the
  // file cannot be removed.
  bool Remove(const std::string& path, int traceSite);
  // The database work is done: the kept content goes too.
  void Finish();

 private:
  std::string m_path;
  std::string m_kept;
  int m_traceSite = 0;
};
