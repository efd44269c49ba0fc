// The system's message texts for Win32 error codes and HRESULTs, as
// FormatMessageA (platform/win32) and ComErrorText hand them out.
#pragma once

#include <string>

#include "ComTypes.h"

// The text of dwMessageId (a Win32 error code, or an HRESULT, whose Win32
// facility shares the Win32 texts), ending in "\r\n" as the system's texts
// do; nullptr when the table has none.
const char* KvSystemMessage(DWORD dwMessageId);

// The same text as a string, "" when there is none.
std::string SystemMessageText(DWORD dwMessageId);
