#include "app/account_boxes.h"

#include <gtest/gtest.h>

namespace quenzil {
namespace {

AccountSettings Stored() {
  return {.accounts = {{"C1", "k100-secret"}, {"1900001", "kdn-secret", true}, {"app-secret"}}};
}

// What the dialog shows of the stored accounts: IDs, never a secret.
AccountBoxes Shown() {
  return {.kuaidi100_customer = "C1", .kdniao_id = "1900001", .kdniao_paid = true,
          .order = {"appcode", "kdniao", "kuaidi100"}};
}

TEST(AccountBoxes, EmptySecretsKeepTheStoredOnesAndClearedServicesGo) {
  AccountCheck check = CheckAccountBoxes(Stored(), Shown());
  ASSERT_TRUE(check.settings) << check.problem;
  EXPECT_EQ(check.settings->accounts, (Accounts{{"C1", "k100-secret"}, {"1900001", "kdn-secret", true}, {"app-secret"},
                                                {"appcode", "kdniao", "kuaidi100"}}));

  // 清除 everywhere: the accounts go, 快递鸟's paid tier too; one typed anew after 清除 is taken.
  AccountBoxes boxes = Shown();
  boxes.kuaidi100_customer.clear();
  boxes.kuaidi100_cleared = boxes.kdniao_cleared = boxes.appcode_cleared = true;
  boxes.kdniao_key = "new-key";
  check = CheckAccountBoxes(Stored(), boxes);
  ASSERT_TRUE(check.settings) << check.problem;
  EXPECT_FALSE(check.settings->accounts.kuaidi100.complete() || check.settings->accounts.appcode.complete());
  EXPECT_EQ(check.settings->accounts.kdniao, (KdniaoAccount{"1900001", "new-key", true}));
  boxes.kdniao_id = boxes.kdniao_key = "";
  EXPECT_FALSE(CheckAccountBoxes(Stored(), boxes).settings->accounts.kdniao.paid);
}

TEST(AccountBoxes, HalfAnAccountIsRefusedWithTheBoxToFill) {
  const struct {
    const char* what;
    void (*change)(AccountBoxes&);
    AccountBox box;
  } cases[] = {
      {"the stored key kept, its customer erased", [](AccountBoxes& b) { b.kuaidi100_customer.clear(); },
       AccountBox::kKuaidi100Customer},
      {"cleared, the customer left", [](AccountBoxes& b) { b.kuaidi100_cleared = true; }, AccountBox::kKuaidi100Key},
      {"a 快递鸟 ID without its key", [](AccountBoxes& b) { b.kdniao_id = "1900002", b.kdniao_cleared = true; },
       AccountBox::kKdniaoKey},
  };
  for (const auto& row : cases) {
    AccountBoxes boxes = Shown();
    row.change(boxes);
    const AccountCheck check = CheckAccountBoxes(Stored(), boxes);
    EXPECT_FALSE(check.settings) << row.what;
    EXPECT_EQ(check.box, row.box) << row.what;
    EXPECT_NE(check.problem.find(row.box == AccountBox::kKdniaoKey ? "快递鸟" : "快递100"), std::string::npos) << row.what;
  }
}

}  // namespace
}  // namespace quenzil
