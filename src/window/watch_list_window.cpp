#include "window/watch_list_window.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <stdexcept>

#include "common/utf.h"
#include "dialog_ids.h"
#include "platform/win32_util.h"
#include "window/dialogs_win32.h"
#include "window/popup_menu_win32.h"
#include "window/watch_list_form.h"

namespace quenzil {
namespace {

static_assert(QZ_LIST_REFRESH == list_commands::kRefresh && QZ_LIST_UNWATCH == list_commands::kUnwatch &&
              QZ_LIST_COPY == list_commands::kCopy && QZ_LIST_NOTE == list_commands::kNote &&
              QZ_LIST_PHONE == list_commands::kPhone && QZ_LIST_REWATCH == list_commands::kRewatch &&
              QZ_LIST_BULK_ADD == list_commands::kBulkAdd &&
              QZ_LIST_OPEN == list_commands::kOpen && QZ_LIST_SAVE_AS == list_commands::kSaveAs);

constexpr int kIconResourceId = 1;
// The columns' widths at 96 dpi until the user sets them.
constexpr std::array<int, kColumnCount> kDefaultWidths = {80, 130, 72, 72, 64, 240, 112, 112, 64};
// The buttons beside the list, from the top; 关闭 stands at the bottom.
constexpr std::array<int, 9> kSideButtons = {QZ_LIST_REFRESH, QZ_LIST_COPY,     QZ_LIST_NOTE,
                                             QZ_LIST_PHONE,   QZ_LIST_REWATCH,  QZ_LIST_UNWATCH,
                                             QZ_LIST_BULK_ADD, QZ_LIST_OPEN,    QZ_LIST_SAVE_AS};
constexpr std::size_t kFileButtonsFrom = 6;  // a gap before 批量添加…
constexpr std::size_t kPathChars = 32768;

bool Pressed(int key) { return (::GetKeyState(key) & 0x8000) != 0; }

}  // namespace

WatchListWindow::~WatchListWindow() {
  if (hwnd_ != nullptr) {
    form_ = nullptr;
    ::DestroyWindow(hwnd_);
  }
}

HWND WatchListWindow::Item(int id) const {
  const HWND item = ::GetDlgItem(hwnd_, id);
  if (item == nullptr) ThrowWin32("GetDlgItem");
  return item;
}

void WatchListWindow::Create() {
  // Its own top-level window: it stays while the main window hides.
  if (::CreateDialogParamW(instance_, MAKEINTRESOURCEW(QZ_DIALOG_WATCH_LIST), nullptr, &WatchListWindow::DialogProc,
                           reinterpret_cast<LPARAM>(this)) == nullptr) {
    ThrowWin32("CreateDialogParamW");
  }
  list_ = Item(QZ_LIST_PARCELS);
  ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER | LVS_EX_HEADERDRAGDROP);
  const int dpi = static_cast<int>(DpiOfWindow(hwnd_));
  const int big = ::MulDiv(32, dpi, USER_DEFAULT_SCREEN_DPI);
  const int small = ::MulDiv(16, dpi, USER_DEFAULT_SCREEN_DPI);
  big_icon_.reset(static_cast<HICON>(
      ::LoadImageW(instance_, MAKEINTRESOURCEW(kIconResourceId), IMAGE_ICON, big, big, LR_DEFAULTCOLOR)));
  small_icon_.reset(static_cast<HICON>(
      ::LoadImageW(instance_, MAKEINTRESOURCEW(kIconResourceId), IMAGE_ICON, small, small, LR_DEFAULTCOLOR)));
  ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_icon_.get()));
  ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_.get()));
}

void WatchListWindow::InsertColumns(const std::vector<int>& widths_at_96) {
  const int dpi = static_cast<int>(DpiOfWindow(hwnd_));
  for (std::size_t column = 0; column < kColumnCount; ++column) {
    std::wstring name = Widen(ColumnName(static_cast<Column>(column)));
    LVCOLUMNW head{};
    head.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    head.pszText = name.data();
    const int width = widths_at_96.size() == kColumnCount ? widths_at_96[column] : kDefaultWidths[column];
    head.cx = ::MulDiv(width, dpi, USER_DEFAULT_SCREEN_DPI);
    head.iSubItem = static_cast<int>(column);
    if (ListView_InsertColumn(list_, static_cast<int>(column), &head) < 0) ThrowWin32("LVM_INSERTCOLUMN");
  }
}

