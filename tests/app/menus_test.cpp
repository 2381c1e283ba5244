#include "app/menus.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quenzil {
namespace {

constexpr UnixSeconds kT0 = 1796722200;

std::vector<std::string> Texts(const ParcelMenu& menu) {
  std::vector<std::string> texts;
  for (const MenuItem& item : menu.items) texts.push_back(item.command == 0 ? "—" : item.text);
  return texts;
}

TEST(TrayMenu, TheWatchListFirstThenFifteenParcelsAtMostLatestChangedFirstNonePutAway) {
  WatchList list;
  for (int i = 0; i < 20; ++i) {
    list.parcels.push_back({.number = "N" + std::to_string(i), .carrier = "yunda", .state = "0", .added = kT0 - 86400,
                            .last_checked = kT0, .last_changed = kT0 + 60 * i});
  }
  list.parcels[19].put_away = kT0 + 3600;
  // Just added, never fetched: its adding is its latest change.
  list.parcels.push_back({.number = "NEW", .carrier = "ems", .added = kT0 + 60 * 10 + 30});
  const ParcelMenu menu = TrayMenu(list, kT0, {});
  std::vector<std::string> expected = {"关注列表…", "—"};
  for (const int i : {18, 17, 16, 15, 14, 13, 12, 11, -1, 10, 9, 8, 7, 6, 5}) {
    expected.push_back(i < 0 ? "EMS NEW（等待刷新）" : "韵达快递 N" + std::to_string(i) + " 在途");
  }
  expected.insert(expected.end(), {"—", "显示窗口", "退出"});
  EXPECT_EQ(Texts(menu), expected);
  EXPECT_EQ(menu.items[0].command, commands::kWatchListWindow);
  ASSERT_EQ(menu.parcels.size(), kTrayMenuParcels);
  // Each item names the parcel it was made for.
  for (std::size_t index = 0; index < menu.parcels.size(); ++index) {
    EXPECT_EQ(ParcelOfCommand(menu, menu.items[2 + index].command, commands::kShowParcelFirst), menu.parcels[index]);
  }
  EXPECT_EQ(menu.parcels[8], (ParcelKey{"NEW", "ems"}));

  EXPECT_EQ(Texts(TrayMenu({}, kT0, {.loaded = false, .refresh_paused = true})),
            (std::vector<std::string>{"关注列表…", "正在读取关注列表…", "后台刷新已暂停，请检查查询服务账号…", "—",
                                      "显示窗口", "退出"}));
}

}  // namespace
}  // namespace quenzil
