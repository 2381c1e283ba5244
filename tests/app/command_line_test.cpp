#include "app/command_line.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace quenzil {
namespace {

TEST(StartArguments, OneSwitchAndTheRestIsTheNumber) {
  const struct {
    std::vector<std::string> arguments;
    bool background;
    std::optional<std::string> number;
  } cases[] = {
      {{}, false, std::nullopt}, {{"/background"}, true, std::nullopt}, {{"-BackGround"}, true, std::nullopt},
      {{"/BACKGROUND", "SF1234567890"}, true, "SF1234567890"}, {{"SF1", "-background"}, true, "SF1"},
      {{"--background"}, false, "--background"}, {{"/background2"}, false, "/background2"},
      {{" /background"}, false, "/background"}, {{"\r\n SF1234567890\xE3\x80\x80"}, false, "SF1234567890"},
      {{"SF", "1234", "我的"}, false, "SF 1234 我的"}, {{" ", "\t", "/background"}, true, std::nullopt},
      {{""}, false, std::nullopt},
  };
  for (const auto& test : cases) {
    const StartOptions options = ParseStartArguments(test.arguments);
    EXPECT_FALSE(options.list);
    EXPECT_EQ(options.background, test.background) << testing::PrintToString(test.arguments);
    EXPECT_EQ(options.number, test.number) << testing::PrintToString(test.arguments);
  }
}

TEST(StartArguments, ListOpensTheWatchListWindowBesideTheOthers) {
  for (const auto& [arguments, background, number] :
       std::initializer_list<std::tuple<std::vector<std::string>, bool, std::optional<std::string>>>{
           {{"/list"}, false, std::nullopt}, {{"-LIST", "/background"}, true, std::nullopt}, {{"/List", "SF1"}, false, "SF1"}}) {
    const StartOptions options = ParseStartArguments(arguments);
    EXPECT_TRUE(options.list) << testing::PrintToString(arguments);
    EXPECT_EQ(options.background, background);
    EXPECT_EQ(options.number, number);
  }
  EXPECT_EQ(ParseStartArguments({"/lists"}).number, "/lists");
}

TEST(HandOver, TakesTaggedUtf8TextWithinTheLimit) {
  const std::string most(kMaxHandOverBytes, '7');
  const struct {
    std::string bytes;
    std::optional<std::string> text;
  } cases[] = {
      {" \r\n圆通 V0303\xC2\xA0\r\n", "圆通 V0303"}, {"\xF0\x9F\x93\xA6\xF4\x8F\xBF\xBF", "\xF0\x9F\x93\xA6\xF4\x8F\xBF\xBF"},
      {most, most}, {most + "7", std::nullopt}, {"", std::nullopt}, {" \t\xE3\x80\x80", std::nullopt},
      {"abc\xFF", std::nullopt}, {"\xC0\xAF", std::nullopt}, {"\xE0\x80\xAF", std::nullopt},  // overlong
      {"\xF0\x80\x80\xAF", std::nullopt}, {"\xED\xA0\x80", std::nullopt},                   // surrogate
      {"\xF4\x90\x80\x80", std::nullopt}, {"\xE5\x9C", std::nullopt}, {"\xE5\x9C" "A", std::nullopt},
      {"\x80", std::nullopt},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(ReadHandOver(kHandOverTag, test.bytes), test.text) << testing::PrintToString(test.bytes);
  }
  EXPECT_EQ(ReadHandOver(kHandOverTag + 1, "SF1234567890"), std::nullopt);
}

}  // namespace
}  // namespace quenzil
