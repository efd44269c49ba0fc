// Helpers shared by the benchmark programs: timing a piece of work against
// the raw engine doing the same, peak memory growth, and the one-line report.
//
//   double ours = bench::BestSeconds(5, [&] { ... });
//   double raw = bench::BestSeconds(5, [&] { ... });
//   bench::PrintRatio("thing", ours / raw, 1.15);
//
//   bench::PeakMemory probe;        // resets the peak, notes the current size
//   ... work ...
//   bench::PrintPeak("thing_memory", probe.GrowthMiB(), 8);
#pragma once

#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace bench {

// CPU seconds (user and system) the calling thread spends on one call of
// work. Time the thread waits while other processes run does not count, so
// a busy shared machine disturbs the comparison far less than wall time.
inline double CpuSeconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}
inline double ThreadCpuSeconds() { return CpuSeconds(CLOCK_THREAD_CPUTIME_ID); }
// Every thread of the process, for work spread over several.
inline double ProcessCpuSeconds() { return CpuSeconds(CLOCK_PROCESS_CPUTIME_ID); }

template <typename Work>
double Seconds(Work&& work) {
  double start = ThreadCpuSeconds();
  work();
  return ThreadCpuSeconds() - start;
}

// Wall seconds of one call of work: what a database server does for the
// call, and the round trips to it, count too.
template <typename Work>
double WallSeconds(Work&& work) {
  auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// What a comparison times: the calling thread's CPU (an engine in the
// process) or the wall clock (an engine in a server process).
enum class Clock { ThreadCpu, Wall };

// The fastest of repeats runs: the least disturbed by other load on the machine.
template <typename Work>
double BestSeconds(int repeats, Work&& work) {
  double best = 0;
  for (int i = 0; i < repeats; ++i) {
    double s = Seconds(work);
    if (i == 0 || s < best) best = s;
  }
  return best;
}

// Times ours and raw alternately, repeats times each, and returns the ratio
// of their best times, so that a burst of load hits both sides alike.
template <typename Ours, typename Raw>
double CompareBest(int repeats, Ours&& ours, Raw&& raw, Clock clock = Clock::ThreadCpu) {
  const auto time = [clock](auto& work) { return clock == Clock::Wall ? WallSeconds(work) : Seconds(work); };
  double bestOurs = 0, bestRaw = 0;
  for (int i = 0; i < repeats; ++i) {
    double o = time(ours);
    double r = time(raw);
    if (i == 0 || o < bestOurs) bestOurs = o;
    if (i == 0 || r < bestRaw) bestRaw = r;
  }
  return bestOurs / bestRaw;
}

// A field of /proc/self/status in KiB (VmRSS, VmHWM).
inline long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  std::string prefix = std::string(field) + ":";
  while (std::getline(status, line))
    if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
  return -1;
}

// Peak resident memory growth from its construction on: the peak mark is
// reset (clear_refs 5), so only the work after it counts.
class PeakMemory {
 public:
  PeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
    m_startKiB = StatusKiB("VmRSS");
  }
  double GrowthMiB() const { return (StatusKiB("VmHWM") - m_startKiB) / 1024.0; }

 private:
  long m_startKiB;
};

inline void PrintRatio(const char* name, double ratio, double target) {
  std::printf("%s ratio=%.3f target=%g\n", name, ratio, target);
  std::fflush(stdout);
}

inline void PrintPeak(const char* name, double growthMiB, double target) {
  std::printf("%s peak_growth_mib=%.2f target=%g\n", name, growthMiB, target);
  std::fflush(stdout);
}

// A scratch file path for a benchmark's database, removed by the caller.
inline std::string ScratchPath(const char* name) {
  const char* dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/" + name + "_" + std::to_string(getpid()) + ".db";
}

}  // namespace bench
