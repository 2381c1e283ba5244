#include "window/dialogs_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "app/texts.h"
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
  ::MessageBoxW(dialog, Widen(prompt).c_str(), Widen(kSystemNoticeTitle).c_str(), MB_OK | MB_ICONINFORMATION);
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

struct CredentialsState {
  AccountSettings current;
  std::optional<AccountSettings> result;
};

// The choices of 自动刷新, in the order the list shows them.
constexpr RefreshMode kRefreshChoices[] = {RefreshMode::kSmart, RefreshMode::kHourly, RefreshMode::kOff};
constexpr const wchar_t* kRefreshChoiceTexts[] = {L"智能（推荐）", L"每小时", L"关闭"};

void FillRefreshChoices(HWND dialog, RefreshMode current) {
  const HWND combo = ::GetDlgItem(dialog, QZ_COMBO_REFRESH);
  for (std::size_t index = 0; index < std::size(kRefreshChoices); ++index) {
    if (::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kRefreshChoiceTexts[index])) < 0) {
      ThrowWin32("CB_ADDSTRING");
    }
    if (kRefreshChoices[index] == current) ::SendMessageW(combo, CB_SETCURSEL, index, 0);
  }
}

RefreshMode ChosenRefresh(HWND dialog, RefreshMode fallback) {
  const LRESULT chosen = ::SendDlgItemMessageW(dialog, QZ_COMBO_REFRESH, CB_GETCURSEL, 0, 0);
  if (chosen < 0 || static_cast<std::size_t>(chosen) >= std::size(kRefreshChoices)) return fallback;
  return kRefreshChoices[chosen];
}

INT_PTR CALLBACK CredentialsProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = StateOf<CredentialsState>(dialog, message, lparam);
  if (state == nullptr) return FALSE;
  return Guarded(dialog, [&]() -> INT_PTR {
    switch (message) {
      case WM_INITDIALOG:
        SetText(::GetDlgItem(dialog, QZ_EDIT_CUSTOMER), Widen(state->current.accounts.kuaidi100.customer));
        FillRefreshChoices(dialog, state->current.refresh);
        SetText(::GetDlgItem(dialog, QZ_TEXT_QUERY_COUNT),
                Widen("本月已查询 " + std::to_string(state->current.queries_this_month[0]) + " 次"));
        // The stored key is never put back into a window, masked or not:
        // left empty, it stays as it is.
        if (!state->current.accounts.kuaidi100.key.empty()) {
          ::SendDlgItemMessageW(dialog, QZ_EDIT_KEY, EM_SETCUEBANNER, TRUE,
                                reinterpret_cast<LPARAM>(L"已保存；留空则不变"));
        }
        return TRUE;
      case WM_COMMAND:
        switch (LOWORD(wparam)) {
          case IDOK: {
            AccountSettings entered = state->current;
            entered.accounts.kuaidi100 = {ItemText(dialog, QZ_EDIT_CUSTOMER), ItemText(dialog, QZ_EDIT_KEY)};
            if (entered.accounts.kuaidi100.key.empty()) entered.accounts.kuaidi100.key = state->current.accounts.kuaidi100.key;
            if (!entered.accounts.kuaidi100.complete()) {
              Warn(dialog, "请填写公司编号和授权key。要改回原来的查询方式，请按“清除授权”。");
              return TRUE;
            }
            entered.refresh = ChosenRefresh(dialog, state->current.refresh);
            state->result = std::move(entered);
            ::EndDialog(dialog, IDOK);
            return TRUE;
          }
          case QZ_BUTTON_REMOVE_CREDENTIALS: {
            AccountSettings removed = state->current;
            removed.accounts.kuaidi100 = {};
            removed.refresh = ChosenRefresh(dialog, state->current.refresh);
            state->result = std::move(removed);
            ::EndDialog(dialog, IDOK);
            return TRUE;
          }
          case IDCANCEL:
            ::EndDialog(dialog, IDCANCEL);
            return TRUE;
          default:
            return FALSE;
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
};

INT_PTR CALLBACK LineProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = StateOf<LineState>(dialog, message, lparam);
  if (state == nullptr) return FALSE;
  return Guarded(dialog, [&]() -> INT_PTR {
    switch (message) {
      case WM_INITDIALOG:
        SetText(::GetDlgItem(dialog, state->prompt_id), state->prompt);
        ::SendDlgItemMessageW(dialog, state->edit_id, EM_SETLIMITTEXT, static_cast<WPARAM>(state->limit), 0);
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

template <typename State>
void Run(HINSTANCE instance, HWND owner, int dialog_id, DLGPROC procedure, State& state) {
  if (::DialogBoxParamW(instance, MAKEINTRESOURCEW(dialog_id), owner, procedure,
                        reinterpret_cast<LPARAM>(&state)) == -1) {
    ThrowWin32("DialogBoxParamW");
  }
}

}  // namespace

std::optional<AccountSettings> AskAccountDialog(HINSTANCE instance, HWND owner, const AccountSettings& current) {
  CredentialsState state{current, std::nullopt};
  Run(instance, owner, QZ_DIALOG_CREDENTIALS, CredentialsProc, state);
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

}  // namespace quenzil
