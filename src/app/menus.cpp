#include "app/menus.h"

#include <algorithm>

#include "app/texts.h"

namespace quenzil {

ParcelMenu TrayMenu(const WatchList& list, UnixSeconds now, TrayMenuState state) {
  ParcelMenu menu;
  menu.items.push_back({commands::kWatchListWindow, std::string(kWatchListCommand), true, false, {}});
  if (!state.loaded) menu.items.push_back({commands::kShowWindow, std::string(kWatchListLoadingItem), false, false, {}});
  if (state.refresh_paused) menu.items.push_back({commands::kKeySettings, std::string(kRefreshPausedItem), true, false, {}});
  menu.items.push_back({});
  // The latest change a parcel has seen, its adding among them: what was
  // just watched is there too.
  const auto changed = [](const WatchedParcel* parcel) { return std::max(parcel->added, parcel->last_changed); };
  std::vector<const WatchedParcel*> shown;
  for (const WatchedParcel& parcel : list.parcels) {
    if (parcel.put_away == 0) shown.push_back(&parcel);
  }
  std::stable_sort(shown.begin(), shown.end(),
                   [&](const WatchedParcel* left, const WatchedParcel* right) { return changed(left) > changed(right); });
  if (shown.size() > kTrayMenuParcels) shown.resize(kTrayMenuParcels);
  for (const WatchedParcel* parcel : shown) {
    menu.items.push_back({commands::kShowParcelFirst + static_cast<int>(menu.parcels.size()), MenuLabel(*parcel, now),
                          true, false, {}});
    menu.parcels.emplace_back(parcel->number, parcel->carrier);
  }
  if (!shown.empty()) menu.items.push_back({});
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