// Where it was last time, in its size at this DPI, if that is still on a
// screen; else centred on the nearest one.
void WatchListWindow::Place(std::string_view text) {
  const std::optional<ListWindowPlacement> placement = ParseListPlacement(text);
  InsertColumns(placement ? placement->column_widths : std::vector<int>{});
  const int dpi = static_cast<int>(DpiOfWindow(hwnd_));
  RECT frame{};
  if (!::GetWindowRect(hwnd_, &frame)) ThrowWin32("GetWindowRect");
  int width = frame.right - frame.left;
  int height = frame.bottom - frame.top;
  if (placement) {
    const RECT wanted{placement->x, placement->y, placement->x + ::MulDiv(placement->width, dpi, USER_DEFAULT_SCREEN_DPI),
                      placement->y + ::MulDiv(placement->height, dpi, USER_DEFAULT_SCREEN_DPI)};
    if (::MonitorFromRect(&wanted, MONITOR_DEFAULTTONULL) != nullptr) {
      WINDOWPLACEMENT place{};
      place.length = sizeof(place);
      place.showCmd = SW_HIDE;  // shown by ShowList, maximized if it was
      place.rcNormalPosition = wanted;
      if (!::SetWindowPlacement(hwnd_, &place)) ThrowWin32("SetWindowPlacement");
      maximized_ = placement->maximized;
      return;
    }
    width = wanted.right - wanted.left;
    height = wanted.bottom - wanted.top;
  }
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  const HMONITOR monitor = ::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY);
  if (monitor == nullptr || !::GetMonitorInfoW(monitor, &info)) return;
  const RECT& work = info.rcWork;
  width = std::min(width, static_cast<int>(work.right - work.left));
  height = std::min(height, static_cast<int>(work.bottom - work.top));
  if (!::SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - width) / 2,
                      work.top + (work.bottom - work.top - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE)) {
    ThrowWin32("SetWindowPos");
  }
}

void WatchListWindow::ShowList(std::string_view placement) {
  const bool made = hwnd_ == nullptr;
  if (made) {
    Create();
    Place(placement);
    Layout();
  }
  const bool shown = ::IsWindowVisible(hwnd_) != FALSE;
  ::ShowWindow(hwnd_, ::IsIconic(hwnd_) ? SW_RESTORE : shown ? SW_SHOW : maximized_ ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
  ::SetForegroundWindow(hwnd_);  // may be refused; the window is shown anyway
  // The keys go to the list when it opens; through the dialog manager, so
  // that it gives the focus back there whenever the window is activated.
  const HWND focus = ::GetFocus();
  if (made || focus == nullptr || !::IsChild(hwnd_, focus)) {
    ::SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(list_), TRUE);
    if (ListView_GetNextItem(list_, -1, LVNI_FOCUSED) < 0 && ListView_GetItemCount(list_) > 0) {
      ListView_SetItemState(list_, 0, LVIS_FOCUSED | LVIS_SELECTED, LVIS_FOCUSED | LVIS_SELECTED);
    }
  }
}

std::string WatchListWindow::ListPlacement() const {
  if (hwnd_ == nullptr) return {};
  WINDOWPLACEMENT place{};
  place.length = sizeof(place);
  if (!::GetWindowPlacement(hwnd_, &place)) return {};
  const int dpi = static_cast<int>(DpiOfWindow(hwnd_));
  const RECT& normal = place.rcNormalPosition;
  ListWindowPlacement placement{normal.left, normal.top,
                          ::MulDiv(normal.right - normal.left, USER_DEFAULT_SCREEN_DPI, dpi),
                          ::MulDiv(normal.bottom - normal.top, USER_DEFAULT_SCREEN_DPI, dpi),
                          place.showCmd == SW_SHOWMAXIMIZED || ::IsZoomed(hwnd_), {}};
  for (std::size_t column = 0; column < kColumnCount; ++column) {
    placement.column_widths.push_back(
        ::MulDiv(ListView_GetColumnWidth(list_, static_cast<int>(column)), USER_DEFAULT_SCREEN_DPI, dpi));
  }
  return ListPlacementText(placement);
}

