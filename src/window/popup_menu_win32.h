// Menus given as data (MenuItem), made into Win32 menus.
#pragma once

#include <windows.h>

#include <optional>
#include <vector>

#include "app/form_view.h"

namespace quenzil {

// A popup menu of the items; submenus are made and owned by it.
HMENU BuildMenu(const std::vector<MenuItem>& items);
// Fills a menu with the items.
void AppendItems(HMENU menu, const std::vector<MenuItem>& items);
// Shown at the pointer for the window; the command chosen, or nullopt.
std::optional<int> TrackMenuAtCursor(HWND owner, const std::vector<MenuItem>& items);

}  // namespace quenzil
