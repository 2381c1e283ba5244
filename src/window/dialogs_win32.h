// The modal dialogs of the program: 查询服务账号, the phone's last four
// digits, the note of a watched parcel, 批量添加.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "app/form_view.h"
#include "app/watch_list_view.h"
#include "query/services/kuaidi100.h"

namespace quenzil {

// Message boxes of the program's windows: OK only, and OK or Cancel (true:
// OK).
void ShowMessageBox(HWND owner, std::string_view prompt, std::string_view title);
bool AskOkCancelBox(HWND owner, std::string_view prompt, std::string_view title);

// nullopt: cancelled; an account left incomplete: the user removed it.
std::optional<AccountSettings> AskAccountDialog(HINSTANCE instance, HWND owner, const AccountSettings& current);
// Exactly four digits, or nullopt when cancelled.
std::optional<std::string> AskPhoneDialog(HINSTANCE instance, HWND owner, std::string_view carrier_name,
                                          std::string_view number);
// The note (may be empty), or nullopt when cancelled.
std::optional<std::string> AskNoteDialog(HINSTANCE instance, HWND owner, std::string_view number);
// 关注列表's 修改备注 (starting from the current note) and 手机后四位 (exactly
// four digits) of the parcels selected; nullopt when cancelled.
std::optional<std::string> AskListNoteDialog(HINSTANCE instance, HWND owner, std::string_view about,
                                             std::string_view current);
std::optional<std::string> AskListPhoneDialog(HINSTANCE instance, HWND owner, std::string_view carrier_name,
                                              std::string_view about);
// 批量添加: the box starts with the text; the host says what each line
// becomes and adds them.
void BulkAddDialog(HINSTANCE instance, HWND owner, BulkAddHost& host, std::string_view text);

}  // namespace quenzil