// The list takes what the window has to spare; the buttons keep to the
// right, the find box and the status line to the bottom.
void WatchListWindow::Layout() {
  if (hwnd_ == nullptr || list_ == nullptr) return;
  RECT client{};
  if (!::GetClientRect(hwnd_, &client)) return;
  RECT units{7, 26, 62, 14};  // margin, the list's top, a button's width and height
  RECT more{17, 13, 36, 90};  // a button's step, the find box's height, its label, the box
  if (!::MapDialogRect(hwnd_, &units) || !::MapDialogRect(hwnd_, &more)) return;
  const int margin = units.left;
  const int top = units.top;
  const int button_width = units.right;
  const int button_height = units.bottom;
  const int step = more.left;
  const int edit_height = more.top;
  const int buttons_x = std::max(margin, static_cast<int>(client.right) - margin - button_width);
  const int bottom_y = std::max(top, static_cast<int>(client.bottom) - margin - edit_height);
  const auto move = [this](int id, int x, int y, int width, int height) {
    ::SetWindowPos(Item(id), nullptr, x, y, std::max(0, width), std::max(0, height), SWP_NOZORDER | SWP_NOACTIVATE);
  };
  move(QZ_LIST_PARCELS, margin, top, buttons_x - 2 * margin, bottom_y - margin / 2 - top);
  int y = top;
  for (std::size_t index = 0; index < kSideButtons.size(); ++index) {
    if (index == kFileButtonsFrom) y += step / 2;
    move(kSideButtons[index], buttons_x, y, button_width, button_height);
    y += step;
  }
  move(IDCANCEL, buttons_x, bottom_y, button_width, button_height);
  move(QZ_TEXT_LIST_FIND, margin, bottom_y + (edit_height - button_height / 2) / 2, more.right, button_height);
  move(QZ_EDIT_LIST_FIND, margin + more.right, bottom_y, more.bottom, edit_height);
  const int status_x = margin + more.right + more.bottom + margin;
  move(QZ_TEXT_LIST_STATUS, status_x, bottom_y + (edit_height - button_height / 2) / 2, buttons_x - margin - status_x,
       button_height);
  ::InvalidateRect(hwnd_, nullptr, TRUE);
}

void WatchListWindow::SetFilterTexts(const std::array<std::string, kFilters.size()>& texts, std::size_t chosen) {
  if (hwnd_ == nullptr) return;  // not made yet: it is filled as it is shown
  for (std::size_t index = 0; index < texts.size(); ++index) {
    const HWND button = Item(QZ_LIST_FILTER_FIRST + static_cast<int>(index));
    // Only what changed is drawn again: most changes of the list leave the
    // counts as they were.
    if (const std::wstring text = Widen(texts[index]); WindowText(button) != text) SetText(button, text);
    const WPARAM check = index == chosen ? BST_CHECKED : BST_UNCHECKED;
    if (static_cast<WPARAM>(::SendMessageW(button, BM_GETCHECK, 0, 0)) != check) {
      ::SendMessageW(button, BM_SETCHECK, check, 0);
    }
  }
}

