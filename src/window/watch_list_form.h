// The handlers of the 关注列表 window, free of the platform: a presenter
// beside form1's. The list's rules are WatchTable's and the import's; the
// parcels are the tracker's. Each action works on the rows selected.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/modal_gate.h"
#include "app/settings.h"
#include "app/tracker.h"
#include "app/watch_list_view.h"
#include "app/watch_table.h"

namespace quenzil {

// The commands of the list's context menu (and of its buttons).
namespace list_commands {
inline constexpr int kRefresh = 0x2010;
inline constexpr int kUnwatch = 0x2020;
inline constexpr int kCopy = 0x2030;
inline constexpr int kNote = 0x2040;
inline constexpr int kPhone = 0x2050;
inline constexpr int kRewatch = 0x2060;
inline constexpr int kShowRows = 0x2070;
inline constexpr int kBulkAdd = 0x2080;
inline constexpr int kOpen = 0x2090;
inline constexpr int kSaveAs = 0x20A0;
inline constexpr int kSortFirst = 0x2100;  // + the column; chosen again, the order turns
}  // namespace list_commands

// The placement kept between runs: "x,y,width,height,maximized,w1,…,w9" in
// pixels at 96 dpi. nullopt for a text that is not one.
struct ListWindowPlacement {
  int x = 0, y = 0, width = 0, height = 0;
  bool maximized = false;
  std::vector<int> column_widths;  // kColumnCount of them, or none
};
std::optional<ListWindowPlacement> ParseListPlacement(std::string_view text);
std::string ListPlacementText(const ListWindowPlacement& placement);

// A line of 批量添加's preview: 行, 单号, 快递公司, 备注, 手机后四位, 结果.
std::array<std::string, 6> PreviewCells(const ImportLine& line);
// What a sheet's rows become in 批量添加's box: one pasted line each, the
// courier only where the sheet named it, so that the preview says the same.
std::string PastedLinesOf(const std::vector<ImportLine>& lines);

class WatchListForm final : private BulkAddHost {
 public:
  struct Host {
    Tracker& tracker;
    ModalGate& modal;
    const Clock& clock;
    SettingsStore& settings;
    std::function<void(std::string)> copy;              // onto the clipboard, retried while held
    std::function<void(const ParcelKey&)> show_parcel;  // its rows in the main window
  };
  WatchListForm(WatchListView& view, Host host) : view_(view), host_(std::move(host)) {}

  // 关注列表…: the window shown with the list as it is now.
  void Open();
  // The list changed: what the window shows follows, the selection kept.
  void ListChanged();
  void Filter_Click(std::size_t filter);
  void Column_Click(std::size_t column);
  // Type-to-find: the first row from `from` on whose number or note begins
  // with the text.
  std::optional<std::size_t> FindRow(std::string_view typed, std::size_t from) const;
  // The cell a row shows, for the list's drawing.
  std::string CellText(std::size_t row, std::size_t column) const;
  // Enter or a double click on a row.
  void Row_Activate(std::size_t row);
  void ContextMenu();
  // A button or a menu command; false when it is none of the list's.
  bool Command(int command);
  // The window closes (hidden): its placement is kept.
  void Closing();

  const WatchTable& table() const { return table_; }

 private:
  void Rebuild();
  void ShowRows(const std::vector<ParcelKey>& selected);
  std::vector<ParcelKey> Selected() const;
  void Refresh_Click();
  void Unwatch_Click();
  void Copy_Click();
  void Note_Click();
  void Phone_Click();
  void Rewatch_Click();
  void BulkAdd_Click(std::string text = {});
  void Open_Click();
  void SaveAs_Click();
  void Tell(std::string_view prompt);
  // BulkAddHost
  std::vector<ImportLine> Preview(std::string_view text) override;
  Added Add(std::string_view text) override;

  WatchListView& view_;
  Host host_;
  WatchTable table_;
  bool made_ = false;
};

}  // namespace quenzil
