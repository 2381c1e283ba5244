#include "app/account_boxes.h"

#include <gtest/gtest.h>

namespace quenzil {
namespace {

AccountSettings Stored() {
  AccountSettings current;
  current.accounts.kuaidi100 = {"C1", "k100-secret"};
  current.accounts.kdniao = {"1900001", "kdn-secret", true};
  current.accounts.appcode = {"app-secret"};
  return current;
}

// What the dialog shows of the stored accounts: IDs, never a secret.
AccountBoxes Shown() {
  AccountBoxes boxes;
  boxes.kuaidi100_customer = "C1";
  boxes.kdniao_id = "1900001";
  boxes.kdniao_paid = true;
  boxes.order = {"appcode", "kdniao", "kuaidi100"};
  boxes.refresh = RefreshMode::kHourly;
  return boxes;
}

TEST(AccountBoxes, EmptySecretsKeepTheStoredOnesAndClearedServicesGo) {
  AccountCheck check = CheckAccountBoxes(Stored(), Shown());
  ASSERT_TRUE(check.settings) << check.problem;
  EXPECT_EQ(check.settings->accounts.kuaidi100, (Credentials{"C1", "k100-secret"}));
  EXPECT_EQ(check.settings->accounts.kdniao, (KdniaoAccount{"1900001", "kdn-secret", true}));
  EXPECT_EQ(check.settings->accounts.appcode.code, "app-secret");
  EXPECT_EQ(check.settings->accounts.order, (std::vector<std::string>{"appcode", "kdniao", "kuaidi100"}));
  EXPECT_EQ(check.settings->refresh, RefreshMode::kHourly);

  // A new secret typed replaces the stored one.
  AccountBoxes boxes = Shown();
  boxes.appcode = "new-code";
  EXPECT_EQ(CheckAccountBoxes(Stored(), boxes).settings->accounts.appcode.code, "new-code");

  // 清除 and nothing typed after: the account goes, its paid tier too.
  boxes = Shown();
  boxes.kuaidi100_customer.clear();
  boxes.kdniao_id.clear();
  boxes.kuaidi100_cleared = boxes.kdniao_cleared = boxes.appcode_cleared = true;
  check = CheckAccountBoxes(Stored(), boxes);
  ASSERT_TRUE(check.settings) << check.problem;
  EXPECT_FALSE(check.settings->accounts.any());
  EXPECT_FALSE(check.settings->accounts.kdniao.paid);

  // 清除, then a new account typed in its place.
  boxes.kdniao_id = "1900002";
  boxes.kdniao_key = "other";
  EXPECT_EQ(CheckAccountBoxes(Stored(), boxes).settings->accounts.kdniao, (KdniaoAccount{"1900002", "other", true}));
}

TEST(AccountBoxes, HalfAnAccountIsRefusedWithTheBoxToFill) {
  const struct {
    const char* what;
    AccountSettings current;
    void (*change)(AccountBoxes&);
    AccountBox box;
  } cases[] = {
      {"a customer without a key", {}, [](AccountBoxes& b) { b.kuaidi100_customer = "C2"; },
       AccountBox::kKuaidi100Key},
      {"a key without a customer", {}, [](AccountBoxes& b) { b.kuaidi100_key = "k"; },
       AccountBox::kKuaidi100Customer},
      {"the stored key kept, its customer erased", Stored(), [](AccountBoxes& b) { b.kuaidi100_customer.clear(); },
       AccountBox::kKuaidi100Customer},
      {"cleared, then only the customer typed again", Stored(),
       [](AccountBoxes& b) { b.kuaidi100_cleared = true; }, AccountBox::kKuaidi100Key},
      {"a 快递鸟 ID without its key", {}, [](AccountBoxes& b) { b.kdniao_id = "1900001"; }, AccountBox::kKdniaoKey},
      {"a 快递鸟 key without its ID", Stored(), [](AccountBoxes& b) { b.kdniao_id.clear(); }, AccountBox::kKdniaoId},
  };
  for (const auto& row : cases) {
    AccountBoxes boxes = row.current.accounts.any() ? Shown() : AccountBoxes{};
    row.change(boxes);
    const AccountCheck check = CheckAccountBoxes(row.current, boxes);
    EXPECT_FALSE(check.settings) << row.what;
    EXPECT_EQ(check.box, row.box) << row.what;
    const bool kuaidi100 = row.box == AccountBox::kKuaidi100Customer || row.box == AccountBox::kKuaidi100Key;
    EXPECT_NE(check.problem.find(kuaidi100 ? "快递100" : "快递鸟"), std::string::npos) << row.what;
  }
}

}  // namespace
}  // namespace quenzil
