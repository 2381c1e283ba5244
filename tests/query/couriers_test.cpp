#include "query/couriers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "query/carriers.h"

namespace quenzil {
namespace {

// One row per shape of the table, and the shapes that share numbers: the
// couriers expected first, best first (empty: no guess), and whether the
// guess is certain.
struct GuessRow {
  const char* number;
  const char* leading;
  bool certain;
};
constexpr GuessRow kGuessRows[] = {
    {"75312098764412", "zhongtong", false},
    {"YT2588814371952", "yuantong", true},
    {"463431409940372", "yunda", false},
    {"3950055201640", "yunda", false},
    {"773039762404825", "shentong", false},
    {"77316523125896", "shentong", false},
    {"268123456789", "zhongtongkuaiyun shentong shunfeng quanfengkuaidi", false},
    {"888123456789", "tiantian shentong shunfeng quanfengkuaidi", false},
    {"jt5261988016578", "jtexpress", true},
    {"SF1408823456721", "shunfeng", true},
    {"012345678901", "shunfeng quanfengkuaidi", false},
    {"9893452312456", "youzhengguonei", false},
    {"1207119765021", "youzhengguonei yunda", false},
    {"4309597495550", "yunda youzhengguonei", false},
    {"PA12345678901", "youzhengguonei", true},
    {"JDVA11408814483", "jd", true},
    {"1100123456789", "ems youzhengguonei yunda", false},
    {"5012345678901", "yunda ems", false},
    {"9512345678901", "ems", false},
    {"em263999513jp", "ems", true},
    {"621234567890123", "danniao", false},
    {"DPK202252612836", "debangkuaidi", true},
    {"FW1234567890123", "fengwang", true},
    {"300527476792", "annengwuliu shunfeng quanfengkuaidi", false},
    {"202197601431", "zhongtongkuaiyun shunfeng quanfengkuaidi", false},
    {"106027097895", "yimidida shunfeng quanfengkuaidi", false},
    {"ZJS001234567890", "zhaijisong", true},
    {"A123456789012", "zhaijisong", true},
    {"4212345678", "zhaijisong debangwuliu dhl", false},
    {"1612345678", "zhaijisong debangwuliu dhl", false},
    {"VIP123456789", "youshuwuliu", true},
    {"V12345678901", "youshuwuliu", true},
    {"900112345678", "youshuwuliu shunfeng quanfengkuaidi", false},
    {"12345678", "debangwuliu", false},
    {"1234567890", "debangwuliu dhl", false},
    {"SUR123456789012", "suer", true},
    {"55123456789012", "huitongkuaidi", false},
    {"0212345678901", "huitongkuaidi", false},
    {"TT6612345678901", "tiantian", true},
    {"661234567890", "tiantian shunfeng quanfengkuaidi", false},
    {"995123456789", "tiantian shunfeng quanfengkuaidi", false},
    {"RR123456789CN", "youzhengguoji", true},
    {"1Z999AA10123456784", "ups", true},
    {"YT9", "", false},
};

TEST(Couriers, TheGuessRanksEveryShapeAndEveryNameFindsItsCourier) {
  for (const GuessRow& row : kGuessRows) {
    const std::vector<CourierGuess> guesses = GuessCouriers(row.number);
    std::string codes;
    for (const CourierGuess& guess : guesses) codes.append(guess.courier->code).append(" ");
    EXPECT_EQ(*row.leading ? codes.rfind(std::string(row.leading) + " ", 0) : codes.size(), 0u) << row.number << codes;
    EXPECT_EQ(!guesses.empty() && guesses.front().certain, row.certain) << row.number;
  }
  for (const Courier& courier : Couriers()) {
    for (const NumberShape& shape : courier.shapes) {
      const auto covers = [&](const GuessRow& row) { return MatchesShape(shape.pattern, row.number); };
      EXPECT_TRUE(shape.pattern.empty() || std::any_of(std::begin(kGuessRows), std::end(kGuessRows), covers))
          << "no row for " << shape.pattern;
    }
    for (const std::string_view name : courier.aliases) EXPECT_TRUE(name.empty() || FindCourierNamed(name) == &courier);
    EXPECT_EQ(FindCourierNamed(courier.name), &courier);
    EXPECT_EQ(FindCourierNamed(courier.code), &courier);
    EXPECT_EQ(CarrierName(courier.code, "detected"), courier.name);
  }
  EXPECT_EQ(FindCourierNamed("zto"), FindCourierNamed("中通快递")) << "short names in any case";
  EXPECT_EQ(ClosestCourierNames("yuantnog", 1), std::vector<std::string_view>{"圆通速递"});
  // A name that holds what was typed comes before any near spelling.
  EXPECT_EQ(ClosestCourierNames("快运"), (std::vector<std::string_view>{"安能快运", "百世快运", "中通快运"}));
  EXPECT_EQ(ClosestCourierNames("兔快", 1), std::vector<std::string_view>{"极兔速递"});
  // 其他快递公司: every courier once, either there or on a button.
  for (const Courier& courier : Couriers()) {
    const bool button = std::any_of(CarrierTable.begin(), CarrierTable.end(),
                                    [&](const Carrier& carrier) { return carrier.service_code == courier.code; });
    EXPECT_EQ(std::count(OtherCouriers().begin(), OtherCouriers().end(), &courier), button ? 0 : 1) << courier.code;
  }
  // Type-to-find in 其他快递公司 knows the short names too.
  for (const auto& [typed, code] : {std::pair{"dpk", "debangkuaidi"}, {"j&t", "jtexpress"}, {"丹鸟", "danniao"}}) {
    EXPECT_EQ(OtherCouriers().at(OtherCourierStartingWith(typed).value())->code, code) << typed;
  }
  EXPECT_EQ(CarrierName("zhongtongguoji", "中通国际") + CarrierName("zhongtongguoji"), "中通国际zhongtongguoji");
}

}  // namespace
}  // namespace quenzil
