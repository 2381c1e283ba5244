#include "platform/single_instance_win32.h"

#include <utility>

#include "app/command_line.h"
#include "common/unique_handle.h"
#include "common/utf.h"
#include "platform/message_filter_win32.h"
#include "platform/user_sid_win32.h"

namespace quenzil {
namespace {

// The first instance may still be making its window.
constexpr int kFindAttempts = 40;
constexpr DWORD kFindIntervalMs = 50;
// A first instance busy in a handler answers late; a hung one never.
constexpr UINT kHandOverTimeoutMs = 5000;

// The companion waits this long for the window's answer.
constexpr UINT kAnswerTimeoutMs = 10000;

std::wstring LockName() { return Widen("Global\\Dravimo.Quenzil." + CurrentUserSid()); }

// The window the first instance answers: a message-only window that keeps
// the answer's bytes.
LRESULT CALLBACK AnswerWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_COPYDATA && lparam != 0) {
    auto* const answer = reinterpret_cast<std::pair<std::uintptr_t, std::optional<std::string>>*>(
        ::GetWindowLongPtrW(window, GWLP_USERDATA));
    const auto& data = *reinterpret_cast<const COPYDATASTRUCT*>(lparam);
    if (answer == nullptr || data.dwData != answer->first) return FALSE;
    answer->second.emplace(static_cast<const char*>(data.lpData), data.lpData == nullptr ? 0 : data.cbData);
    return TRUE;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

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
  const std::wstring name = LockName();
  ::SetLastError(ERROR_SUCCESS);
  UniqueHandle lock(::CreateMutexW(nullptr, FALSE, name.c_str()));
  const DWORD error = ::GetLastError();
  if (lock) return SingleInstance(std::move(lock), error != ERROR_ALREADY_EXISTS);
  // Made by an elevated instance: its default access shuts this one out.
  return SingleInstance(UniqueHandle(), error != ERROR_ACCESS_DENIED);
}

bool HandOverToFirstInstance(const FirstInstanceWindow& window, const std::optional<std::string>& number,
                             bool show_list) {
  const HWND first = FindFirstInstance(window.class_name);
  if (first == nullptr) return false;
  DWORD process_id = 0;
  // Only a foreground process may give the foreground away: a start from
  // elsewhere (a scheduled task) is refused, and the first instance then
  // flashes instead of coming forward.
  if (::GetWindowThreadProcessId(first, &process_id) != 0 && process_id != 0) {
    static_cast<void>(::AllowSetForegroundWindow(process_id));
  }

  if (show_list) {
    COPYDATASTRUCT list{};
    list.dwData = kShowListTag;
    DWORD_PTR answer = 0;
    const bool shown = ::SendMessageTimeoutW(first, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&list), SMTO_ABORTIFHUNG,
                                             kHandOverTimeoutMs, &answer) != 0;
    if (!number) return shown;
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

bool FirstInstanceRuns() {
  UniqueHandle lock(::OpenMutexW(SYNCHRONIZE, FALSE, LockName().c_str()));
  // An elevated first instance's lock shuts others out, but it is there.
  return lock || ::GetLastError() == ERROR_ACCESS_DENIED;
}

std::optional<std::string> HandOverAndAwaitAnswer(const wchar_t* class_name, std::uintptr_t tag,
                                                  std::string_view bytes, std::uintptr_t answer_tag) {
  constexpr wchar_t kAnswerClass[] = L"QuenzilCompanionAnswer";
  const HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW answer_class{};
  answer_class.cbSize = sizeof(answer_class);
  answer_class.lpfnWndProc = &AnswerWindowProc;
  answer_class.hInstance = instance;
  answer_class.lpszClassName = kAnswerClass;
  if (!::RegisterClassExW(&answer_class) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return std::nullopt;
  const HWND answer_window =
      ::CreateWindowExW(0, kAnswerClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
  if (answer_window == nullptr) return std::nullopt;
  const auto destroy = scope_exit([answer_window] { ::DestroyWindow(answer_window); });
  std::pair<std::uintptr_t, std::optional<std::string>> answer{answer_tag, std::nullopt};
  ::SetWindowLongPtrW(answer_window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&answer));
  // An elevated companion still hears a window that is not.
  AllowMessageFromLowerProcesses(answer_window, WM_COPYDATA);

  const HWND first = FindFirstInstance(class_name);
  if (first == nullptr) return std::nullopt;
  COPYDATASTRUCT data{};
  data.dwData = tag;
  data.cbData = static_cast<DWORD>(bytes.size());
  data.lpData = const_cast<char*>(bytes.data());
  DWORD_PTR handled = FALSE;
  // Without SMTO_BLOCK this thread takes the answer sent to it meanwhile.
  const bool sent = ::SendMessageTimeoutW(first, WM_COPYDATA, reinterpret_cast<WPARAM>(answer_window),
                                          reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, kAnswerTimeoutMs,
                                          &handled) != 0;
  if (!sent || handled != TRUE) return std::nullopt;
  return std::move(answer.second);
}

}  // namespace quenzil
