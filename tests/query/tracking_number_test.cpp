#include "query/tracking_number.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quenzil {
namespace {

TEST(TrackingNumber, SoleNumberOfATextFromOutside) {
  struct Case {
    std::string text;
    std::optional<std::string> number;
  };
  const std::string max32 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ123456";
  const Case cases[] = {
      {"123456", "123456"},                        // shortest, all digits
      {"12345", std::nullopt},                     // one too short
      {max32, max32},                              // longest
      {max32 + "7", std::nullopt},                 // one too long
      {"SF1234567890", "SF1234567890"},
      {"V0303abc44422", "V0303abc44422"},          // either case
      {"SFABC12345", std::nullopt},                // five digits only
      {"A1B2C3D4E5F6", "A1B2C3D4E5F6"},            // six digits among letters
      {"ABCDEFGHIJ", std::nullopt},                // letters only
      {"１２３４５６７８", std::nullopt},           // full-width digits
      {"圆通123456789", std::nullopt},
      {"我的快递单号", std::nullopt},
      {"1234 5678", std::nullopt},                 // a blank inside
      {"1234\r\n5678", std::nullopt},
      {"SF-1234567890", std::nullopt},
      {"123456789.", std::nullopt},
      {"\r\n SF1234567890\t\r\n", "SF1234567890"}, // blanks and line breaks around
      {"\xC2\xA0" "1234567890\xE3\x80\x80", "1234567890"},  // no-break and ideographic spaces
      {"\xE3\x80\x80\xE3\x80\x80", std::nullopt},
      {"", std::nullopt},
      {"SF1234567890 已经发货了，请注意查收", std::nullopt},  // a number, then a sentence
      {"单号：SF1234567890", std::nullopt},
      {"1234567890 9876543210", std::nullopt},     // two numbers
      {"1234567890\n9876543210", std::nullopt},
      {std::string("123456\0", 7), std::nullopt},
  };
  for (const Case& test : cases) {
    EXPECT_EQ(SoleTrackingNumber(test.text), test.number) << '"' << test.text << '"';
    EXPECT_EQ(IsTrackingNumber(TrimBlanks(test.text)), test.number.has_value()) << '"' << test.text << '"';
  }
}

TEST(TrackingNumber, TrimBlanksKeepsInnerBlanks) {
  EXPECT_EQ(TrimBlanks(" \t\r\n\xC2\xA0 a b\xE3\x80\x80 "), "a b");
  EXPECT_EQ(TrimBlanks("\xE3\x80\x80"), "");
}

}  // namespace
}  // namespace quenzil
