#include "platform/single_instance_win32.h"

#include <utility>

#include "app/command_line.h"
#include "common/utf.h"
#include "platform/user_sid_win32.h"

namespace quenzil {
namespace {

// The first instance may still be making its window.
constexpr int kFindAttempts = 40;
constexpr DWORD kFindIntervalMs = 50;
// A first instance busy in a handler answers late; a hung one never.
constexpr UINT kHandOverTimeoutMs = 5000;

HWND FindFirstInstance(const wchar_t* class_name) {
  for (int attempt = 0; attempt < kFindAttempts; ++attempt) {
    if (const HWND window = ::FindWindowW(class_name, nullptr); window != nullptr) return window;
    ::Sleep(kFindIntervalMs);
  }
  return nullptr;
}

}  // namespace

SingleInstance SingleInstance::Acquire() {
  // A mutex in the global namespace needs no privilege, and the name is the
  // one every earlier version used.
  const std::wstring name = Widen("Global\\Dravimo.Quenzil." + CurrentUserSid());
  ::SetLastError(ERROR_SUCCESS);
  UniqueHandle lock(::CreateMutexW(nullptr, FALSE, name.c_str()));
  const DWORD error = ::GetLastError();
  if (lock) return SingleInstance(std::move(lock), error != ERROR_ALREADY_EXISTS);
  // Made by an elevated instance: its default access shuts this one out.
  return SingleInstance(UniqueHandle(), error != ERROR_ACCESS_DENIED);
}

bool HandOverToFirstInstance(const FirstInstanceWindow& window, const std::optional<std::string>& number) {
  const HWND first = FindFirstInstance(window.class_name);
  if (first == nullptr) return false;
  DWORD process_id = 0;
  // Only a foreground process may give the foreground away: a start from
  // elsewhere (a scheduled task) is refused, and the first instance then
  // flashes instead of coming forward.
  if (::GetWindowThreadProcessId(first, &process_id) != 0 && process_id != 0) {
    static_cast<void>(::AllowSetForegroundWindow(process_id));
  }

  // More than the first instance takes: it is at least asked to come forward.
  if (!number || number->size() > kMaxHandOverBytes) {
    const UINT show_yourself = ::RegisterWindowMessageW(window.show_message);
    return show_yourself != 0 && ::PostMessageW(first, show_yourself, 0, 0) != FALSE;
  }
  COPYDATASTRUCT data{};
  data.dwData = kHandOverTag;
  data.cbData = static_cast<DWORD>(number->size());
  data.lpData = const_cast<char*>(number->data());
  DWORD_PTR answer = 0;
  return ::SendMessageTimeoutW(first, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                               kHandOverTimeoutMs, &answer) != 0;
}

}  // namespace quenzil
