#include "window/popup_menu_win32.h"

#include "common/handles_win32.h"
#include "common/utf.h"
#include "platform/win32_util.h"

namespace quenzil {
namespace {

UINT MenuFlags(const MenuItem& item) {
  return MF_STRING | (item.enabled ? 0 : MF_GRAYED) | (item.checked ? MF_CHECKED : 0);
}

}  // namespace

HMENU BuildMenu(const std::vector<MenuItem>& items) {
  UniqueMenu menu(::CreatePopupMenu());
  if (!menu) ThrowWin32("CreatePopupMenu");
  AppendItems(menu.get(), items);
  return menu.release();
}

void AppendItems(HMENU menu, const std::vector<MenuItem>& items) {
  for (const MenuItem& item : items) {
    BOOL appended = FALSE;
    if (!item.submenu.empty()) {
      UniqueMenu submenu(BuildMenu(item.submenu));
      appended = ::AppendMenuW(menu, MF_POPUP | MenuFlags(item), reinterpret_cast<UINT_PTR>(submenu.get()),
                               Widen(item.text).c_str());
      if (appended) submenu.release();  // the menu owns it now
    } else if (item.command == 0) {
      appended = ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    } else {
      appended = ::AppendMenuW(menu, MenuFlags(item), static_cast<UINT_PTR>(item.command), Widen(item.text).c_str());
    }
    if (!appended) ThrowWin32("AppendMenuW");
  }
}

std::optional<int> TrackMenuAtCursor(HWND owner, const std::vector<MenuItem>& items) {
  UniqueMenu menu(BuildMenu(items));
  POINT at{};
  if (!::GetCursorPos(&at)) ThrowWin32("GetCursorPos");
  // A menu of a window that is not in front would not close when the user
  // clicks elsewhere.
  ::SetForegroundWindow(owner);
  const int chosen = static_cast<int>(::TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY,
                                                       at.x, at.y, 0, owner, nullptr));
  ::PostMessageW(owner, WM_NULL, 0, 0);
  if (chosen == 0) return std::nullopt;
  return chosen;
}

}  // namespace quenzil
