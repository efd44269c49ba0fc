// FormatMessageA and LocalFree over the system message table of platform/com.
#include <cstdlib>
#include <cstring>

#include "../com/SystemMessages.h"
#include "ErrnoToWin32.h"
#include "Win32.h"

// Only the system table is offered, and inserts such as %1 are never
// expanded: the texts the component asks for carry none.
DWORD FormatMessageA(DWORD dwFlags, const void* /*lpSource*/, DWORD dwMessageId, DWORD /*dwLanguageId*/,
                     char* lpBuffer, DWORD nSize, void* /*arguments*/) {
  if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || lpBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const char* text = KvSystemMessage(dwMessageId);
  if (text == nullptr) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  const size_t length = std::strlen(text);
  if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    char** out = reinterpret_cast<char**>(lpBuffer);
    *out = nullptr;
    const size_t bytes = length + 1 > nSize ? length + 1 : nSize;
    char* buffer = static_cast<char*>(std::malloc(bytes));
    if (buffer == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    std::memcpy(buffer, text, length + 1);
    *out = buffer;
  } else {
    if (nSize < length + 1) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    std::memcpy(lpBuffer, text, length + 1);
  }
  return static_cast<DWORD>(length);
}

void* LocalFree(void* hMem) {
  std::free(hMem);
  return nullptr;
}
