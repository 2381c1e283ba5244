// CPU cost of waiting for a slow server: WinHttpFetcher's wait beside a
// naive spinning wait (a PeekMessage loop that never sleeps), same run.
// Run from the source tree, after building the target bench_fetch_wait:
//   tests/support/with-fake-server tests/integration/answers
//     scripts/wine-run <build>/bench/wait/bench_fetch_wait.exe [wait-ms]
// (one command line).
// The server's port comes in QUENZIL_FAKE_PORT; wait-ms defaults to 3000.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <exception>
#include <string>
#include <thread>

#include "web/fetch_winhttp.h"

namespace {

using quenzil::FetchLimits;
using quenzil::PlainMessagePump;
using quenzil::WinHttpFetcher;

double Millis(const FILETIME& kernel, const FILETIME& user) {
  const auto ticks = [](const FILETIME& time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  };
  return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;  // 100 ns units
}

struct CpuSample {
  double thread_ms = 0;
  double process_ms = 0;
  std::chrono::steady_clock::time_point wall;
};

CpuSample Sample() {
  CpuSample sample;
  FILETIME created{}, exited{}, kernel{}, user{};
  if (::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user)) {
    sample.thread_ms = Millis(kernel, user);
  }
  if (::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) {
    sample.process_ms = Millis(kernel, user);
  }
  sample.wall = std::chrono::steady_clock::now();
  return sample;
}

struct Row {
  const char* name;
  double wall_ms;
  double thread_ms;
  double process_ms;
};

Row Measure(const char* name, void (*wait)(const std::string&), const std::string& url) {
  const CpuSample before = Sample();
  wait(url);
  const CpuSample after = Sample();
  return Row{name,
             std::chrono::duration<double, std::milli>(after.wall - before.wall).count(),
             after.thread_ms - before.thread_ms, after.process_ms - before.process_ms};
}

FetchLimits BenchLimits() {
  FetchLimits limits;
  limits.receive = std::chrono::milliseconds{20000};
  limits.total = std::chrono::milliseconds{30000};
  return limits;
}

void FetcherWait(const std::string& url) {
  PlainMessagePump pump;
  WinHttpFetcher(pump).FetchText(url, BenchLimits());
}

// The transfer on a worker; this thread polls and pumps without ever sleeping.
void SpinningWait(const std::string& url) {
  std::atomic<bool> done{false};
  std::thread worker([&] {
    try {
      PlainMessagePump pump;
      WinHttpFetcher(pump).FetchText(url, BenchLimits());
    } catch (const std::exception& error) {
      std::fprintf(stderr, "spinning wait: %s\n", error.what());
    }
    done = true;
  });
  MSG message{};
  while (!done) {
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  worker.join();
}

void Print(const Row& row) {
  std::printf("%-22s %9.0f %12.1f %8.1f%% %12.1f %8.1f%%\n", row.name, row.wall_ms, row.thread_ms,
              100.0 * row.thread_ms / row.wall_ms, row.process_ms,
              100.0 * row.process_ms / row.wall_ms);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const char* port = std::getenv("QUENZIL_FAKE_PORT");
  if (!port) {
    std::fprintf(stderr, "QUENZIL_FAKE_PORT is not set (run under with-fake-server)\n");
    return 2;
  }
  const long wait_ms = argc > 1 ? std::wcstol(argv[1], nullptr, 10) : 3000;
  const std::string url = std::string("http://127.0.0.1:") + port + "/api?nu=slow%3A" +
                          std::to_string(wait_ms) + "%3Asmall.txt";
  try {
    FetcherWait(url);  // warm-up: loads WinHTTP and its threads
    const Row waiting = Measure("MsgWait + pump", FetcherWait, url);
    const Row spinning = Measure("PeekMessage spin", SpinningWait, url);
    std::printf("%-22s %9s %12s %9s %12s %9s\n", "wait", "wall ms", "UI thread ms", "share",
                "process ms", "share");
    Print(waiting);
    Print(spinning);
    if (waiting.thread_ms > 0) {
      std::printf("spinning / waiting, UI thread CPU: %.0fx\n",
                  spinning.thread_ms / waiting.thread_ms);
    } else {
      std::printf("spinning / waiting, UI thread CPU: waiting used no measurable CPU\n");
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "bench_fetch_wait: %s\n", error.what());
    return 1;
  }
  return 0;
}
