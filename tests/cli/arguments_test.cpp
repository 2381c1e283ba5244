#include "cli/arguments.h"

#include <gtest/gtest.h>

namespace quenzil::cli {
namespace {

using Kind = Command::Kind;

TEST(Arguments, TableOfEveryOptionOrderAndMistake) {
  const struct {
    std::vector<std::string> arguments;
    std::optional<Command> command;  // nullopt: refused with the error part
    std::string error_part;
  } cases[] = {
      {{"YT1"}, Command{Kind::kQuery, "YT1"}, ""},
      {{"\xE3\x80\x80 YT1\t"}, Command{Kind::kQuery, "YT1"}, ""},
      {{"--json", "--phone", "1234", "YT1", "--courier", "jtexpress"},
       Command{Kind::kQuery, "YT1", "jtexpress", "1234", true}, ""},
      {{"--json", "--watched"}, Command{Kind::kWatched, "", "", "", true}, ""},
      {{"--help"}, Command{Kind::kHelp}, ""},
      {{"-h"}, Command{Kind::kHelp}, ""},
      {{"YT1", "--bogus", "/?"}, Command{Kind::kHelp}, ""},
      {{}, std::nullopt, "请输入快递单号"},
      {{"  ", "--json"}, std::nullopt, "请输入快递单号"},
      {{"YT1", "YT2"}, std::nullopt, "多余的参数：YT2"},
      {{"YT1", "-x"}, std::nullopt, "未知的选项：-x"},
      {{"YT1", "--courier", "ABC"}, std::nullopt, "未知的快递公司：ABC"},
      {{"YT1", "--json", "--json"}, std::nullopt, "--json 重复"},
      {{"YT1", "--courier", "ems", "--courier", "ems"}, std::nullopt, "--courier 重复"},
      {{"YT1", "--courier"}, std::nullopt, "--courier 缺少取值"},
      {{"YT1", "--phone", "--json"}, std::nullopt, "--phone 缺少取值"},
      {{"YT1", "--verbose"}, std::nullopt, "未知的选项：--verbose"},
      {{"YT1", "--courier", "极兔"}, Command{Kind::kQuery, "YT1", "jtexpress"}, ""},
      {{"--courier", "YuanTong", "YT1"}, Command{Kind::kQuery, "YT1", "yuantong"}, ""},
      {{"YT1", "--courier", "zy0z"}, Command{Kind::kQuery, "YT1", "zy0z"}, ""},  // a code the table lacks
      {{"--guess", "YT1", "--json"}, Command{Kind::kGuess, "YT1", "", "", true}, ""},
      {{"--guess", "YT1", "--courier", "ems"}, std::nullopt, "--guess 不能"},
      {{"--guess", "YT1", "--phone", "1234"}, std::nullopt, "--guess 不能"},
      {{"YT1", "--phone", "12a4"}, std::nullopt, "后四位"},
      {{"YT1", "--phone", "12345"}, std::nullopt, "后四位"},
      {{"YT1", "--phone", "123"}, std::nullopt, "后四位"},
      {{"--watched", "YT1"}, std::nullopt, "--watched 不能"},
      {{"--watch", "YT1", "--note", "妈妈", "--courier", "圆通"},
       Command{Kind::kWatch, "YT1", "yuantong", "", false, "", "妈妈"}, ""},
      {{"--import", "单号.csv"}, Command{.kind = Kind::kImport, .file = "单号.csv"}, ""},
      {{"--events", "--export", "b.csv"}, Command{.kind = Kind::kExport, .file = "b.csv", .events = true}, ""},
      {{"--import", "a.csv", "YT1"}, std::nullopt, "--import 只能"},
      {{"--import", "a.csv", "--export", "b.csv"}, std::nullopt, "不能同用"},
      {{"YT1", "--events"}, std::nullopt, "--events 只能"},
      {{"YT1", "--note", "x"}, std::nullopt, "--note 只能"},
      {{"--watch", "YT1", "--json"}, std::nullopt, "--watch 不能"},
  };
  for (const auto& row : cases) {
    std::string shown;
    for (const std::string& word : row.arguments) shown += "[" + word + "]";
    const ParsedArguments parsed = ParseArguments(row.arguments);
    EXPECT_EQ(parsed.command, row.command) << shown << " error: " << parsed.error;
    if (!row.command) {
      EXPECT_NE(parsed.error.find(row.error_part), std::string::npos) << shown << " " << parsed.error;
    }
  }
  EXPECT_EQ(ParseArguments({"YT1", "--courier", "极免"}).error, "未知的快递公司：极免。相近的有：极兔速递、中通快递、圆通速递");
}

// Names, short names and pinyin of each courier are tested with the courier
// table; here what --courier makes of a typo and of a code the table lacks.
TEST(Arguments, ACourierTypoIsRefusedWithTheNearestNamesAndCodesTheTableLacksGoAsTheyAre) {
  for (const auto& [typed, closest] : {std::pair{"zhongtog", "中通快递"}, {"JingDong", "京东物流、京东快运"},
                                       {"yunad", "韵达快递"}, {"kuayeu", "跨越速运"}, {"fedx", "FedEx-国际件"}}) {
    const std::string refusal = std::string("未知的快递公司：") + typed + "。相近的有：" + closest;
    EXPECT_EQ(ParseArguments({"YT1", "--courier", typed}).error.substr(0, refusal.size()), refusal);
  }
  for (const char* code : {"zhongtiewuliu", "yuantongguoji", "zhongtongguoji", "shunfenglengyun", "emsguoji", "dhlen",
                           "upsen", "fedexcn", "usps", "tnt", "lianbangkuaidi", "longbanwuliu", "xinfengwuliu",
                           "jiajiwuliu", "quanyikuaidi", "tiandihuayu", "rufengda", "yuanchengwuliu"}) {
    EXPECT_EQ(ParseArguments({"YT1", "--courier", code}).command, (Command{Kind::kQuery, "YT1", code})) << code;
  }
}

TEST(Arguments, WithoutAnAccountOnlyTheTenOfTheOldAddressAndAServiceOnlyWithItsAccount) {
  Accounts none;
  Accounts kdniao;
  kdniao.kdniao = {"1237100", "key"};
  // The README's ten, which need no key.
  for (const char* code : {"zhongtong", "yuantong", "shentong", "shunfeng", "yunda", "huitongkuaidi", "tiantian",
                           "zhaijisong", "quanfengkuaidi", "ems"}) {
    EXPECT_EQ(CheckQuery(ParseArguments({"YT1", "--courier", code}).command.value_or(Command{}), none), "") << code;
  }
  const struct {
    std::string courier, service;
    const Accounts* accounts;
    bool allowed;
  } cases[] = {{"jtexpress", "", &none, false}, {"", "", &none, false},          {"jtexpress", "", &kdniao, true},
               {"", "", &kdniao, true},         {"", "kdniao", &kdniao, true},    {"", "kuaidi100", &kdniao, false},
               {"ems", "appcode", &none, false}};
  for (const auto& row : cases) {
    Command command{Kind::kQuery, "YT1", row.courier};
    command.service = row.service;
    EXPECT_EQ(CheckQuery(command, *row.accounts).empty(), row.allowed) << row.courier << " " << row.service;
  }
  EXPECT_EQ(CheckQuery(Command{Kind::kGuess, "YT1"}, none), "") << "the guess needs no account";
}

}  // namespace
}  // namespace quenzil::cli
