#include "app/menus.h"

#include "app/texts.h"

namespace quenzil {

ParcelMenu TrayMenu(const WatchList& list, UnixSeconds now, TrayMenuState state) {
  ParcelMenu menu;
  if (!state.loaded) menu.items.push_back({commands::kShowWindow, std::string(kWatchListLoadingItem), false, false, {}});
  if (state.refresh_paused) menu.items.push_back({commands::kKeySettings, std::string(kRefreshPausedItem), true, false, {}});
  if (!menu.items.empty()) menu.items.push_back({});
  MenuItem unwatch{0, std::string(kUnwatchCommand), true, false, {}};
  // The file holds at most kMaxWatched parcels that are read: the ids of
  // the two commands never meet.
  for (std::size_t index = 0; index < list.parcels.size() && index < kMaxWatched; ++index) {
    const WatchedParcel& parcel = list.parcels[index];
    menu.parcels.emplace_back(parcel.number, parcel.carrier);
    const std::string label = MenuLabel(parcel, now);
    menu.items.push_back({commands::kShowParcelFirst + static_cast<int>(index), label, true, false, {}});
    unwatch.submenu.push_back({commands::kUnwatchFirst + static_cast<int>(index), label, true, false, {}});
  }
  if (!unwatch.submenu.empty()) {
    menu.items.push_back({});
    menu.items.push_back(std::move(unwatch));
    menu.items.push_back({});
  }
  menu.items.push_back({commands::kShowWindow, std::string(kShowWindowCommand), true, false, {}});
  menu.items.push_back({commands::kExit, std::string(kExitCommand), true, false, {}});
  return menu;
}

ParcelMenu RecentMenu(const History& history) {
  ParcelMenu menu;
  for (std::size_t index = 0; index < history.entries.size() && index < kMaxHistory; ++index) {
    const HistoryEntry& entry = history.entries[index];
    menu.parcels.emplace_back(entry.number, entry.carrier);
    menu.items.push_back({commands::kRecentFirst + commands::kRecentStep * static_cast<int>(index),
                          RecentLabel(entry), true, false, {}});
  }
  if (menu.items.empty()) menu.items.push_back({commands::kRecentFirst, std::string(kRecentEmptyItem), false, false, {}});
  menu.items.push_back({});
  menu.items.push_back({commands::kRecentClear, std::string(kRecentClearCommand), !menu.parcels.empty(), false, {}});
  return menu;
}

std::optional<ParcelKey> ParcelOfCommand(const ParcelMenu& menu, int command, int first, int step) {
  const int offset = command - first;
  if (offset < 0 || offset % step != 0) return std::nullopt;
  const auto index = static_cast<std::size_t>(offset / step);
  if (index >= menu.parcels.size()) return std::nullopt;
  return menu.parcels[index];
}

}  // namespace quenzil
