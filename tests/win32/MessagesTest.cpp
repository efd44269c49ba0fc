#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform/win32/ErrnoToWin32.h"
#include "platform/win32/Win32.h"

namespace {

constexpr DWORD kSystemFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;

// The text as a caller of the system gets it: allocated, then freed with LocalFree.
std::string Allocated(DWORD id, DWORD* length) {
  char* text = nullptr;
  *length = FormatMessageA(kSystemFlags, nullptr, id, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = text ? std::string(text) : std::string("<none>");
  LocalFree(text);
  return result;
}

}  // namespace

TEST(Messages, SystemTextsOfTheCodesTheComponentMeets) {
  const std::pair<DWORD, const char*> expected[] = {
      {2, "The system cannot find the file specified.\r\n"},
      {3, "The system cannot find the path specified.\r\n"},
      {5, "Access is denied.\r\n"},
      {0x80004001, "Not implemented\r\n"},
      {0x80004002, "No such interface supported\r\n"},
      {0x80004003, "Invalid pointer\r\n"},
      {0x80004005, "Unspecified error\r\n"},
      {0x8000FFFF, "Catastrophic failure\r\n"},
      {0x8007000E, "Not enough memory resources are available to complete this operation.\r\n"},
      {0x80070057, "The parameter is incorrect.\r\n"},
      {0x80070005, "Access is denied.\r\n"},
      {0x80070002, "The system cannot find the file specified.\r\n"},
      {0x80020005, "Type mismatch.\r\n"},
      {0x80040154, "Class not registered\r\n"},
  };
  for (const auto& [id, text] : expected) {
    DWORD length = 0;
    EXPECT_EQ(Allocated(id, &length), text) << std::hex << id;
    EXPECT_EQ(length, std::strlen(text));
    EXPECT_EQ(SystemMessageText(id), text);
  }
  for (DWORD id : {32u, 87u, 145u, 206u, 0x80040110u, 0x80020003u, 0x80020006u, 0x80020009u,
                   0x8002000Eu}) {
    const std::string text = SystemMessageText(id);
    ASSERT_GE(text.size(), 3u) << std::hex << id;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << std::hex << id;
  }
}

TEST(Messages, CodesWithoutTextFailWithMessageNotFound) {
  // Interface-defined codes have no system text, nor has the Win32 facility's code 0.
  for (DWORD id : {0x80040200u, 0x80040201u, 0x80070000u, 0x80040E14u, 0x12345678u}) {
    SetLastError(0);
    DWORD length = 99;
    EXPECT_EQ(Allocated(id, &length), "<none>") << std::hex << id;
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(GetLastError(), ERROR_MR_MID_NOT_FOUND);
    EXPECT_EQ(SystemMessageText(id), "");
  }
}

TEST(Messages, CallerBufferMustHoldTextAndTerminator) {
  const std::string text = "Access is denied.\r\n";
  std::vector<char> buffer(text.size() + 1, 'x');
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, buffer.data(),
                           static_cast<DWORD>(buffer.size()), nullptr),
            text.size());
  EXPECT_EQ(std::string(buffer.data()), text);
  SetLastError(0);
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, buffer.data(),
                           static_cast<DWORD>(text.size()), nullptr),
            0u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  // Only the system table is there to read from.
  EXPECT_EQ(FormatMessageA(0, "text", 5, 0, buffer.data(), 100, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(LastError, BelongsToTheCallingThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seenByOther = 1234;
  std::thread([&] {
    seenByOther = GetLastError();
    SetLastError(ERROR_FILE_NOT_FOUND);
  }).join();
  EXPECT_EQ(seenByOther, ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}
