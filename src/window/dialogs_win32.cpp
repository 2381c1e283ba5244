#include "window/dialogs_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/account_boxes.h"
#include "app/texts.h"
#include "common/unique_handle.h"
#include "window/watch_list_form.h"
#include "common/utf.h"
#include "dialog_ids.h"
#include "platform/win32_util.h"

namespace quenzil {
namespace {

constexpr int kNoteLimit = 40;  // characters: enough for "妈妈的快递", short for a menu

std::string Trimmed(std::wstring text) {
  const auto blank = [](wchar_t character) {
    return character == L' ' || character == L'\t' || character == L'\u3000';
  };
  while (!text.empty() && blank(text.back())) text.pop_back();
  const auto first = std::find_if_not(text.begin(), text.end(), blank);
  return Narrow(std::wstring(first, text.end()));
}

std::string ItemText(HWND dialog, int id) { return Trimmed(WindowText(::GetDlgItem(dialog, id))); }

void Warn(HWND dialog, std::string_view prompt) {
  if (::MessageBoxW(dialog, Widen(prompt).c_str(), Widen(kSystemNoticeTitle).c_str(), MB_OK | MB_ICONINFORMATION) ==
      0) {
    ThrowWin32("MessageBoxW");
  }
}

// What a dialog procedure works on, found again through DWLP_USER.
template <typename State>
State* StateOf(HWND dialog, UINT message, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(dialog, DWLP_USER, lparam);
    return reinterpret_cast<State*>(lparam);
  }
  return reinterpret_cast<State*>(::GetWindowLongPtrW(dialog, DWLP_USER));
}

// No exception may cross the system's frames: a dialog that fails closes
// as cancelled.
template <typename Body>
INT_PTR Guarded(HWND dialog, Body body) {
  try {
    return body();
  } catch (...) {
    ::EndDialog(dialog, IDCANCEL);
    return TRUE;
  }
}

// The choices of 自动刷新, in the order the list shows them.
constexpr RefreshMode kRefreshChoices[] = {RefreshMode::kSmart, RefreshMode::kHourly, RefreshMode::kOff};
constexpr const wchar_t* kRefreshChoiceTexts[] = {L"智能（推荐）", L"每小时", L"关闭"};

void FillRefreshChoices(HWND dialog, RefreshMode current) {
  const HWND combo = ::GetDlgItem(dialog, QZ_COMBO_REFRESH);
  for (std::size_t index = 0; index < std::size(kRefreshChoices); ++index) {
    if (::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kRefreshChoiceTexts[index])) < 0) {
      ThrowWin32("CB_ADDSTRING");
    }
    if (kRefreshChoices[index] == current && ::SendMessageW(combo, CB_SETCURSEL, index, 0) == CB_ERR) {
      ThrowWin32("CB_SETCURSEL");
    }
  }
}

RefreshMode ChosenRefresh(HWND dialog, RefreshMode fallback) {
  const LRESULT chosen = ::SendDlgItemMessageW(dialog, QZ_COMBO_REFRESH, CB_GETCURSEL, 0, 0);
  if (chosen < 0 || static_cast<std::size_t>(chosen) >= std::size(kRefreshChoices)) return fallback;
  return kRefreshChoices[chosen];
}

// The boxes of each service in the 查询服务账号 dialog, as kServiceKeys
// orders the services. AppCode has one box: its secret.
struct ServiceBoxes {
  int name_edit;  // 公司编号 or 用户ID; the secret's own box for AppCode
  int secret_edit;
  int clear_button;
  int count_text;
};
constexpr ServiceBoxes kServiceBoxes[] = {
    {QZ_EDIT_CUSTOMER, QZ_EDIT_KEY, QZ_BUTTON_CLEAR_KUAIDI100, QZ_TEXT_KUAIDI100_COUNT},
    {QZ_EDIT_KDNIAO_ID, QZ_EDIT_KDNIAO_KEY, QZ_BUTTON_CLEAR_KDNIAO, QZ_TEXT_KDNIAO_COUNT},
    {QZ_EDIT_APPCODE, QZ_EDIT_APPCODE, QZ_BUTTON_CLEAR_APPCODE, QZ_TEXT_APPCODE_COUNT},
};
static_assert(std::size(kServiceBoxes) == kServiceKeys.size());
static_assert(kServiceKeys[0] == Kuaidi100Service::kKey && kServiceKeys[1] == KdniaoService::kKey &&
              kServiceKeys[2] == AppCodeService::kKey);
