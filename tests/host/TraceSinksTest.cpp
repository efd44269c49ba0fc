#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <unistd.h>

#include "platform/com/ComPtr.h"
#include "platform/com/ObjBase.h"
#include "platform/host/HostInterfaces.h"
#include "platform/host/TraceSinks.h"

namespace {

ComPtr<ITraceSink> NewSink(HRESULT* hr = nullptr) {
  ComPtr<ITraceSink> sink;
  const HRESULT result = CoCreateInstance(CLSID_KvTraceSink, nullptr, CLSCTX_INPROC_SERVER, ITraceSink::kIid,
                                          sink.ReleaseAndGetVoidAddress());
  if (hr) *hr = result;
  return sink;
}

HRESULT Write(ITraceSink* sink, bool heading, const std::string& text) {
  CComBSTR b(text);
  return heading ? sink->WriteHeading(b.Get()) : sink->WriteText(b.Get());
}

class Registration {
 public:
  explicit Registration(DWORD cookie) : m_cookie(cookie) {}
  ~Registration() { KvRevokeTraceSink(m_cookie); }

 private:
  DWORD m_cookie;
};

}  // namespace

TEST(TraceSinks, MemorySinkGivesAFreshObjectPerCreationAndKeepsLinesInOrder) {
  auto store = std::make_shared<KvTraceStore>();
  auto counters = std::make_shared<KvTraceSinkCounters>();
  DWORD cookie = 0;
  ASSERT_EQ(KvRegisterMemoryTraceSink(store, &cookie, counters), S_OK);
  {
    Registration registration(cookie);
    ComPtr<ITraceSink> a = NewSink(), b = NewSink();
    ASSERT_TRUE(a && b);
    EXPECT_NE(a.Get(), b.Get());
    EXPECT_EQ(Write(a.Get(), true, "COM error"), S_OK);
    EXPECT_EQ(Write(b.Get(), false, "Grüße, 0x%08X\n"), S_OK);
    a.Reset();
    b.Reset();
    EXPECT_EQ(counters->created, 2);
    EXPECT_EQ(counters->alive, 0);
  }
  const auto lines = store->Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].heading);
  EXPECT_EQ(lines[0].text, "COM error");
  EXPECT_FALSE(lines[1].heading);
  EXPECT_EQ(lines[1].text, "Grüße, 0x%08X\n");

  HRESULT hr = S_OK;
  EXPECT_FALSE(NewSink(&hr)) << "revoked";
  EXPECT_TRUE(FAILED(hr));
}

TEST(TraceSinks, MemoryStoreTakesLinesFromManyThreads) {
  auto store = std::make_shared<KvTraceStore>();
  DWORD cookie = 0;
  ASSERT_EQ(KvRegisterMemoryTraceSink(store, &cookie), S_OK);
  Registration registration(cookie);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 100; ++i) Write(NewSink().Get(), false, std::to_string(t * 1000 + i));
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(store->Lines().size(), 400u);
}

TEST(TraceSinks, FileSinkAppendsTextsExactlyAsWritten) {
  const char* base = std::getenv("KV_TEST_WORKDIR");
  const std::string path = std::string(base && *base ? base : "/tmp") + "/trace-" + std::to_string(::getpid()) + ".txt";
  { std::ofstream(path) << "before\n"; }
  DWORD cookie = 0;
  ASSERT_EQ(KvRegisterFileTraceSink(path, &cookie), S_OK);
  {
    Registration registration(cookie);
    Write(NewSink().Get(), true, "General error");
    Write(NewSink().Get(), false, "Location: KvDataPump, 3\nError: 0X000005\nAccess is denied.\r\n\n");
  }
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  std::filesystem::remove(path);
  EXPECT_EQ(content.str(), "before\nGeneral errorLocation: KvDataPump, 3\nError: 0X000005\nAccess is denied.\r\n\n");
}

TEST(TraceSinks, StderrSinkBracketsHeadings) {
  DWORD cookie = 0;
  ASSERT_EQ(KvRegisterStderrTraceSink(&cookie), S_OK);
  Registration registration(cookie);
  testing::internal::CaptureStderr();
  Write(NewSink().Get(), true, "File Warning");
  Write(NewSink().Get(), false, "Location: KvDataPump, 9\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "[File Warning]\nLocation: KvDataPump, 9\n");
}

TEST(TraceSinks, CallSinkKeepsEachThreadsLastReasonAndPassesLinesOn) {
  const std::string file = std::filesystem::temp_directory_path() / ("kv-calltrace-" + std::to_string(getpid()));
  std::filesystem::remove(file);
  DWORD cookie = 0;
  ASSERT_EQ(KvRegisterCallTraceSink(file, &cookie), S_OK);
  {
    Registration registration(cookie);
    KvResetCallTrace();
    EXPECT_EQ(KvLastCallTraceText(), "");
    // A report as the frames write it: heading, body, closing line.
    EXPECT_EQ(Write(NewSink().Get(), true, "CKvDbException"), S_OK);
    EXPECT_EQ(Write(NewSink().Get(), false, "Location: KvDRPump, 101\nMessage: no such column: x\n"), S_OK);
    EXPECT_EQ(Write(NewSink().Get(), false, "Returning: 0X80040E14\n"), S_OK);
    EXPECT_EQ(KvLastCallTraceText(), "no such column: x");

    // Another thread's lines are its own.
    std::thread other([] {
      EXPECT_EQ(KvLastCallTraceText(), "");
      Write(NewSink().Get(), false, "Dataset with lid = 99 does not exist");
      EXPECT_EQ(KvLastCallTraceText(), "Dataset with lid = 99 does not exist");
    });
    other.join();
    EXPECT_EQ(KvLastCallTraceText(), "no such column: x");
    KvResetCallTrace();
    EXPECT_EQ(KvLastCallTraceText(), "");
  }
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(),
            "CKvDbExceptionLocation: KvDRPump, 101\nMessage: no such column: x\nReturning: 0X80040E14\n"
            "Dataset with lid = 99 does not exist");
  std::filesystem::remove(file);
}