void WatchListWindow::ShowRowCount(std::size_t count, std::size_t sort_column, bool ascending) {
  if (hwnd_ == nullptr) return;  // not made yet: it is filled as it is shown
  // The rows are others now: what was selected is selected again by the
  // handlers, by parcel.
  ClearSelection(true);
  ListView_SetItemCountEx(list_, static_cast<int>(count), LVSICF_NOSCROLL);
  ::InvalidateRect(list_, nullptr, FALSE);
  if (shown_sort_ == std::pair{sort_column, ascending}) return;
  shown_sort_ = {sort_column, ascending};
  const HWND header = ListView_GetHeader(list_);
  for (std::size_t column = 0; header != nullptr && column < kColumnCount; ++column) {
    HDITEMW item{};
    item.mask = HDI_FORMAT;
    if (!Header_GetItem(header, static_cast<int>(column), &item)) continue;
    item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
    if (column == sort_column) item.fmt |= ascending ? HDF_SORTUP : HDF_SORTDOWN;
    Header_SetItem(header, static_cast<int>(column), &item);
  }
}

// Row by row, only those selected: the list's "every row" goes through all
// of them, each with its notifications, which a filter's click would wait for.
void WatchListWindow::ClearSelection(bool focus_too) {
  for (int row = ListView_GetNextItem(list_, -1, LVNI_SELECTED); row >= 0;
       row = ListView_GetNextItem(list_, row, LVNI_SELECTED)) {
    ListView_SetItemState(list_, row, 0, LVIS_SELECTED);
  }
  if (const int focused = ListView_GetNextItem(list_, -1, LVNI_FOCUSED); focus_too && focused >= 0) {
    ListView_SetItemState(list_, focused, 0, LVIS_FOCUSED);
  }
}

std::vector<std::size_t> WatchListWindow::SelectedRows() const {
  std::vector<std::size_t> rows;
  if (list_ == nullptr) return rows;
  for (int row = ListView_GetNextItem(list_, -1, LVNI_SELECTED); row >= 0;
       row = ListView_GetNextItem(list_, row, LVNI_SELECTED)) {
    rows.push_back(static_cast<std::size_t>(row));
  }
  return rows;
}

void WatchListWindow::SelectRows(const std::vector<std::size_t>& rows, std::optional<std::size_t> focus) {
  if (hwnd_ == nullptr) return;  // not made yet: it is filled as it is shown
  ClearSelection(false);
  for (const std::size_t row : rows) ListView_SetItemState(list_, static_cast<int>(row), LVIS_SELECTED, LVIS_SELECTED);
  if (focus) {
    ListView_SetItemState(list_, static_cast<int>(*focus), LVIS_FOCUSED, LVIS_FOCUSED);
    ListView_EnsureVisible(list_, static_cast<int>(*focus), FALSE);
  }
}

void WatchListWindow::SetListStatus(std::string_view text) {
  if (hwnd_ != nullptr) SetText(Item(QZ_TEXT_LIST_STATUS), Widen(text));
}

void WatchListWindow::ShowListMessage(std::string_view prompt, std::string_view title) {
  ShowMessageBox(hwnd_, prompt, title);
}

bool WatchListWindow::ConfirmInList(std::string_view prompt, std::string_view title) {
  return AskOkCancelBox(hwnd_, prompt, title);
}

std::optional<std::string> WatchListWindow::AskListNote(std::string_view about, std::string_view current) {
  return AskListNoteDialog(instance_, hwnd_, about, current);
}

std::optional<std::string> WatchListWindow::AskListPhone(std::string_view carrier_name, std::string_view about) {
  return AskListPhoneDialog(instance_, hwnd_, carrier_name, about);
}

std::optional<int> WatchListWindow::ShowListMenu(const std::vector<MenuItem>& items) {
  return TrackMenuAtCursor(hwnd_, items);
}

void WatchListWindow::AskBulkAdd(BulkAddHost& host, std::string_view text) {
  BulkAddDialog(instance_, hwnd_, host, text);
}

std::optional<std::string> WatchListWindow::PickSheetToOpen() {
  std::wstring path(kPathChars, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = hwnd_;
  dialog.lpstrFilter = L"表格（*.csv; *.txt）\0*.csv;*.txt\0所有文件（*.*）\0*.*\0";
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  dialog.lpstrTitle = L"打开单号表格";
  dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!::GetOpenFileNameW(&dialog)) {
    if (::CommDlgExtendedError() != 0) throw std::runtime_error("打开文件的对话框无法显示");
    return std::nullopt;
  }
  path.resize(std::wcslen(path.c_str()));
  return Narrow(path);
}

