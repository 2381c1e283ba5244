#include "query/couriers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "query/carriers.h"

namespace quenzil {
namespace {

std::vector<std::string> Words(std::string_view text) {
  std::istringstream words{std::string(text)};
  return {std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
}

// Every shape of the table, written out as the couriers print their
// numbers: each length a shape takes, each member of its sets. Every number
// of a row has the couriers expected first, best first (empty: no guess),
// and the guess is certain or not alike.
struct GuessRow {
  const char* numbers;
  const char* leading;
  bool certain;
};
constexpr GuessRow kGuessRows[] = {
    {"73123456789012 74123456789012 75312098764412 76123456789012 78123456789012", "zhongtong", false},
    {"YT2588814371952", "yuantong", true},
    {"363431409940372 463431409940372 1312345678901 3950055201640 5512345678901", "yunda", false},
    {"773039762404825 77316523125896", "shentong", false},
    {"268123456789", "zhongtongkuaiyun shentong shunfeng quanfengkuaidi", false},
    {"968123456789 588123456789 688123456789", "shentong shunfeng quanfengkuaidi", false},
    {"888123456789", "tiantian shentong shunfeng quanfengkuaidi", false},
    {"JT526198801657 jt5261988016578", "jtexpress", true},
    {"SF0408823456721 SF1408823456721 SFZ408823456721", "shunfeng", true},
    {"012345678901", "shunfeng quanfengkuaidi", false},
    {"9612345678901 9893452312456 9912345678901", "youzhengguonei", false},
    {"1207119765021", "youzhengguonei yunda", false},
    {"4309597495550", "yunda youzhengguonei", false},
    {"PA12345678901 PZ12345678901", "youzhengguonei", true},
    {"JDVA11408814483 JD0912345678901 JDZZ12345678901", "jd", true},
    {"1100123456789", "ems youzhengguonei yunda", false},
    {"1012345678901", "ems yunda", false},
    {"5012345678901 5112345678901", "yunda ems", false},
    {"9512345678901 9712345678901", "ems", false},
    {"em263999513jp EA123456789ZA EZ123456789AZ", "ems", true},
    {"621234567890123", "danniao", false},
    {"DPK202252612836", "debangkuaidi", true},
    {"FW1234567890 FW12345678901 FW123456789012 FW1234567890123 FW12345678901234 FW123456789012345", "fengwang", true},
    {"300527476792", "annengwuliu shunfeng quanfengkuaidi", false},
    {"202197601431", "zhongtongkuaiyun shunfeng quanfengkuaidi", false},
    {"106027097895", "yimidida shunfeng quanfengkuaidi", false},
    {"ZJS001234567890 A123456789012", "zhaijisong", true},
    {"4212345678 1612345678", "zhaijisong debangwuliu dhl", false},
    {"VIP123456789 V12345678901", "youshuwuliu", true},
    {"900112345678", "youshuwuliu shunfeng quanfengkuaidi", false},
    {"12345678 123456789", "debangwuliu", false},
    {"1234567890", "debangwuliu dhl", false},
    {"SUR123456789012", "suer", true},
    {"55123456789012 551234567890123 0012345678901 0212345678901", "huitongkuaidi", false},
    {"TT6612345678901", "tiantian", true},
    {"661234567890 995123456789 998123456789", "tiantian shunfeng quanfengkuaidi", false},
    {"RR123456789CN RA123456789CN RZ123456789CN", "youzhengguoji", true},
    {"1Z999AA10123456784 1Z0000000000000000 1ZZZZZZZZZZZZZZZZZ", "ups", true},
    {"YT9", "", false},
};

// Every courier as users and the README write it: the code, the full name,
// every short name; and the pinyin --courier refuses, pointing back to it.
struct NamesRow {
  const char* code;
  const char* names;  // the full name first
  const char* pinyin;
};
constexpr NamesRow kNamesRows[] = {
    {"zhongtong", "中通快递 中通 中通速递 ZTO", "zhongtongkuaidi zhongtongsudi"},
    {"yuantong", "圆通速递 圆通 圆通快递 YTO", "yuantongsudi yuantongkuaidi"},
    {"yunda", "韵达快递 韵达 韵达速递 YD", "yundakuaidi yundasudi"},
    {"shentong", "申通快递 申通 STO", "shentongkuaidi"},
    {"jtexpress", "极兔速递 极兔 极兔快递 J&T JT", "jitusudi jitu jitukuaidi"},
    {"shunfeng", "顺丰速运 顺丰 顺丰快递 SF", "shunfengsuyun shunfengkuaidi"},
    {"youzhengguonei", "邮政快递包裹 邮政 邮政包裹 邮政快递 中国邮政",
     "youzhengkuaidibaoguo youzheng youzhengbaoguo youzhengkuaidi zhongguoyouzheng"},
    {"jd", "京东物流 京东 京东快递 JD", "jingdongwuliu jingdong jingdongkuaidi"},
    {"ems", "EMS 邮政EMS 中国邮政EMS E邮宝", "youzhengems zhongguoyouzhengems"},
    {"danniao", "菜鸟速递 菜鸟 丹鸟 丹鸟快递", "cainiaosudi cainiao danniaokuaidi"},
    {"debangkuaidi", "德邦快递 德邦 DPK", "debang"},
    {"fengwang", "丰网速运 丰网 丰网快递", "fengwangsuyun fengwangkuaidi"},
    {"zhongyouex", "众邮快递 众邮", "zhongyoukuaidi zhongyou"},
    {"annengwuliu", "安能快运 安能 安能物流 安能快递", "annengkuaiyun anneng annengkuaidi"},
    {"baishiwuliu", "百世快运", "baishikuaiyun"},
    {"kuayue", "跨越速运 跨越 跨越快递", "kuayuesuyun kuayuekuaidi"},
    {"zhongtongkuaiyun", "中通快运", ""},
    {"yimidida", "壹米滴答 壹米", "yimi"},
    {"sxjdfreight", "顺心捷达 顺心", "shunxinjieda shunxin"},
    {"yundakuaiyun", "韵达快运", ""},
    {"jingdongkuaiyun", "京东快运", ""},
    {"shunfengkuaiyun", "顺丰快运", ""},
    {"yuantongkuaiyun", "圆通快运", ""},
    {"youzhengbk", "邮政标准快递 邮政标快", "youzhengbiaozhunkuaidi youzhengbiaokuai"},
    {"zhaijisong", "宅急送 ZJS", ""},
    {"youshuwuliu", "优速快递 优速", "yousukuaidi yousu"},
    {"debangwuliu", "德邦物流", ""},
    {"suer", "速尔快递 速尔", "suerkuaidi"},
    {"suning", "苏宁物流 苏宁", "suningwuliu"},
    {"ztky", "中铁快运 中铁", "zhongtiekuaiyun zhongtie"},
    {"rrs", "日日顺物流 日日顺", "ririshunwuliu ririshun"},
    {"annto", "安得物流 安得", "andewuliu ande"},
    {"huitongkuaidi", "百世快递 汇通 百世 百世汇通 汇通快递", "baishikuaidi huitong baishi baishihuitong"},
    {"tiantian", "天天快递 天天", "tiantiankuaidi"},
    {"quanfengkuaidi", "全峰快递 全峰", "quanfeng"},
    {"guotongkuaidi", "国通快递 国通", "guotong"},
    {"youzhengguoji", "国际包裹 邮政国际 国际小包", "guojibaoguo guojixiaobao"},
    {"dhl", "DHL-中国件 DHL", ""},
    {"ups", "UPS", ""},
    {"fedex", "FedEx-国际件 FedEx 联邦快递", ""},
};

TEST(Couriers, TheGuessRanksEveryShapeAndEveryNameFindsItsCourier) {
  for (const GuessRow& row : kGuessRows) {
    for (const std::string& number : Words(row.numbers)) {
      const std::vector<CourierGuess> guesses = GuessCouriers(number);
      std::string codes;
      for (const CourierGuess& guess : guesses) codes.append(guess.courier->code).append(" ");
      EXPECT_EQ(*row.leading ? codes.rfind(std::string(row.leading) + " ", 0) : codes.size(), 0u) << number << codes;
      EXPECT_EQ(!guesses.empty() && guesses.front().certain, row.certain) << number;
    }
  }
  // The table holds the couriers of the rows in their order, and no short name or shape the rows lack.
  ASSERT_EQ(Couriers().size(), std::size(kNamesRows));
  for (std::size_t index = 0; index < Couriers().size(); ++index) {
    const Courier& courier = Couriers()[index];
    const NamesRow& row = kNamesRows[index];
    const std::vector<std::string> names = Words(row.names);
    EXPECT_EQ(courier.code, row.code);
    EXPECT_EQ(CarrierName(row.code, "detected"), names.front());
    for (const std::string& name : names) EXPECT_EQ(FindCourierNamed(name), &courier) << name;
    EXPECT_EQ(FindCourierNamed(row.code), &courier);
    EXPECT_EQ(std::ranges::count_if(courier.aliases, [](std::string_view name) { return !name.empty(); }) + 1,
              names.size()) << row.code;
    for (const std::string& pinyin : Words(row.pinyin)) {
      EXPECT_TRUE(IsNearMissOfCourierTable(pinyin)) << pinyin;
      EXPECT_EQ(ClosestCourierNames(pinyin, 1), std::vector<std::string_view>{names.front()}) << pinyin;
    }
    for (const NumberShape& shape : courier.shapes) {
      const auto covers = [&](const GuessRow& guess) {
        const auto matches = [&](const std::string& number) { return MatchesShape(shape.pattern, number); };
        return std::ranges::any_of(Words(guess.numbers), matches);
      };
      EXPECT_TRUE(shape.pattern.empty() || std::any_of(std::begin(kGuessRows), std::end(kGuessRows), covers))
          << "no row for " << shape.pattern;
    }
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
  for (const auto& [typed, code] : {std::pair{"jd", "jd"}, {"jt", "jtexpress"}, {"dpk", "debangkuaidi"},
                                    {"j&t", "jtexpress"}, {"丹鸟", "danniao"}}) {
    EXPECT_EQ(OtherCouriers().at(OtherCourierStartingWith(typed).value())->code, code) << typed;
  }
  EXPECT_EQ(CarrierName("zhongtongguoji", "中通国际") + CarrierName("zhongtongguoji"), "中通国际zhongtongguoji");
}

}  // namespace
}  // namespace quenzil
