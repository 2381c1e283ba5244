// The Win32 shell of the 关注列表 window: a modeless dialog of its own
// (it stays up while the main window hides in the notification area) with
// a virtual report list whose cells the handlers give as it draws them.
// Made on the first 关注列表…, hidden (never destroyed) when closed.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>

#include "app/watch_list_view.h"
#include "common/handles_win32.h"

namespace quenzil {

class WatchListForm;

class WatchListWindow final : public WatchListView {
 public:
  explicit WatchListWindow(HINSTANCE instance) : instance_(instance) {}
  ~WatchListWindow() override;
  WatchListWindow(const WatchListWindow&) = delete;
  WatchListWindow& operator=(const WatchListWindow&) = delete;

  void AttachForm(WatchListForm* form) { form_ = form; }
  HWND handle() const { return hwnd_; }
  // The message loop gives the dialog manager its keys (Tab, arrows, Enter,
  // Esc, the mnemonics).
  bool TranslateDialogMessage(MSG& message);
  // The program ends: the placement is kept, the window goes.
  void Destroy();

  // WatchListView
  void ShowList(std::string_view placement) override;
  std::string ListPlacement() const override;
  void SetFilterTexts(const std::array<std::string, kFilters.size()>& texts, std::size_t chosen) override;
  void ShowRowCount(std::size_t count, std::size_t sort_column, bool ascending) override;
  std::vector<std::size_t> SelectedRows() const override;
  void SelectRows(const std::vector<std::size_t>& rows, std::optional<std::size_t> focus) override;
  void SetListStatus(std::string_view text) override;
  void ShowListMessage(std::string_view prompt, std::string_view title) override;
  bool ConfirmInList(std::string_view prompt, std::string_view title) override;
  std::optional<std::string> AskListNote(std::string_view about, std::string_view current) override;
  std::optional<std::string> AskListPhone(std::string_view carrier_name, std::string_view about) override;
  std::optional<int> ShowListMenu(const std::vector<MenuItem>& items) override;
  void AskBulkAdd(BulkAddHost& host, std::string_view text) override;
  std::optional<std::string> PickSheetToOpen() override;
  std::optional<std::pair<std::string, ExportRows>> PickSheetToSave() override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
  INT_PTR HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void Create();
  void InsertColumns(const std::vector<int>& widths_at_96);
  void Place(std::string_view placement);
  void Layout();
  bool OnNotify(const NMHDR& header, LRESULT& result);
  void OnCommand(int id, int notification);
  void Close();
  void ClearSelection(bool focus_too);
  HWND Item(int id) const;

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  HWND list_ = nullptr;
  WatchListForm* form_ = nullptr;
  UniqueIcon big_icon_;
  UniqueIcon small_icon_;
  bool maximized_ = false;  // when it is first shown
  std::optional<std::pair<std::size_t, bool>> shown_sort_;  // the header's mark: column, ascending
  // The cell being drawn, kept until the list has copied it.
  std::wstring cell_;
};

}  // namespace quenzil
