#include "platform/message_filter_win32.h"

#include "platform/win32_util.h"

namespace quenzil {

void AllowMessageFromLowerProcesses(HWND window, UINT message) {
  using FilterFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
  static const auto change_filter = User32Entry<FilterFn>("ChangeWindowMessageFilterEx");
  constexpr DWORD kAllow = 1;  // MSGFLT_ALLOW
  if (change_filter == nullptr || window == nullptr || message == 0) return;
  // A refusal leaves the default filter: messages from the same or a higher
  // level still arrive, and there is nothing better to do.
  static_cast<void>(change_filter(window, message, kAllow, nullptr));
}

}  // namespace quenzil
