#include "window/command_line.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace quenzil {
namespace {

TEST(StartArguments, OneSwitchAndTheRestIsTheNumber) {
  struct Case {
    std::vector<std::string> arguments;
    bool background;
    std::optional<std::string> number;
  };
  const Case cases[] = {
      {{}, false, std::nullopt},
      {{"/background"}, true, std::nullopt},
      {{"-BackGround"}, true, std::nullopt},
      {{"/BACKGROUND", "SF1234567890"}, true, "SF1234567890"},
      {{"SF1234567890", "-background"}, true, "SF1234567890"},
      {{"--background"}, false, "--background"},
      {{"/background2"}, false, "/background2"},
      {{"/backgroun"}, false, "/backgroun"},
      {{" /background"}, false, "/background"},
      {{"\r\n SF1234567890\xE3\x80\x80"}, false, "SF1234567890"},
      {{"SF", "1234", "5678"}, false, "SF 1234 5678"},
      {{"我的", "快递"}, false, "我的 快递"},
      {{" ", "\t", "/background"}, true, std::nullopt},
      {{""}, false, std::nullopt},
  };
  for (const Case& test : cases) {
    const StartOptions options = ParseStartArguments(test.arguments);
    std::string shown;
    for (const std::string& argument : test.arguments) shown += "[" + argument + "]";
    EXPECT_EQ(options.background, test.background) << shown;
    EXPECT_EQ(options.number, test.number) << shown;
  }
}

TEST(HandOver, TakesTaggedUtf8TextWithinTheLimit) {
  struct Case {
    std::string bytes;
    std::optional<std::string> text;
  };
  const Case cases[] = {
      {"SF1234567890", "SF1234567890"},
      {" \r\n圆通 V0303\xC2\xA0\r\n", "圆通 V0303"},
      {"\xF0\x9F\x93\xA6 \xF4\x8F\xBF\xBF", "\xF0\x9F\x93\xA6 \xF4\x8F\xBF\xBF"},  // four-byte forms
      {std::string(kMaxHandOverBytes, '7'), std::string(kMaxHandOverBytes, '7')},
      {std::string(kMaxHandOverBytes + 1, '7'), std::nullopt},
      {"", std::nullopt},
      {" \t\xE3\x80\x80", std::nullopt},
      {"abc\xFF", std::nullopt},                 // not a lead byte
      {"\xC0\xAF", std::nullopt},                // overlong '/'
      {"\xE0\x80\xAF", std::nullopt},            // overlong, three bytes
      {"\xF0\x80\x80\xAF", std::nullopt},        // overlong, four bytes
      {"\xED\xA0\x80", std::nullopt},            // a surrogate
      {"\xF4\x90\x80\x80", std::nullopt},        // past U+10FFFF
      {"\xE5\x9C", std::nullopt},                // cut short
      {"\xE5\x9C" "A", std::nullopt},            // cut short by a new character
      {"\x80", std::nullopt},                    // a stray continuation byte
  };
  for (const Case& test : cases) {
    EXPECT_EQ(ReadHandOver(kHandOverTag, test.bytes), test.text) << testing::PrintToString(test.bytes);
  }
  EXPECT_EQ(ReadHandOver(kHandOverTag + 1, "SF1234567890"), std::nullopt);
  EXPECT_EQ(ReadHandOver(0, "SF1234567890"), std::nullopt);
}

}  // namespace
}  // namespace quenzil
