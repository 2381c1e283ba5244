// The program's menus as data: the command ids, the tray menu over the
// watch list, and the 最近查询 submenu over the last queries. A menu item
// acts on the parcel it was made for, whatever the list holds when it is
// chosen.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/form_view.h"
#include "watch/history.h"
#include "watch/watch_list.h"

namespace quenzil {

// Command ids. Those of the system menu are multiples of 16: the system
// uses the low four bits.
namespace commands {
inline constexpr int kKeySettings = 0x0110;
inline constexpr int kWatch = 0x0120;
inline constexpr int kCopy = 0x0130;
inline constexpr int kShowWindow = 0x0140;
inline constexpr int kExit = 0x0150;
inline constexpr int kAutostart = 0x0160;
inline constexpr int kRecentClear = 0x0170;
inline constexpr int kWatchListWindow = 0x0180;  // 关注列表…: the tray menu's and the system menu's
inline constexpr int kRecentFirst = 0x0400;      // + 16 × index in the last queries
inline constexpr int kShowParcelFirst = 0x1000;  // + index among the tray menu's parcels
inline constexpr int kRecentStep = 16;
}  // namespace commands

// A menu and the parcels its items act on.
struct ParcelMenu {
  std::vector<MenuItem> items;
  std::vector<ParcelKey> parcels;  // by index, as the command ids count them
};

struct TrayMenuState {
  bool loaded = true;          // the watch list has been read
  bool refresh_paused = false; // background refresh waits for the account
};

// The tray menu shows this many parcels at most; the others are in the
// 关注列表 window.
inline constexpr std::size_t kTrayMenuParcels = 15;

// 关注列表…, a note while the list is being read or refresh is paused, the
// parcels that changed last (kTrayMenuParcels at most, the latest first,
// none put away; each shows its rows), 显示窗口, 退出.
ParcelMenu TrayMenu(const WatchList& list, UnixSeconds now, TrayMenuState state);

// The 最近查询 submenu: each of the last queries, then 清除最近查询.
ParcelMenu RecentMenu(const History& history);

// The parcel a command of the menu names: the index it counts from `first`
// (a step apart), if that is one of the menu's parcels.
std::optional<ParcelKey> ParcelOfCommand(const ParcelMenu& menu, int command, int first, int step = 1);

}  // namespace quenzil
