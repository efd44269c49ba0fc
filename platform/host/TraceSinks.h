// Trace sinks: the components behind CLSID_KvTraceSink. A host registers one
// kind in-process; every CreateInstance then yields a fresh sink object, as
// the component creates one for each line it writes. Each registration
// returns a cookie for KvRevokeTraceSink.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "../com/ComTypes.h"

struct KvTraceLine {
  bool heading;
  std::string text;
};

// Thread-safe list of the lines a memory sink received.
class KvTraceStore {
 public:
  void Append(bool heading, std::string text);
  std::vector<KvTraceLine> Lines() const;
  void Clear();

 private:
  mutable std::mutex m_mutex;
  std::vector<KvTraceLine> m_lines;
};

// Sink objects created, still alive, and put into the running state.
struct KvTraceSinkCounters {
  std::atomic<long> created{0};
  std::atomic<long> alive{0};
  std::atomic<long> runs{0};
};

// Where a failing sink fails: creation, running, the interface query, or
// every WriteText and WriteHeading call.
enum class KvTraceSinkFault { Create, Run, NoInterface, Write };

HRESULT KvRegisterMemoryTraceSink(std::shared_ptr<KvTraceStore> store, DWORD* pCookie,
                                  std::shared_ptr<KvTraceSinkCounters> counters = nullptr);
// Appends every heading and body text to the file exactly as written.
HRESULT KvRegisterFileTraceSink(const std::string& path, DWORD* pCookie,
                                std::shared_ptr<KvTraceSinkCounters> counters = nullptr);
// Writes headings as "[heading]" lines and bodies as they are to stderr.
HRESULT KvRegisterStderrTraceSink(DWORD* pCookie, std::shared_ptr<KvTraceSinkCounters> counters = nullptr);
// A sink that fails at the given step with hr.
HRESULT KvRegisterFailingTraceSink(KvTraceSinkFault fault, HRESULT hr, DWORD* pCookie,
                                   std::shared_ptr<KvTraceSinkCounters> counters = nullptr);
HRESULT KvRevokeTraceSink(DWORD cookie);

// A host's own sink, so that a failed component call can say why even when
// nobody asked for a trace: it keeps the last body text each thread traced
// since that thread's KvResetCallTrace, and passes every line on to the file
// alsoTo when one is given ("-": standard error, as the stderr sink writes).
HRESULT KvRegisterCallTraceSink(const std::string& alsoTo, DWORD* pCookie);
void KvResetCallTrace();
// Without its line end; empty when the thread traced nothing since the reset.
std::string KvLastCallTraceText();
