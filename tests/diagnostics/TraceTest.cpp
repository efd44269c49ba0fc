#include <gtest/gtest.h>

#include "platform/host/TraceSinks.h"
#include "src/diagnostics/Trace.h"
#include "tests/fixture/TestDatabase.h"

namespace {

_com_error WithDescription(HRESULT hr, const std::string& description) {
  IErrorInfo* info = nullptr;
  CreateSimpleErrorInfo(description, "test", &info);
  return _com_error(hr, info, false);
}

}  // namespace

TEST(Trace, LinesArePrintfFormattedWithoutLengthLimit) {
  TraceCapture trace;
  const std::string big(100000, 'x');
  TraceText("%s|%d|%#08X\n", big.c_str(), -3, 5u);
  TraceHeading("heading");
  const auto lines = trace.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_FALSE(lines[0].heading);
  EXPECT_EQ(lines[0].text.size(), big.size() + 13);
  EXPECT_TRUE(lines[0].text == big + "|-3|0X000005\n");
  EXPECT_EQ(trace.Text().substr(lines[0].text.size()), "[heading]\n");
}

TEST(Trace, ComErrorReportTextsByCode) {
  struct Case {
    HRESULT hr;
    const char* expected;  // HR and Error lines of the body
  };
  const Case cases[] = {
      {E_FAIL, "HR: 0x80004005\nError: Unspecified error\n"},
      {E_POINTER, "HR: 0x80004003\nError: Invalid pointer\n"},
      {E_ACCESSDENIED, "HR: 0x80070005\nError: Access is denied.\n"},
      {MAKE_HRESULT_U(0x80070002), "HR: 0x80070002\nError: The system cannot find the file specified.\n"},
      {MAKE_HRESULT_U(0x80040201), "HR: 0x80040201\nError: IDispatch error #1\n"},
      {MAKE_HRESULT_U(0x8004FFFF), "HR: 0x8004FFFF\nError: IDispatch error #65023\n"},
      {MAKE_HRESULT_U(0x80040200), "HR: 0x80040200\nError: Unknown error 0x80040200\n"},
      {MAKE_HRESULT_U(0x80070000), "HR: 0x80070000\nError: Unknown error 0x80070000\n"},
      {MAKE_HRESULT_U(0x80050000), "HR: 0x80050000\nError: Unknown error 0x80050000\n"},
      {0x00012345, "HR: 0x00012345\nError: Unknown error 0x12345\n"},
  };
  for (const Case& c : cases) {
    TraceCapture trace;
    TraceComError(_com_error(c.hr), kSourceDataPump, 12);
    EXPECT_EQ(trace.Text(), std::string("[COM error]\nLocation: KvDataPump, 12\n") + c.expected +
                                "Description: (null)\n");
  }
  TraceCapture trace;
  TraceComError(WithDescription(DISP_E_EXCEPTION, "Sitzung abgelaufen"), kSourceDRPump, 3);
  EXPECT_EQ(trace.Text(),
            "[COM error]\nLocation: KvDRPump, 3\nHR: 0x80020009\nError: Exception occurred.\n"
            "Description: Sitzung abgelaufen\n");
}

TEST(Trace, OwnReportHasHeadingThenLocatedMessage) {
  TraceCapture trace;
  TraceReport("File Warning", kSourceDataPump, 77,
              "Could not delete file: /app/x.pdf. GetLastError returns 2\nThe system cannot find the file "
              "specified.\r\n");
  EXPECT_EQ(trace.Text(),
            "[File Warning]\nLocation: KvDataPump, 77\nCould not delete file: /app/x.pdf. GetLastError returns 2\n"
            "The system cannot find the file specified.\r\n\n");
}
