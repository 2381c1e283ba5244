// Runs the end-to-end scenarios. The wrapper sets QUENZIL_E2E_EXE and the
// other settings (see driver.h) and starts the fake server first.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "driver.h"

using namespace std::chrono_literals;

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  e2e::WinsockSession winsock;
  if (!winsock.ready()) {
    std::fprintf(stderr, "WSAStartup failed\n");
    return 2;
  }
  if (e2e::GetSettings().quenzil_exe.empty()) {
    std::fprintf(stderr, "QUENZIL_E2E_EXE is not set\n");
    return 2;
  }
  // The first program of a Wine session also waits for the session's desktop
  // and font caches; start one and let it go before any scenario is timed.
  if (auto warm_up = e2e::App::Launch()) {
    if (!warm_up->WaitForWindow(60s)) std::fprintf(stderr, "warm-up: no window within 60 s\n");
  }
  return RUN_ALL_TESTS();
}
