#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/host/TraceSinks.h"
#include "src/diagnostics/Frames.h"
#include "tests/fixture/TestDatabase.h"

namespace {

// The location line of a report made by the handler numbered `line`.
std::string Located(const char* source, int line) {
  return std::string("Location: ") + source + ", " + std::to_string(line) + "\n";
}

}  // namespace

TEST(Frames, StandardFrameResultsAndReports) {
  struct Case {
    std::function<HRESULT()> body;
    HRESULT result;
    int handler;
    std::string heading, afterLocation, returning;
  };
  const std::string unexpected = "Error: 0X8000FFFF\nCatastrophic failure\r\n\n";
  const Case cases[] = {
      {[]() -> HRESULT { throw CKvDbException(KVDB_E_ERRORSINCOMMAND, "near \"FORM\": syntax error"); },
       KVDB_E_ERRORSINCOMMAND, 1, "CKvDbException", "Message: near \"FORM\": syntax error\n", "0X80040E14"},
      {[]() -> HRESULT { throw CMemoryException(); }, E_OUTOFMEMORY, 2, "CMemoryException", "Message: \n",
       "0X8007000E"},
      {[]() -> HRESULT { throw std::bad_alloc(); }, E_OUTOFMEMORY, 2, "CMemoryException", "Message: \n", "0X8007000E"},
      // A message is cut to 254 characters.
      {[]() -> HRESULT { throw CException(std::string(300, 'm')); }, E_FAIL, 3, "CException",
       "Message: " + std::string(254, 'm') + "\n", "0X80004005"},
      {[]() -> HRESULT { throw _com_error(E_POINTER); }, E_FAIL, 4, "General error", unexpected, "0X80004005"},
      {[]() -> HRESULT { throw std::runtime_error("x"); }, E_FAIL, 4, "General error", unexpected, "0X80004005"},
  };
  for (const Case& c : cases) {
    TraceCapture trace;
    const HRESULT hr = StandardFrame(kSourceDRPump, 700, c.body);
    EXPECT_EQ(hr, c.result);
    EXPECT_EQ(trace.Text(), "[" + c.heading + "]\n" + Located(kSourceDRPump, 700 + c.handler) + c.afterLocation +
                                "Returning: " + c.returning + "\n");
  }
  TraceCapture trace;
  EXPECT_EQ(StandardFrame(kSourceDRPump, 700, [] { return S_FALSE; }), S_FALSE);
  EXPECT_TRUE(trace.Lines().empty());
}

TEST(Frames, SwallowingFramesReportAndReturnSuccess) {
  TraceCapture trace;
  EXPECT_EQ(SwallowingFrame(kSourceDataPump, 800, [] { throw CKvDbException(KVDB_E_NOTABLE, "gone"); }), S_OK);
  EXPECT_EQ(trace.Text(), "[CKvDbException]\n" + Located(kSourceDataPump, 801) + "Message: gone\n");

  trace.Clear();
  EXPECT_EQ(SwallowingFrame(kSourceDataPump, 800, [] { throw CMemoryException(); }), S_OK);
  EXPECT_EQ(trace.Text(), "[CMemoryException]\n" + Located(kSourceDataPump, 802) + "Message: \n");

  trace.Clear();
  EXPECT_EQ(SwallowingFrame(kSourceDataPump, 800, [] { throw _com_error(E_POINTER); }), S_OK);
  EXPECT_EQ(trace.Text().find("[COM error]\n" + Located(kSourceDataPump, 803)), 0u);
  EXPECT_NE(trace.Text().find("HR: 0x80004003\nError: Invalid pointer\nDescription: (null)\n"), std::string::npos);
  EXPECT_EQ(trace.Text().find("Returning"), std::string::npos);

  trace.Clear();
  EXPECT_EQ(ReducedSwallowingFrame(kSourceDataPump, 800, [] { throw CKvDbException(E_FAIL, "x"); }), S_OK);
  EXPECT_EQ(ReducedSwallowingFrame(kSourceDataPump, 800, [] { throw _com_error(E_FAIL); }), S_OK);
  EXPECT_EQ(trace.Lines().size(), 4u);
  // Other framework exceptions pass through to the caller.
  EXPECT_THROW(ReducedSwallowingFrame(kSourceDataPump, 800, [] { throw CException("x"); }), CException);
}
