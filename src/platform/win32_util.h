// Small helpers of the Win32 shell: failures as exceptions, window texts,
// newer entry points looked up at run time.
#pragma once

#include <windows.h>

#include <string>

namespace quenzil {

// Throws std::runtime_error naming the call and GetLastError().
[[noreturn]] void ThrowWin32(const char* what);

std::wstring WindowText(HWND hwnd);
void SetText(HWND hwnd, const std::wstring& text);

// A user32 entry point that older systems lack; null there.
template <typename Fn>
Fn User32Entry(const char* name) {
  const HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
  if (user32 == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(user32, name)));
}

// The window's DPI (per monitor where the system tells it), else the
// screen's.
UINT DpiOfWindow(HWND hwnd);

}  // namespace quenzil
