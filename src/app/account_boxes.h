// What the 查询服务账号 dialog's boxes hold when 确定 is pressed, and the
// accounts they come to. A secret box starts empty: left empty it keeps the
// stored secret, unless that service's 清除 was pressed. Half an account
// (an ID without its key, say) is refused with what to do and the box to
// go to. Portable: the dialog only reads its boxes into this and back.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/form_view.h"

namespace quenzil {

struct AccountBoxes {
  // Texts as typed, blanks around them taken off.
  std::string kuaidi100_customer;
  std::string kuaidi100_key;
  std::string kdniao_id;
  std::string kdniao_key;
  bool kdniao_paid = false;
  std::string appcode;
  // 清除 pressed for the service: nothing stored of it is kept.
  bool kuaidi100_cleared = false;
  bool kdniao_cleared = false;
  bool appcode_cleared = false;
  std::vector<std::string> order;  // service keys, as the list shows them
  RefreshMode refresh = RefreshMode::kSmart;
};

// The box the user is sent back to.
enum class AccountBox { kNone, kKuaidi100Customer, kKuaidi100Key, kKdniaoId, kKdniaoKey };

struct AccountCheck {
  std::optional<AccountSettings> settings;  // every account whole or left out
  std::string problem;                      // else what to tell
  AccountBox box = AccountBox::kNone;
};

AccountCheck CheckAccountBoxes(const AccountSettings& current, const AccountBoxes& boxes);

}  // namespace quenzil
