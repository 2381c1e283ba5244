#include "app/texts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quenzil {
namespace {

const std::string kPrefix = "QuenzilV1.0-【Dravimo提供】    现在时间：";

TEST(TitleClock, NumbersAfterOneBlankWithoutPadding) {
  EXPECT_EQ(TitleText({2013, 1, 20, 9, 5, 7}), kPrefix + " 2013- 1- 20  9: 5: 7");
  EXPECT_EQ(TitleText({2013, 1, 21, 0, 0, 0}), kPrefix + " 2013- 1- 21  0: 0: 0");
  EXPECT_EQ(TitleText({2013, 12, 31, 23, 59, 59}), kPrefix + " 2013- 12- 31  23: 59: 59");
  // The title grows by one character with each two-digit number.
  EXPECT_EQ(TitleText({2014, 1, 1, 0, 0, 0}).size() + 5,
            TitleText({2014, 10, 10, 10, 10, 10}).size());
}

TEST(TrayTip, PrefixAndMakerHost) {
  EXPECT_EQ(TrayTipText("www.maker.test"), "QuenzilV1.0-【Dravimo提供】-www.maker.test");
}

TEST(ClipboardText, EveryRowEndsWithCrLf) {
  EXPECT_EQ(ClipboardText({}), "");
  EXPECT_EQ(ClipboardText({std::string(ResultPlaceholderLine)}), "此处返回查询结果。\r\n");
  EXPECT_EQ(ClipboardText({"a", "", "<b>c"}), "a\r\n\r\n<b>c\r\n");
}

}  // namespace
}  // namespace quenzil
