#include "window/clipboard_offer.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quenzil {
namespace {

TEST(ClipboardOffer, EachContentOnceIntoAnEmptyBoxOnly) {
  ClipboardOffer offer;
  EXPECT_EQ(offer.Offer(0, "SF1234567890", ""), std::nullopt) << "unknown sequence";
  // What the user typed stays, blanks too; the content waits for an empty box.
  EXPECT_EQ(offer.Offer(7, "SF1234567890", "V0303"), std::nullopt);
  EXPECT_EQ(offer.Offer(7, "SF1234567890", " "), std::nullopt);
  EXPECT_EQ(offer.Offer(7, " SF1234567890\r\n", ""), "SF1234567890");
  // The user cleared the box after taking it: not offered again.
  EXPECT_EQ(offer.Offer(7, " SF1234567890\r\n", ""), std::nullopt);
  // A new copy of the same number is a new content.
  EXPECT_EQ(offer.Offer(8, "SF1234567890", ""), "SF1234567890");
}

TEST(ClipboardOffer, OnlyASoleNumberIsTaken) {
  ClipboardOffer offer;
  for (const char* text : {"SF1234567890 到了吗", "单号SF1234567890", "SF1234567890\n9876543210",
                           "12345", "", "明天见"}) {
    EXPECT_EQ(offer.Offer(3, text, ""), std::nullopt) << text;
  }
  // A sentence is not remembered as offered: a number copied later still comes.
  EXPECT_EQ(offer.Offer(4, "V030344422", ""), "V030344422");
}

}  // namespace
}  // namespace quenzil
