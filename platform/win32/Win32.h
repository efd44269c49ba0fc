// The few Windows file, error and timing services the component calls, on
// POSIX. Paths may use '\' or '/' as separators; a drive prefix such as "C:"
// is not accepted. File services can be confined to root directories: a
// path that resolves outside every configured root fails like access denied.
#pragma once

#include <string>
#include <vector>

#include "../com/ComTypes.h"
#include "../com/SystemMessages.h"  // SystemMessageText

BOOL DeleteFileA(const char* lpFileName);
BOOL CopyFileA(const char* lpExistingFileName, const char* lpNewFileName, BOOL bFailIfExists);
// A second name for an existing file (not a directory); fails when the new
// name exists. lpSecurityAttributes is ignored.
BOOL CreateHardLinkA(const char* lpFileName, const char* lpExistingFileName, void* lpSecurityAttributes);
// TRUE when the path names an existing file or directory.
BOOL PathExistsA(const char* lpPath);
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);
void Sleep(DWORD dwMilliseconds);

constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;

// Looks up the system message text of dwMessageId (a Win32 error code or an
// HRESULT) from the platform's own table; texts end with "\r\n" as the
// system's do. With FORMAT_MESSAGE_ALLOCATE_BUFFER, lpBuffer is a char**
// that receives a buffer to free with LocalFree. Returns the text length, 0
// when there is no text (GetLastError then gives 317).
DWORD FormatMessageA(DWORD dwFlags, const void* lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     char* lpBuffer, DWORD nSize, void* arguments);
void* LocalFree(void* hMem);

// Confine the file services to these directories (empty list: no confinement).
void KvSetFileRoots(const std::vector<std::string>& roots);
std::vector<std::string> KvGetFileRoots();
// Turns a Windows-style path into the POSIX path the services use.
std::string KvNativePath(const std::string& path);