constexpr int kAccountTextLimit = 200;  // characters
constexpr wchar_t kSecretKeptCue[] = L"已保存；留空则不变";

struct AccountsState {
  AccountSettings current;
  std::vector<std::string> order;  // as the list shows it
  std::array<bool, kServiceKeys.size()> cleared{};
  std::optional<AccountSettings> result;
};

const std::string& StoredSecret(const Accounts& accounts, std::size_t service) {
  return service == 0 ? accounts.kuaidi100.key : service == 1 ? accounts.kdniao.key : accounts.appcode.code;
}

HWND Item(HWND dialog, int id) {
  const HWND item = ::GetDlgItem(dialog, id);
  if (item == nullptr) ThrowWin32("GetDlgItem");
  return item;
}

// A message whose result says whether it was taken.
LRESULT Checked(HWND control, UINT message, WPARAM wparam, LPARAM lparam, LRESULT failure, const char* what) {
  const LRESULT result = ::SendMessageW(control, message, wparam, lparam);
  if (result == failure) throw std::runtime_error(std::string(what) + " 失败");
  return result;
}

void SetCue(HWND dialog, int id, const wchar_t* cue) {
  Checked(Item(dialog, id), EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(cue), FALSE, "EM_SETCUEBANNER");
}

void FocusOn(HWND dialog, int id) {
  ::SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(dialog, id)), TRUE);
}

// The order list from the state, the entry at `selected` chosen.
void FillOrder(HWND dialog, const AccountsState& state, std::size_t selected) {
  const HWND list = Item(dialog, QZ_LIST_ORDER);
  ::SendMessageW(list, LB_RESETCONTENT, 0, 0);
  for (const std::string& key : state.order) {
    const std::wstring name = Widen(ServiceNameOf(key));
    const LRESULT added = ::SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    if (added == LB_ERR || added == LB_ERRSPACE) throw std::runtime_error("LB_ADDSTRING 失败");
  }
  Checked(list, LB_SETCURSEL, selected, 0, LB_ERR, "LB_SETCURSEL");
}

// 上移 (-1) or 下移 (+1): the chosen service swaps places with its neighbour.
void MoveChosen(HWND dialog, AccountsState& state, int step) {
  const LRESULT at = ::SendDlgItemMessageW(dialog, QZ_LIST_ORDER, LB_GETCURSEL, 0, 0);
  if (at == LB_ERR) return;
  const auto from = static_cast<std::size_t>(at);
  const std::size_t to = from + static_cast<std::size_t>(step);  // wraps past 0, so the test below holds
  if (from >= state.order.size() || to >= state.order.size()) return;
  std::swap(state.order[from], state.order[to]);
  FillOrder(dialog, state, to);
}

void InitAccounts(HWND dialog, AccountsState& state) {
  const Accounts& accounts = state.current.accounts;
  SetText(Item(dialog, QZ_EDIT_CUSTOMER), Widen(accounts.kuaidi100.customer));
  SetText(Item(dialog, QZ_EDIT_KDNIAO_ID), Widen(accounts.kdniao.id));
  if (!::CheckDlgButton(dialog, QZ_CHECK_KDNIAO_PAID, accounts.kdniao.paid ? BST_CHECKED : BST_UNCHECKED)) {
    ThrowWin32("CheckDlgButton");
  }
  for (std::size_t service = 0; service < kServiceKeys.size(); ++service) {
    const ServiceBoxes& boxes = kServiceBoxes[service];
    for (const int edit : {boxes.name_edit, boxes.secret_edit}) {
      ::SendMessageW(Item(dialog, edit), EM_SETLIMITTEXT, kAccountTextLimit, 0);
    }
    // A stored secret is never put back into a window, masked or not:
    // left empty, it stays as it is.
    if (!StoredSecret(accounts, service).empty()) SetCue(dialog, boxes.secret_edit, kSecretKeptCue);
    SetText(Item(dialog, boxes.count_text),
            Widen("本月已查询 " + std::to_string(state.current.queries_this_month[service]) + " 次"));
  }
  FillOrder(dialog, state, 0);
  FillRefreshChoices(dialog, state.current.refresh);
}

// 清除: the service's boxes emptied and nothing stored of it kept, unless
// a new account is typed before 确定.
void ClearService(HWND dialog, AccountsState& state, std::size_t service) {
  const ServiceBoxes& boxes = kServiceBoxes[service];
  SetText(Item(dialog, boxes.name_edit), L"");
  SetText(Item(dialog, boxes.secret_edit), L"");
  SetCue(dialog, boxes.secret_edit, L"");
  if (service == 1 && !::CheckDlgButton(dialog, QZ_CHECK_KDNIAO_PAID, BST_UNCHECKED)) ThrowWin32("CheckDlgButton");
  state.cleared[service] = true;
  FocusOn(dialog, boxes.name_edit);
}

