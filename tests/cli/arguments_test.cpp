#include "cli/arguments.h"

#include <gtest/gtest.h>

namespace quenzil::cli {
namespace {

using Kind = Command::Kind;

struct ArgumentCase {
  std::vector<std::string> arguments;
  std::optional<Command> command;  // nullopt: refused
  std::string error_part;          // part of the refusal
};

TEST(Arguments, TableOfEveryOptionOrderAndMistake) {
  const Command help{Kind::kHelp};
  const std::vector<ArgumentCase> cases = {
      {{"YT1"}, Command{Kind::kQuery, "YT1"}, ""},
      {{"\xE3\x80\x80 YT1\t"}, Command{Kind::kQuery, "YT1"}, ""},
      {{"--json", "--phone", "1234", "YT1", "--courier", "jtexpress"},
       Command{Kind::kQuery, "YT1", "jtexpress", "1234", true}, ""},
      {{"YT1", "--courier", "yuantong", "--json"}, Command{Kind::kQuery, "YT1", "yuantong", "", true}, ""},
      {{"--watched"}, Command{Kind::kWatched}, ""},
      {{"--json", "--watched"}, Command{Kind::kWatched, "", "", "", true}, ""},
      {{"--help"}, help, ""},
      {{"-h"}, help, ""},
      {{"YT1", "--bogus", "/?"}, help, ""},
      {{}, std::nullopt, "请输入快递单号"},
      {{"  "}, std::nullopt, "请输入快递单号"},
      {{"--json"}, std::nullopt, "请输入快递单号"},
      {{"YT1", "YT2"}, std::nullopt, "多余的参数：YT2"},
      {{"YT1", "--json", "--json"}, std::nullopt, "--json 重复"},
      {{"--watched", "--watched"}, std::nullopt, "--watched 重复"},
      {{"YT1", "--courier", "ems", "--courier", "ems"}, std::nullopt, "--courier 重复"},
      {{"YT1", "--phone", "1234", "--phone", "1234"}, std::nullopt, "--phone 重复"},
      {{"YT1", "--courier"}, std::nullopt, "--courier 缺少取值"},
      {{"YT1", "--courier", "--json"}, std::nullopt, "--courier 缺少取值"},
      {{"YT1", "--phone"}, std::nullopt, "--phone 缺少取值"},
      {{"YT1", "--verbose"}, std::nullopt, "未知的选项：--verbose"},
      {{"YT1", "-x"}, std::nullopt, "未知的选项：-x"},
      {{"YT1", "--courier", "YuanTong"}, std::nullopt, "小写字母和数字"},
      {{"YT1", "--courier", "yuan-tong"}, std::nullopt, "小写字母和数字"},
      {{"YT1", "--phone", "123"}, std::nullopt, "后四位"},
      {{"YT1", "--phone", "12a4"}, std::nullopt, "后四位"},
      {{"--watched", "YT1"}, std::nullopt, "--watched 不能"},
      {{"--watched", "--courier", "ems"}, std::nullopt, "--watched 不能"},
  };
  for (const ArgumentCase& row : cases) {
    std::string shown;
    for (const std::string& word : row.arguments) shown += "[" + word + "]";
    const ParsedArguments parsed = ParseArguments(row.arguments);
    EXPECT_EQ(parsed.command, row.command) << shown << " error: " << parsed.error;
    if (!row.command) {
      EXPECT_NE(parsed.error.find(row.error_part), std::string::npos) << shown << " " << parsed.error;
    }
  }
}

TEST(Arguments, WithoutKeyOnlyTheTenOfTheOldAddress) {
  const struct {
    std::string courier;
    bool keyed;
    bool allowed;
  } cases[] = {
      {"yuantong", false, true}, {"ems", false, true},       {"jtexpress", false, false}, {"", false, false},
      {"jtexpress", true, true}, {"yuantong", true, true},   {"", true, true},
  };
  for (const auto& row : cases) {
    const Command command{Kind::kQuery, "YT1", row.courier};
    EXPECT_EQ(CheckQuery(command, row.keyed).empty(), row.allowed) << row.courier << " keyed " << row.keyed;
  }
  EXPECT_EQ(CheckQuery(Command{Kind::kWatched}, false), "");
}

}  // namespace
}  // namespace quenzil::cli
