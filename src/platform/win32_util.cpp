#include "platform/win32_util.h"

#include <algorithm>
#include <stdexcept>

namespace quenzil {

void ThrowWin32(const char* what) {
  const DWORD code = ::GetLastError();
  throw std::runtime_error(std::string(what) + " 失败（错误 " + std::to_string(code) + "）");
}

std::wstring WindowText(HWND hwnd) {
  ::SetLastError(0);
  const int length = ::GetWindowTextLengthW(hwnd);
  if (length == 0) {
    if (::GetLastError() != 0) ThrowWin32("GetWindowTextLengthW");
    return {};
  }
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = ::GetWindowTextW(hwnd, text.data(), length + 1);
  if (copied == 0 && ::GetLastError() != 0) ThrowWin32("GetWindowTextW");
  text.resize(static_cast<std::size_t>(std::max(copied, 0)));
  return text;
}

void SetText(HWND hwnd, const std::wstring& text) {
  if (!::SetWindowTextW(hwnd, text.c_str())) ThrowWin32("SetWindowTextW");
}

UINT DpiOfWindow(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto get_dpi_for_window = User32Entry<GetDpiForWindowFn>("GetDpiForWindow");
  if (get_dpi_for_window != nullptr) {
    const UINT dpi = get_dpi_for_window(hwnd);
    if (dpi != 0) return dpi;
  }
  const HDC screen = ::GetDC(nullptr);
  if (screen == nullptr) return USER_DEFAULT_SCREEN_DPI;
  const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

}  // namespace quenzil

