// One instance per user: the lock as an earlier or an elevated first
// instance leaves it, and the hand-over to a window of the form's class.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/command_line.h"
#include "common/utf.h"
#include "platform/single_instance_win32.h"
#include "platform/user_sid_win32.h"
#include "window/control_ids.h"

namespace quenzil {
namespace {

TEST(SingleInstance, TheLockIsHeldByTheFirstAndByAnInstanceThatShutsOthersOut) {
  {
    const SingleInstance first = SingleInstance::Acquire();
    EXPECT_TRUE(first.first());
    EXPECT_FALSE(SingleInstance::Acquire().first());
  }
  // What an elevated first instance leaves: a mutex this process may not open.
  PSECURITY_DESCRIPTOR nobody = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:", SDDL_REVISION_1, &nobody, nullptr));
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), nobody, FALSE};
  const std::wstring name = Widen("Global\\Dravimo.Quenzil." + CurrentUserSid());
  const HANDLE elevated = ::CreateMutexW(&attributes, FALSE, name.c_str());
  ::LocalFree(nobody);
  ASSERT_NE(elevated, nullptr);
  EXPECT_FALSE(SingleInstance::Acquire().first());
  ::CloseHandle(elevated);
  EXPECT_TRUE(SingleInstance::Acquire().first());
}

std::vector<std::pair<ULONG_PTR, std::string>> g_received;  // show requests: tag 0, no bytes

LRESULT CALLBACK FirstInstanceProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == ::RegisterWindowMessageW(ids::kShowYourselfMessage)) {
    g_received.emplace_back(0, "");
    return 0;
  }
  if (message != WM_COPYDATA) return ::DefWindowProcW(window, message, wparam, lparam);
  const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
  g_received.emplace_back(data->dwData, std::string(static_cast<const char*>(data->lpData), data->cbData));
  return TRUE;
}

// Hands over from another thread, as a second start would, while this one
// runs the window's messages.
bool HandOver(const std::optional<std::string>& number) {
  std::atomic<bool> done{false};
  bool delivered = false;
  std::thread second([&] {
    delivered = HandOverToFirstInstance({ids::kFormClassName, ids::kShowYourselfMessage}, number);
    done = true;
  });
  MSG message{};
  for (bool last = false; !last;) {
    last = done;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
  }
  second.join();
  return delivered;
}

TEST(HandOverToFirstInstance, ReachesTheFormWindowWithTheNumberOrTheShowRequest) {
  EXPECT_FALSE(HandOver(std::nullopt));  // no window within the wait

  WNDCLASSW form_class{};
  form_class.lpfnWndProc = FirstInstanceProc;
  form_class.hInstance = ::GetModuleHandleW(nullptr);
  form_class.lpszClassName = ids::kFormClassName;
  ASSERT_NE(::RegisterClassW(&form_class), 0);
  const HWND first = ::CreateWindowExW(0, ids::kFormClassName, L"快递查询", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                       nullptr, nullptr, form_class.hInstance, nullptr);
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(HandOver(std::nullopt));
  EXPECT_TRUE(HandOver("顺丰 SF1234567890"));
  EXPECT_TRUE(HandOver(std::string(kMaxHandOverBytes + 1, '7')));  // too long to take: a show request
  const decltype(g_received) expected{{0, ""}, {kHandOverTag, "顺丰 SF1234567890"}, {0, ""}};
  EXPECT_EQ(g_received, expected);
  ::DestroyWindow(first);
}

}  // namespace
}  // namespace quenzil