std::optional<std::pair<std::string, ExportRows>> WatchListWindow::PickSheetToSave() {
  std::wstring path(kPathChars, L'\0');
  constexpr wchar_t kDefaultName[] = L"关注列表.csv";
  std::memcpy(path.data(), kDefaultName, sizeof(kDefaultName));
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = hwnd_;
  dialog.lpstrFilter = L"每个单号一行（*.csv）\0*.csv\0每条动态一行（*.csv）\0*.csv\0";
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  dialog.lpstrDefExt = L"csv";
  dialog.lpstrTitle = L"另存为";
  dialog.Flags = OFN_EXPLORER | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!::GetSaveFileNameW(&dialog)) {
    if (::CommDlgExtendedError() != 0) throw std::runtime_error("保存文件的对话框无法显示");
    return std::nullopt;
  }
  path.resize(std::wcslen(path.c_str()));
  return std::pair{Narrow(path), dialog.nFilterIndex == 2 ? ExportRows::kEvents : ExportRows::kParcels};
}

bool WatchListWindow::TranslateDialogMessage(MSG& message) {
  if (hwnd_ == nullptr || (message.hwnd != hwnd_ && !::IsChild(hwnd_, message.hwnd))) return false;
  return ::IsDialogMessageW(hwnd_, &message) != FALSE;
}

void WatchListWindow::Close() {
  if (form_ != nullptr) form_->Closing();
  ::ShowWindow(hwnd_, SW_HIDE);
}

void WatchListWindow::Destroy() {
  if (hwnd_ == nullptr) return;
  if (::IsWindowVisible(hwnd_) && form_ != nullptr) form_->Closing();
  form_ = nullptr;
  ::DestroyWindow(hwnd_);
}

INT_PTR CALLBACK WatchListWindow::DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<WatchListWindow*>(lparam);
    self->hwnd_ = dialog;
    ::SetWindowLongPtrW(dialog, DWLP_USER, lparam);
    return TRUE;
  }
  auto* self = reinterpret_cast<WatchListWindow*>(::GetWindowLongPtrW(dialog, DWLP_USER));
  if (self == nullptr) return FALSE;
  if (message == WM_NCDESTROY) {
    self->hwnd_ = nullptr;
    self->list_ = nullptr;
    return FALSE;
  }
  // No exception may cross the system's frames: the user is told, the
  // window goes on.
  try {
    return self->HandleMessage(message, wparam, lparam);
  } catch (const std::exception& error) {
    ::MessageBoxW(dialog, Widen(std::string("程序内部错误：") + error.what()).c_str(), L"关注列表", MB_OK);
  } catch (...) {
    ::MessageBoxW(dialog, L"程序内部错误：未知错误", L"关注列表", MB_OK);
  }
  return TRUE;
}

INT_PTR WatchListWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return TRUE;
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (!OnNotify(*reinterpret_cast<const NMHDR*>(lparam), result)) return FALSE;
      ::SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
      return TRUE;
    }
    case WM_CONTEXTMENU:
      if (form_ != nullptr && reinterpret_cast<HWND>(wparam) == list_) {
        form_->ContextMenu();
        return TRUE;
      }
      return FALSE;
    case WM_SIZE:
      Layout();
      return TRUE;
    case WM_GETMINMAXINFO: {
      RECT least{0, 0, 300, 160};
      if (hwnd_ != nullptr && ::MapDialogRect(hwnd_, &least)) {
        auto* limits = reinterpret_cast<MINMAXINFO*>(lparam);
        limits->ptMinTrackSize = POINT{least.right, least.bottom};
      }
      return TRUE;
    }
    case WM_DPICHANGED: {
      const RECT& suggested = *reinterpret_cast<const RECT*>(lparam);
      ::SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                     suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
      Layout();
      return TRUE;
    }
    case WM_CLOSE:
      Close();
      return TRUE;
    default:
      return FALSE;
  }
}

