#include "window/notification_icon.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>

#include "window/win32_util.h"

namespace quenzil {
namespace {

// Copies a text into a fixed field, cut to fit but never between the two
// halves of a surrogate pair.
template <std::size_t N>
void CopyField(wchar_t (&field)[N], std::wstring_view text) {
  std::size_t length = std::min(text.size(), N - 1);
  if (length < text.size() && length > 0 && text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF) --length;
  std::memcpy(field, text.data(), length * sizeof(wchar_t));
  field[length] = L'\0';
}

}  // namespace

void NotificationIcon::Attach(HWND owner, UINT taskbar_created_message) {
  owner_ = owner;
  using FilterFn = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
  static const auto allow_message = User32Entry<FilterFn>("ChangeWindowMessageFilterEx");
  constexpr DWORD kAllow = 1;  // MSGFLT_ALLOW
  // An elevated instance would not hear a restarted shell otherwise. Where
  // the call is missing there is no such filter either.
  if (allow_message != nullptr && taskbar_created_message != 0) {
    allow_message(owner, taskbar_created_message, kAllow, nullptr);
  }
}

NOTIFYICONDATAW NotificationIcon::Data(UINT flags) const {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = owner_;
  data.uID = id_;
  data.uFlags = flags;
  data.uCallbackMessage = callback_message_;
  data.hIcon = icon_;
  CopyField(data.szTip, tip_);
  return data;
}

bool NotificationIcon::Show(HICON icon, std::wstring_view tip) {
  icon_ = icon;
  tip_ = tip;
  NOTIFYICONDATAW data = Data(NIF_MESSAGE | NIF_ICON | NIF_TIP);
  if (present_ && ::Shell_NotifyIconW(NIM_MODIFY, &data)) return true;
  present_ = AddOrKeep(data);
  return present_;
}

// A shell that announced itself anew may still hold the icon: adding it
// then fails, and changing it is what works.
bool NotificationIcon::AddOrKeep(NOTIFYICONDATAW& data) {
  return ::Shell_NotifyIconW(NIM_ADD, &data) || ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

void NotificationIcon::Remove() {
  if (!present_) return;
  present_ = false;
  NOTIFYICONDATAW data = Data(0);
  // A refusal means the shell no longer has the icon: nothing left to do.
  ::Shell_NotifyIconW(NIM_DELETE, &data);
}

void NotificationIcon::ChangeImage(HICON icon) {
  icon_ = icon;
  if (!present_) return;
  NOTIFYICONDATAW data = Data(NIF_ICON);
  ::Shell_NotifyIconW(NIM_MODIFY, &data);
}

bool NotificationIcon::Recreate() {
  if (!present_) return true;
  NOTIFYICONDATAW data = Data(NIF_MESSAGE | NIF_ICON | NIF_TIP);
  present_ = AddOrKeep(data);
  return present_;
}

bool NotificationIcon::ShowBalloon(std::wstring_view title, std::wstring_view text) {
  if (!present_) return false;
  NOTIFYICONDATAW data = Data(NIF_INFO);
  CopyField(data.szInfoTitle, title);
  CopyField(data.szInfo, text);
  data.dwInfoFlags = NIIF_INFO;
  return ::Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

}  // namespace quenzil
