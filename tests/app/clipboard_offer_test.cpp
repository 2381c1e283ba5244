#include "app/clipboard_offer.h"

#include <gtest/gtest.h>

#include <optional>

namespace quenzil {
namespace {

TEST(ClipboardOffer, ASoleNumberOnceIntoAnEmptyBoxOnly) {
  ClipboardOffer offer;
  EXPECT_EQ(offer.Offer(0, "SF1234567890", ""), std::nullopt) << "unknown sequence";
  for (const char* text : {"SF1234567890 到了吗", "单号SF1234567890", "SF1234567890\n9876543210", "12345"}) {
    EXPECT_EQ(offer.Offer(3, text, ""), std::nullopt) << text;
  }
  // What the user typed stays, blanks too; the content waits for an empty box.
  EXPECT_EQ(offer.Offer(7, "SF1234567890", "V0303"), std::nullopt);
  EXPECT_EQ(offer.Offer(7, "SF1234567890", " "), std::nullopt);
  EXPECT_EQ(offer.Offer(7, " SF1234567890\r\n", ""), "SF1234567890");
  EXPECT_EQ(offer.Offer(7, " SF1234567890\r\n", ""), std::nullopt) << "offered twice";
  EXPECT_EQ(offer.Offer(8, "SF1234567890", ""), "SF1234567890") << "a new copy is a new content";
  EXPECT_EQ(offer.Offer(3, "V030344422", ""), "V030344422") << "a sentence was not remembered";
}

}  // namespace
}  // namespace quenzil
