// The small modal dialogs of the program: 查询服务账号, the phone's last
// four digits, the note of a watched parcel.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>

#include "app/form_view.h"
#include "query/services/kuaidi100.h"

namespace quenzil {

// nullopt: cancelled; an account left incomplete: the user removed it.
std::optional<AccountSettings> AskAccountDialog(HINSTANCE instance, HWND owner, const AccountSettings& current);
// Exactly four digits, or nullopt when cancelled.
std::optional<std::string> AskPhoneDialog(HINSTANCE instance, HWND owner, std::string_view carrier_name,
                                          std::string_view number);
// The note (may be empty), or nullopt when cancelled.
std::optional<std::string> AskNoteDialog(HINSTANCE instance, HWND owner, std::string_view number);

}  // namespace quenzil
