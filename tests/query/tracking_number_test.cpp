#include "query/tracking_number.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quenzil {
namespace {

TEST(TrackingNumber, SoleNumberOfATextFromOutside) {
  const std::string max32 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ123456";
  const struct {
    std::string text;
    std::optional<std::string> number;
  } cases[] = {
      {"123456", "123456"}, {"12345", std::nullopt}, {max32, max32}, {max32 + "7", std::nullopt},
      {"sf1234567890", "sf1234567890"}, {"A1B2C3D4E5F6", "A1B2C3D4E5F6"}, {"SFABC12345", std::nullopt},
      {"ABCDEFGHIJ", std::nullopt}, {"１２３４５６７８", std::nullopt}, {"圆通123456789", std::nullopt},
      {"我的快递单号", std::nullopt}, {"1234 5678", std::nullopt}, {"1234\r\n5678", std::nullopt},
      {"SF-1234567890", std::nullopt}, {"zyxaz123456", "zyxaz123456"}, {"AZaz09123456", "AZaz09123456"},
      {"@123456", std::nullopt}, {"[123456", std::nullopt}, {"`123456", std::nullopt}, {"{123456", std::nullopt},
      {"/123456", std::nullopt}, {":123456", std::nullopt}, {std::string("123456\0", 7), std::nullopt},
      {"\r\n SF1234567890\t\r\n", "SF1234567890"}, {"\xC2\xA0" "1234567890\xE3\x80\x80", "1234567890"},
      {"\xE3\x80\x80 \xC2\xA0", std::nullopt}, {"", std::nullopt},
      {"SF1234567890 已经发货了，请注意查收", std::nullopt}, {"单号：SF1234567890", std::nullopt},
      {"1234567890 9876543210", std::nullopt}, {"1234567890\n9876543210", std::nullopt},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(SoleTrackingNumber(test.text), test.number) << '"' << test.text << '"';
    EXPECT_EQ(IsTrackingNumber(TrimBlanks(test.text)), test.number.has_value()) << '"' << test.text << '"';
  }
  EXPECT_EQ(TrimBlanks(" \t\xC2\xA0 a b\xE3\x80\x80\r\n"), "a b");
}

}  // namespace
}  // namespace quenzil

namespace quenzil {
namespace {

TEST(TrackingNumber, TheNumberAsPeoplePasteItIsTheOneTheServicesGet) {
  const std::pair<const char*, const char*> rows[] = {
      {" YT1234567890123", "YT1234567890123"},   {"YT1234567890123 \r\n", "YT1234567890123"},
      {"yt1234567890123", "YT1234567890123"},    {"ＹＴ１２３４５６７８９０１２３", "YT1234567890123"},
      {"ｙｔ１２３", "YT123"},                      {"\xE3\x80\x80JT0001234567890", "JT0001234567890"},
      {"SF 123", "SF 123"},                      {"快递YT1", "快递YT1"},
      {"", ""},                                  {"Ｚ９", "Z9"},
  };
  for (const auto& [typed, number] : rows) EXPECT_EQ(TrackingNumberOf(typed), number) << typed;
}

}  // namespace
}  // namespace quenzil