// 确定: the accounts, or the dialog stays with what was typed and says
// what is missing.
bool ConfirmAccounts(HWND dialog, AccountsState& state) {
  AccountBoxes boxes;
  boxes.kuaidi100_customer = ItemText(dialog, QZ_EDIT_CUSTOMER);
  boxes.kuaidi100_key = ItemText(dialog, QZ_EDIT_KEY);
  boxes.kdniao_id = ItemText(dialog, QZ_EDIT_KDNIAO_ID);
  boxes.kdniao_key = ItemText(dialog, QZ_EDIT_KDNIAO_KEY);
  boxes.kdniao_paid = ::IsDlgButtonChecked(dialog, QZ_CHECK_KDNIAO_PAID) == BST_CHECKED;
  boxes.appcode = ItemText(dialog, QZ_EDIT_APPCODE);
  boxes.kuaidi100_cleared = state.cleared[0];
  boxes.kdniao_cleared = state.cleared[1];
  boxes.appcode_cleared = state.cleared[2];
  boxes.order = state.order;
  boxes.refresh = ChosenRefresh(dialog, state.current.refresh);
  AccountCheck check = CheckAccountBoxes(state.current, boxes);
  if (!check.settings) {
    Warn(dialog, check.problem);
    const int box = check.box == AccountBox::kKuaidi100Customer ? QZ_EDIT_CUSTOMER
                    : check.box == AccountBox::kKuaidi100Key    ? QZ_EDIT_KEY
                    : check.box == AccountBox::kKdniaoId        ? QZ_EDIT_KDNIAO_ID
                                                                : QZ_EDIT_KDNIAO_KEY;
    FocusOn(dialog, box);
    return false;
  }
  state.result = std::move(check.settings);
  return true;
}

void End(HWND dialog, INT_PTR result) {
  if (!::EndDialog(dialog, result)) ThrowWin32("EndDialog");
}

INT_PTR CALLBACK AccountsProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = StateOf<AccountsState>(dialog, message, lparam);
  if (state == nullptr) return FALSE;
  return Guarded(dialog, [&]() -> INT_PTR {
    switch (message) {
      case WM_INITDIALOG:
        InitAccounts(dialog, *state);
        return TRUE;
      case WM_COMMAND: {
        const int id = LOWORD(wparam);
        for (std::size_t service = 0; service < kServiceKeys.size(); ++service) {
          if (id == kServiceBoxes[service].clear_button) {
            ClearService(dialog, *state, service);
            return TRUE;
          }
        }
        switch (id) {
          case IDOK:
            if (ConfirmAccounts(dialog, *state)) End(dialog, IDOK);
            return TRUE;
          case QZ_BUTTON_ORDER_UP:
          case QZ_BUTTON_ORDER_DOWN:
            MoveChosen(dialog, *state, id == QZ_BUTTON_ORDER_UP ? -1 : 1);
            return TRUE;
          case IDCANCEL:
            End(dialog, IDCANCEL);
            return TRUE;
          default:
            return FALSE;
        }
      }
      default:
        return FALSE;
    }
  });
}

struct LineState {
  std::wstring prompt;
  int edit_id;
  int prompt_id;
  int limit;
  bool four_digits;
  std::optional<std::string> result;
  std::wstring caption = {};  // empty: the template's
  std::wstring initial = {};
};

INT_PTR CALLBACK LineProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = StateOf<LineState>(dialog, message, lparam);
  if (state == nullptr) return FALSE;
  return Guarded(dialog, [&]() -> INT_PTR {
    switch (message) {
      case WM_INITDIALOG:
        SetText(::GetDlgItem(dialog, state->prompt_id), state->prompt);
        if (!state->caption.empty()) SetText(dialog, state->caption);
        ::SendDlgItemMessageW(dialog, state->edit_id, EM_SETLIMITTEXT, static_cast<WPARAM>(state->limit), 0);
        if (!state->initial.empty()) {
          SetText(::GetDlgItem(dialog, state->edit_id), state->initial);
          ::SendDlgItemMessageW(dialog, state->edit_id, EM_SETSEL, 0, -1);
        }
        return TRUE;
      case WM_COMMAND:
        if (LOWORD(wparam) == IDOK) {
          std::string text = ItemText(dialog, state->edit_id);
          if (state->four_digits &&
              (text.size() != 4 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))) {
            Warn(dialog, "请输入手机号码的后四位数字。");
            return TRUE;
          }
          state->result = std::move(text);
          ::EndDialog(dialog, IDOK);
          return TRUE;
        }
        if (LOWORD(wparam) == IDCANCEL) {
          ::EndDialog(dialog, IDCANCEL);
          return TRUE;
        }
        return FALSE;
      default:
        return FALSE;
    }
  });
}

