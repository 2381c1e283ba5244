// Runs the end-to-end scenarios. The wrapper sets QUENZIL_E2E_EXE and the
// other settings (see driver.h) and starts the fake server first.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "driver.h"

namespace {
// Winsock for the whole run: the driver talks to the fake server directly.
class WinsockSession {
 public:
  WinsockSession() { ready_ = ::WSAStartup(MAKEWORD(2, 2), &data_) == 0; }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  ~WinsockSession() {
    if (ready_) ::WSACleanup();
  }
  bool ready() const { return ready_; }

 private:
  WSADATA data_{};
  bool ready_ = false;
};
}  // namespace

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  WinsockSession winsock;
  if (!winsock.ready()) {
    std::fprintf(stderr, "WSAStartup failed\n");
    return 2;
  }
  if (e2e::GetSettings().quenzil_exe.empty()) {
    std::fprintf(stderr, "QUENZIL_E2E_EXE is not set\n");
    return 2;
  }
  return RUN_ALL_TESTS();
}
