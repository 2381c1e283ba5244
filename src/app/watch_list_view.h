// What the 关注列表 window's handlers need of that window: the filter
// buttons, the report list (rows drawn on demand from the handlers' table),
// its boxes and the file dialogs. Texts are UTF-8. The Win32 shell
// implements it; the handlers' tests use a fake.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/form_view.h"
#include "app/watch_import.h"
#include "app/watch_table.h"

namespace quenzil {

// The 批量添加 dialog asks these as the user types and presses 添加.
class BulkAddHost {
 public:
  virtual ~BulkAddHost() = default;
  // What each line of the box becomes, as the preview shows it.
  virtual std::vector<ImportLine> Preview(std::string_view text) = 0;
  struct Added {
    std::string told;  // what happened, for the dialog's status line
    std::string kept;  // the lines not added, which stay in the box; empty: the dialog closes
  };
  virtual Added Add(std::string_view text) = 0;
};

class WatchListView {
 public:
  virtual ~WatchListView() = default;

  // Shown, restored and brought forward; made first if it was not, at the
  // placement kept from the last time (empty: the default one).
  virtual void ShowList(std::string_view placement) = 0;
  // Its size, position and column widths, to be kept for the next time.
  virtual std::string ListPlacement() const = 0;

  // The filter buttons' texts (with their counts) and the one chosen.
  virtual void SetFilterTexts(const std::array<std::string, kFilters.size()>& texts, std::size_t chosen) = 0;
  // The list shows this many rows, asking the handlers for their cells; the
  // sort column's header shows the order.
  virtual void ShowRowCount(std::size_t count, std::size_t sort_column, bool ascending) = 0;
  virtual std::vector<std::size_t> SelectedRows() const = 0;
  // Those rows selected, the focus on one of them, scrolled into view.
  virtual void SelectRows(const std::vector<std::size_t>& rows, std::optional<std::size_t> focus) = 0;
  virtual void SetListStatus(std::string_view text) = 0;

  // Boxes owned by the list window.
  virtual void ShowListMessage(std::string_view prompt, std::string_view title) = 0;
  virtual bool ConfirmInList(std::string_view prompt, std::string_view title) = 0;
  virtual std::optional<std::string> AskListNote(std::string_view about, std::string_view current) = 0;
  virtual std::optional<std::string> AskListPhone(std::string_view carrier_name, std::string_view about) = 0;
  virtual std::optional<int> ShowListMenu(const std::vector<MenuItem>& items) = 0;
  // 批量添加, modal, the box holding the text at first.
  virtual void AskBulkAdd(BulkAddHost& host, std::string_view text) = 0;
  // 打开… and 另存为…: the path chosen (UTF-8), or nullopt.
  virtual std::optional<std::string> PickSheetToOpen() = 0;
  virtual std::optional<std::pair<std::string, ExportRows>> PickSheetToSave() = 0;
};

}  // namespace quenzil