// ---- 批量添加

constexpr std::array<int, 6> kPreviewWidths = {48, 130, 90, 90, 60, 150};  // at 96 dpi
constexpr std::array<const wchar_t*, 6> kPreviewHeads = {L"行", L"单号", L"快递公司", L"备注", L"手机后四位", L"结果"};
// A preview longer than this shows its first lines; 添加 still takes all.
constexpr std::size_t kPreviewLines = 1000;

struct BulkState {
  BulkAddHost& host;
  std::wstring text;
};

void InsertPreviewColumns(HWND list) {
  ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  const int dpi = static_cast<int>(DpiOfWindow(list));
  for (std::size_t column = 0; column < kPreviewHeads.size(); ++column) {
    LVCOLUMNW head{};
    head.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    head.pszText = const_cast<wchar_t*>(kPreviewHeads[column]);
    head.cx = ::MulDiv(kPreviewWidths[column], dpi, USER_DEFAULT_SCREEN_DPI);
    head.iSubItem = static_cast<int>(column);
    if (ListView_InsertColumn(list, static_cast<int>(column), &head) < 0) ThrowWin32("LVM_INSERTCOLUMN");
  }
}

void ShowPreview(HWND dialog, BulkAddHost& host) {
  const HWND list = Item(dialog, QZ_LIST_BULK_PREVIEW);
  const std::vector<ImportLine> lines = host.Preview(Narrow(WindowText(Item(dialog, QZ_EDIT_BULK))));
  ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  const auto redraw = scope_exit([list] {
    ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list, nullptr, TRUE);
  });
  ListView_DeleteAllItems(list);
  std::size_t adding = 0;
  for (const ImportLine& line : lines) {
    if (line.verdict == ImportLine::Verdict::kNew) ++adding;
  }
  for (std::size_t row = 0; row < lines.size() && row < kPreviewLines; ++row) {
    const std::array<std::string, 6> cells = PreviewCells(lines[row]);
    std::wstring first = Widen(cells[0]);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(row);
    item.pszText = first.data();
    if (ListView_InsertItem(list, &item) < 0) ThrowWin32("LVM_INSERTITEM");
    for (std::size_t column = 1; column < cells.size(); ++column) {
      std::wstring cell = Widen(cells[column]);
      ListView_SetItemText(list, static_cast<int>(row), static_cast<int>(column), cell.data());
    }
  }
  const std::wstring verdict = lines.empty() ? std::wstring()
                                             : Widen("共 " + std::to_string(lines.size()) + " 行，其中 " +
                                                     std::to_string(adding) + " 个单号会加入关注列表。");
  SetText(Item(dialog, QZ_TEXT_BULK_STATUS), verdict);
  ::EnableWindow(Item(dialog, IDOK), adding > 0 ? TRUE : FALSE);
}

INT_PTR CALLBACK BulkProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = StateOf<BulkState>(dialog, message, lparam);
  if (state == nullptr) return FALSE;
  return Guarded(dialog, [&]() -> INT_PTR {
    switch (message) {
      case WM_INITDIALOG: {
        InsertPreviewColumns(Item(dialog, QZ_LIST_BULK_PREVIEW));
        // No limit but memory: a seller's day of parcels is pasted at once.
        ::SendDlgItemMessageW(dialog, QZ_EDIT_BULK, EM_SETLIMITTEXT, 0, 0);
        SetText(Item(dialog, QZ_EDIT_BULK), state->text);
        ShowPreview(dialog, state->host);
        ::SetFocus(Item(dialog, QZ_EDIT_BULK));
        return FALSE;  // the focus is set
      }
      case WM_COMMAND:
        if (LOWORD(wparam) == QZ_EDIT_BULK && HIWORD(wparam) == EN_CHANGE) {
          ShowPreview(dialog, state->host);
          return TRUE;
        }
        if (LOWORD(wparam) == IDOK) {
          const BulkAddHost::Added added = state->host.Add(Narrow(WindowText(Item(dialog, QZ_EDIT_BULK))));
          if (added.kept.empty()) {
            ::EndDialog(dialog, IDOK);
            return TRUE;
          }
          // What was not added stays, for the user to mend.
          SetText(Item(dialog, QZ_EDIT_BULK), Widen(added.kept));
          ShowPreview(dialog, state->host);
          SetText(Item(dialog, QZ_TEXT_BULK_STATUS), Widen(added.told));
          ::SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(dialog, QZ_EDIT_BULK)), TRUE);
          return TRUE;
        }
        if (LOWORD(wparam) == IDCANCEL) {
          ::EndDialog(dialog, IDCANCEL);
          return TRUE;
        }
        return FALSE;
      default:
        return FALSE;
    }
  });
}

