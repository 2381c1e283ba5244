// The program's one icon in the notification area: added, changed, removed,
// added again when the shell restarts, and the balloons it shows.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <string_view>

namespace quenzil {

class NotificationIcon {
 public:
  NotificationIcon(UINT id, UINT callback_message) : id_(id), callback_message_(callback_message) {}
  NotificationIcon(const NotificationIcon&) = delete;
  NotificationIcon& operator=(const NotificationIcon&) = delete;

  // The window that gets the icon's reports. Lets the shell's TaskbarCreated
  // reach it even when it runs elevated.
  void Attach(HWND owner, UINT taskbar_created_message);

  // Adds the icon, or updates it when it is there; false when the shell
  // refused.
  bool Show(HICON icon, std::wstring_view tip);
  // Nothing happens without an icon.
  void Remove();
  // A new image (another DPI) for an icon that is there.
  void ChangeImage(HICON icon);
  // After the shell restarted: adds the icon again if it was there; false
  // when that failed (the icon is then gone).
  bool Recreate();
  bool ShowBalloon(std::wstring_view title, std::wstring_view text);

 private:
  NOTIFYICONDATAW Data(UINT flags) const;
  static bool AddOrKeep(NOTIFYICONDATAW& data);

  HWND owner_ = nullptr;
  UINT id_;
  UINT callback_message_;
  bool present_ = false;
  HICON icon_ = nullptr;  // owned by the window
  std::wstring tip_;
};

}  // namespace quenzil
