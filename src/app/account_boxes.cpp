#include "app/account_boxes.h"

namespace quenzil {

namespace {

// The secret that goes on: the one typed, else the stored one unless cleared.
std::string SecretOf(const std::string& typed, const std::string& stored, bool cleared) {
  if (!typed.empty()) return typed;
  return cleared ? std::string() : stored;
}

}  // namespace

AccountCheck CheckAccountBoxes(const AccountSettings& current, const AccountBoxes& boxes) {
  AccountCheck check;
  AccountSettings entered = current;
  const Accounts& stored = current.accounts;

  entered.accounts.kuaidi100 = {boxes.kuaidi100_customer,
                                SecretOf(boxes.kuaidi100_key, stored.kuaidi100.key, boxes.kuaidi100_cleared)};
  const Credentials& kuaidi100 = entered.accounts.kuaidi100;
  if (kuaidi100.customer.empty() != kuaidi100.key.empty()) {
    check.problem = "请把快递100的公司编号和授权key都填上；不用快递100时，请按它旁边的“清除”。";
    check.box = kuaidi100.customer.empty() ? AccountBox::kKuaidi100Customer : AccountBox::kKuaidi100Key;
    return check;
  }

  KdniaoAccount& kdniao = entered.accounts.kdniao;
  kdniao.id = boxes.kdniao_id;
  kdniao.key = SecretOf(boxes.kdniao_key, stored.kdniao.key, boxes.kdniao_cleared);
  if (kdniao.id.empty() != kdniao.key.empty()) {
    check.problem = "请把快递鸟的用户ID和API key都填上；不用快递鸟时，请按它旁边的“清除”。";
    check.box = kdniao.id.empty() ? AccountBox::kKdniaoId : AccountBox::kKdniaoKey;
    return check;
  }
  // A removed account keeps nothing, its request type neither.
  kdniao.paid = kdniao.complete() && boxes.kdniao_paid;

  entered.accounts.appcode.code = SecretOf(boxes.appcode, stored.appcode.code, boxes.appcode_cleared);
  entered.accounts.order = ParseServiceOrder(ServiceOrderText(boxes.order));
  entered.refresh = boxes.refresh;
  check.settings = std::move(entered);
  return check;
}

}  // namespace quenzil