template <typename State>
void Run(HINSTANCE instance, HWND owner, int dialog_id, DLGPROC procedure, State& state) {
  if (::DialogBoxParamW(instance, MAKEINTRESOURCEW(dialog_id), owner, procedure,
                        reinterpret_cast<LPARAM>(&state)) == -1) {
    ThrowWin32("DialogBoxParamW");
  }
}

}  // namespace

void ShowMessageBox(HWND owner, std::string_view prompt, std::string_view title) {
  if (::MessageBoxW(owner, Widen(prompt).c_str(), Widen(title).c_str(), MB_OK) == 0) ThrowWin32("MessageBoxW");
}

bool AskOkCancelBox(HWND owner, std::string_view prompt, std::string_view title) {
  const int answer = ::MessageBoxW(owner, Widen(prompt).c_str(), Widen(title).c_str(), MB_OKCANCEL);
  if (answer == 0) ThrowWin32("MessageBoxW");
  return answer == IDOK;
}

std::optional<AccountSettings> AskAccountDialog(HINSTANCE instance, HWND owner, const AccountSettings& current) {
  AccountsState state{current, current.accounts.order, {}, std::nullopt};
  Run(instance, owner, QZ_DIALOG_CREDENTIALS, AccountsProc, state);
  return state.result;
}

std::optional<std::string> AskPhoneDialog(HINSTANCE instance, HWND owner, std::string_view carrier_name,
                                          std::string_view number) {
  LineState state{Widen(std::string(carrier_name) + " 单号 " + std::string(number) +
                        " 需要核对手机号。请输入寄件人或收件人手机号码的后四位："),
                  QZ_EDIT_PHONE, QZ_TEXT_PHONE_PROMPT, 4, true, std::nullopt};
  Run(instance, owner, QZ_DIALOG_PHONE, LineProc, state);
  return state.result;
}

std::optional<std::string> AskNoteDialog(HINSTANCE instance, HWND owner, std::string_view number) {
  LineState state{Widen("单号 " + std::string(number) + " 的备注（可不填），例如“妈妈的快递”："),
                  QZ_EDIT_NOTE, QZ_TEXT_NOTE_PROMPT, kNoteLimit, false, std::nullopt};
  Run(instance, owner, QZ_DIALOG_WATCH_NOTE, LineProc, state);
  return state.result;
}

std::optional<std::string> AskListNoteDialog(HINSTANCE instance, HWND owner, std::string_view about,
                                             std::string_view current) {
  LineState state{Widen(std::string(about) + " 的备注（留空则清除备注）："), QZ_EDIT_NOTE, QZ_TEXT_NOTE_PROMPT,
                  kNoteLimit, false, std::nullopt, L"修改备注", Widen(current)};
  Run(instance, owner, QZ_DIALOG_WATCH_NOTE, LineProc, state);
  return state.result;
}

std::optional<std::string> AskListPhoneDialog(HINSTANCE instance, HWND owner, std::string_view carrier_name,
                                              std::string_view about) {
  LineState state{Widen(std::string(carrier_name) + " " + std::string(about) +
                        "：请输入寄件人或收件人手机号码的后四位："),
                  QZ_EDIT_PHONE, QZ_TEXT_PHONE_PROMPT, 4, true, std::nullopt, L"手机后四位"};
  Run(instance, owner, QZ_DIALOG_PHONE, LineProc, state);
  return state.result;
}

void BulkAddDialog(HINSTANCE instance, HWND owner, BulkAddHost& host, std::string_view text) {
  BulkState state{host, Widen(text)};
  Run(instance, owner, QZ_DIALOG_BULK_ADD, BulkProc, state);
}

}  // namespace quenzil
