// The system message table: texts for the Win32 error codes the file
// services report and for the HRESULTs that travel through the component.
// Texts end in "\r\n" as the system's do, because the component's reports
// keep or strip that line break on purpose.
//
// It lives here, below the Win32 stand-ins, because COM's own error texts
// (ComErrorText) are read from it as FormatMessageA's are.
#include "SystemMessages.h"

namespace {

struct Message {
  DWORD id;
  const char* text;
};

constexpr Message kWin32Messages[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {17, "The system cannot move the file to a different disk drive.\r\n"},
    {31, "A device attached to the system is not functioning.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {53, "The network path was not found.\r\n"},
    {80, "The file exists.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {112, "There is not enough space on the disk.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {145, "The directory is not empty.\r\n"},
    {206, "The filename or extension is too long.\r\n"},
    {317, "The system cannot find message text for message number 0x%1 in the message file for %2.\r\n"},
    {1117, "The request could not be performed because of an I/O device error.\r\n"},
    {1921, "The name of the file cannot be resolved by the system.\r\n"},
};

constexpr Message kHresultMessages[] = {
    {0x80004001, "Not implemented\r\n"},
    {0x80004002, "No such interface supported\r\n"},
    {0x80004003, "Invalid pointer\r\n"},
    {0x80004004, "Operation aborted\r\n"},
    {0x80004005, "Unspecified error\r\n"},
    {0x8000FFFF, "Catastrophic failure\r\n"},
    {0x80020001, "Unknown interface.\r\n"},
    {0x80020003, "Member not found.\r\n"},
    {0x80020004, "Parameter not found.\r\n"},
    {0x80020005, "Type mismatch.\r\n"},
    {0x80020006, "Unknown name.\r\n"},
    {0x80020007, "No named arguments.\r\n"},
    {0x80020008, "Bad variable type.\r\n"},
    {0x80020009, "Exception occurred.\r\n"},
    {0x8002000A, "Out of present range.\r\n"},
    {0x8002000B, "Invalid index.\r\n"},
    {0x8002000C, "Unknown language.\r\n"},
    {0x8002000D, "Memory is locked.\r\n"},
    {0x8002000E, "Invalid number of parameters.\r\n"},
    {0x8002000F, "Parameter not optional.\r\n"},
    {0x80020010, "Invalid callee.\r\n"},
    {0x80020011, "Does not support a collection.\r\n"},
    {0x80020012, "Division by zero.\r\n"},
    {0x8002801D, "Library not registered.\r\n"},
    {0x8002802B, "Element not found.\r\n"},
    {0x80040110, "Class does not support aggregation (or class object is remote)\r\n"},
    {0x80040111, "ClassFactory cannot supply requested class\r\n"},
    {0x80040154, "Class not registered\r\n"},
    {0x800401F3, "Invalid class string\r\n"},
};

template <size_t N>
const char* Find(const Message (&table)[N], DWORD id) {
  for (const Message& m : table)
    if (m.id == id) return m.text;
  return nullptr;
}

}  // namespace

// An HRESULT of the Win32 facility carries the Win32 code in its low word
// and shares its text; code 0 there is no error and so has none.
const char* KvSystemMessage(DWORD id) {
  if (const char* text = Find(kHresultMessages, id)) return text;
  if ((id & 0xFFFF0000u) == 0x80070000u) {
    const DWORD win32 = id & 0xFFFFu;
    return win32 == 0 ? nullptr : Find(kWin32Messages, win32);
  }
  return Find(kWin32Messages, id);
}

std::string SystemMessageText(DWORD dwMessageId) {
  const char* text = KvSystemMessage(dwMessageId);
  return text ? std::string(text) : std::string();
}
