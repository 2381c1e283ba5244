#include "window/notification_icon.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>

#include "platform/message_filter_win32.h"

namespace quenzil {
namespace {

#ifdef NIIF_RESPECT_QUIET_TIME
constexpr DWORD kRespectQuietTime = NIIF_RESPECT_QUIET_TIME;
#else
constexpr DWORD kRespectQuietTime = 0x00000080;  // older SDK headers lack it
#endif

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
  // An elevated instance would not hear a restarted shell otherwise.
  AllowMessageFromLowerProcesses(owner, taskbar_created_message);
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
  // The system holds the balloon back during the user's quiet hours
  // (do-not-disturb, a full-screen program, the first hour after setup).
  data.dwInfoFlags = NIIF_INFO | kRespectQuietTime;
  return ::Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

}  // namespace quenzil