void WatchListWindow::OnCommand(int id, int notification) {
  if (form_ == nullptr) return;
  if (id >= QZ_LIST_FILTER_FIRST && id < QZ_LIST_FILTER_FIRST + static_cast<int>(kFilters.size())) {
    if (notification == BN_CLICKED) form_->Filter_Click(static_cast<std::size_t>(id - QZ_LIST_FILTER_FIRST));
    return;
  }
  if (id == QZ_EDIT_LIST_FIND) {
    if (notification != EN_CHANGE) return;
    const std::string typed = Narrow(WindowText(Item(QZ_EDIT_LIST_FIND)));
    if (typed.empty()) return;
    if (const std::optional<std::size_t> row = form_->FindRow(typed, 0)) SelectRows({*row}, *row);
    return;
  }
  switch (id) {
    case IDCANCEL:
      Close();
      return;
    case IDOK: {
      // Enter: the parcel with the focus (in the list, or found by the
      // find box) shows its rows.
      const int focused = ListView_GetNextItem(list_, -1, LVNI_FOCUSED);
      const std::vector<std::size_t> selected = SelectedRows();
      if (focused >= 0 && std::find(selected.begin(), selected.end(), static_cast<std::size_t>(focused)) != selected.end()) {
        form_->Row_Activate(static_cast<std::size_t>(focused));
      } else if (!selected.empty()) {
        form_->Row_Activate(selected.front());
      }
      return;
    }
    default:
      if (notification == BN_CLICKED) form_->Command(id);
      return;
  }
}

bool WatchListWindow::OnNotify(const NMHDR& header, LRESULT& result) {
  if (form_ == nullptr || header.hwndFrom != list_) return false;
  switch (header.code) {
    case LVN_GETDISPINFOW: {
      auto& shown = const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(header));
      if ((shown.item.mask & LVIF_TEXT) == 0 || shown.item.pszText == nullptr || shown.item.cchTextMax <= 0) return true;
      cell_ = Widen(form_->CellText(static_cast<std::size_t>(shown.item.iItem), static_cast<std::size_t>(shown.item.iSubItem)));
      const std::size_t length = std::min(cell_.size(), static_cast<std::size_t>(shown.item.cchTextMax) - 1);
      std::memcpy(shown.item.pszText, cell_.data(), length * sizeof(wchar_t));
      shown.item.pszText[length] = L'\0';
      return true;
    }
    case LVN_ODFINDITEMW: {
      // Typing in the list finds a number or a note.
      const auto& find = reinterpret_cast<const NMLVFINDITEMW&>(header);
      result = -1;
      if ((find.lvfi.flags & (LVFI_STRING | LVFI_PARTIAL)) == 0 || find.lvfi.psz == nullptr) return true;
      const std::size_t from = find.iStart < 0 ? 0 : static_cast<std::size_t>(find.iStart);
      if (const std::optional<std::size_t> row = form_->FindRow(Narrow(find.lvfi.psz), from)) {
        result = static_cast<LRESULT>(*row);
      }
      return true;
    }
    case LVN_COLUMNCLICK:
      form_->Column_Click(static_cast<std::size_t>(reinterpret_cast<const NMLISTVIEW&>(header).iSubItem));
      return true;
    case NM_DBLCLK: {
      const int row = reinterpret_cast<const NMITEMACTIVATE&>(header).iItem;
      if (row >= 0) form_->Row_Activate(static_cast<std::size_t>(row));
      return true;
    }
    case LVN_KEYDOWN: {
      const WORD key = reinterpret_cast<const NMLVKEYDOWN&>(header).wVKey;
      const bool control = Pressed(VK_CONTROL);
      if (key == VK_DELETE) {
        form_->Command(list_commands::kUnwatch);
      } else if (control && key == 'C') {
        form_->Command(list_commands::kCopy);
      } else if (control && key == 'A') {
        ListView_SetItemState(list_, -1, LVIS_SELECTED, LVIS_SELECTED);
      } else if (key == VK_F5) {
        form_->Command(list_commands::kRefresh);
      }
      return true;
    }
    default:
      return false;
  }
}

}  // namespace quenzil
