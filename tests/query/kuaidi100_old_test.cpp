#include "query/services/kuaidi100_old.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "web/pattern.h"

namespace quenzil {
namespace {

using Rows = std::vector<std::string>;

constexpr std::string_view kWrongNumberMessage =
    "单号不正确或选择快递公司错误，请检查相关单号，或选择单号对应的快递公司再查询。";
constexpr std::string_view kAbnormalMessage =
    "单号异常，请检查单号和选择的快递公司有没有错，如果都正确，请稍后再试。";
constexpr std::string_view kNotRecordedMessage =
    "此单号未更新物流信息，请隔段时间再查询，或者到快递官网查询，谢谢！（请检查快递单号是否对应您所选择的快递公司）";
constexpr std::string_view kCaptchaMessage =
    "接口繁忙，需要验证码，可以过段时间查询，或者到快递公司查询。";

std::string Cell(std::string_view value) {
  return "<td style='padding:3px 5px;'>" + std::string(value) + "</td>";
}

TEST(Classification, EachMarkerGivesItsAdviceAndTheEarlierOfAnyTwoDecidesInEitherOrder) {
  // Marker, kind, advice (empty: the rows, none here), in the table's order.
  const std::tuple<std::string, AnswerKind, std::string_view> markers[] = {
      {"不正确", AnswerKind::kWrongNumber, kWrongNumberMessage}, {"异常", AnswerKind::kAbnormal, kAbnormalMessage},
      {"未收录", AnswerKind::kNotRecorded, kNotRecordedMessage}, {"验证码", AnswerKind::kNeedsCaptcha, kCaptchaMessage},
      {"时间", AnswerKind::kTracking, ""}};
  for (std::size_t first = 0; first < std::size(markers); ++first) {
    const auto& [one, kind, advice] = markers[first];
    std::vector<std::string> texts = {"<p>单号" + one + "</p>"};
    // Where a marker stands in the answer does not matter.
    for (std::size_t later = first + 1; later < std::size(markers); ++later) {
      texts.push_back(one + " …… " + std::get<0>(markers[later]));
      texts.push_back(std::get<0>(markers[later]) + " …… " + one);
    }
    for (const std::string& text : texts) {
      EXPECT_EQ(ClassifyAnswer(text).kind, kind) << text;
      EXPECT_EQ(ClassifyAnswer(text).rows, advice.empty() ? Rows{} : Rows{std::string(advice)}) << text;
    }
  }
  EXPECT_EQ(ClassifyAnswer("时间 " + Cell("a") + " 异常").rows, Rows{std::string(kAbnormalMessage)})
      << "rows never come with an advice";
}

TEST(Classification, NoMarkerNoRows) {
  for (const std::string_view text : {"", "<html>ok</html>", "3px 5px;'>a</td>", "时 间"}) {
    const Answer answer = ClassifyAnswer(text);
    EXPECT_EQ(answer.kind, AnswerKind::kUnrecognised) << text;
    EXPECT_TRUE(answer.rows.empty()) << text;
  }
  const Answer tracking_without_rows = ClassifyAnswer("<th>时间</th>");
  EXPECT_EQ(tracking_without_rows.kind, AnswerKind::kTracking);
  EXPECT_TRUE(tracking_without_rows.rows.empty());
}

TEST(TrackingRows, RowsInOrderWithTheirMarkup) {
  const std::string answer = "<tr><th>时间</th><th>地点和跟踪进度</th></tr>\r\n<tr>" +
                             Cell("2013-01-20 09:05:07") + Cell("<b>上海</b> 已发出") +
                             Cell("&nbsp;已签收 a<b") + "</tr>\r\n";
  const Answer result = ClassifyAnswer(answer);
  EXPECT_EQ(result.kind, AnswerKind::kTracking);
  EXPECT_EQ(result.rows, (Rows{"2013-01-20 09:05:07", "<b>上海", "&nbsp;已签收 a<b"}));
}

TEST(TrackingRows, EmptyCellTakesUpToTheNextClosing) {
  EXPECT_EQ(ExtractTrackingRows("3px 5px;'></td><td>X</td>"), Rows{"</td><td>X"});
  EXPECT_EQ(ExtractTrackingRows("3px 5px;'></td>"), Rows{});
  // The run that swallowed the next cell's opening moves on past it.
  EXPECT_EQ(ExtractTrackingRows(Cell("") + Cell("b") + Cell("c")),
            (Rows{"</td><td style='padding:3px 5px;'>b", "c"}));
}

TEST(TrackingRows, NoMatchAcrossLineBreaks) {
  EXPECT_EQ(ExtractTrackingRows("3px 5px;'>a\n</td>"), Rows{});
  EXPECT_EQ(ExtractTrackingRows("3px 5px;'>a\n</td>3px 5px;'>b</td>"), Rows{"b"});
  EXPECT_EQ(ExtractTrackingRows("3px 5px;'>a\r</td>"), Rows{});
  EXPECT_EQ(ExtractTrackingRows("3px 5px;'>\n</td>"), Rows{});
  EXPECT_EQ(ExtractTrackingRows("3PX 5PX;'>a</td>"), Rows{});
  EXPECT_EQ(ExtractTrackingRows("3px 5px;'>x</td>\n\n\n3px 5px;'>y</td>"), (Rows{"x", "y"}));
}

// The line cutting must keep exactly the matches of the whole text.
TEST(TrackingRows, SameRowsAsMatchingTheWholeText) {
  const std::vector<std::string_view> pieces = {"3px 5px;'>", "</", "<", "/", "a", "中",
                                                "\n", "\r", "\f", "td>", "3px "};
  std::mt19937 generator(7);
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::uniform_int_distribution<int> length(0, 14);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    for (int i = length(generator); i > 0; --i) text += pieces[pick(generator)];
    Rows expected;
    for (const Match& match : MatchAll(TrackingRowPattern, text)) {
      expected.push_back(match.SubMatches.at(0));
    }
    ASSERT_EQ(ExtractTrackingRows(text), expected) << text;
  }
}

// Hostile answers finish (or give up with PatternError) instead of hanging or
// crashing. No timing is asserted here; the extraction benchmark measures it.
TEST(HostileAnswers, ManyUnclosedMarkersOnOneLine) {
  std::string unclosed = "时间";
  for (int i = 0; i < 100000; ++i) unclosed += "3px 5px;'>x";
  EXPECT_TRUE(ClassifyAnswer(unclosed).rows.empty());

  const std::string one_cell_then_unclosed = Cell("a") + unclosed;
  EXPECT_EQ(ClassifyAnswer(one_cell_then_unclosed).rows, Rows{"a"});

  const std::string closed_at_the_end = unclosed + "</td>";
  const Rows rows = ClassifyAnswer(closed_at_the_end).rows;
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].size(), 100000u * 11u - 10u);
}

TEST(HostileAnswers, SixteenMebibyteSingleLines) {
  constexpr std::size_t kSize = 16u * 1024u * 1024u;
  const std::string opening = "时间3px 5px;'>";

  std::string long_cell = opening;
  long_cell.append(kSize - opening.size() - 2, 'a');
  long_cell += "</";
  try {
    const Rows rows = ClassifyAnswer(long_cell).rows;
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].size(), kSize - opening.size() - 2);
  } catch (const PatternError&) {
    // Giving up is allowed; crashing or hanging is not.
  }

  std::string markers = "时间";
  while (markers.size() < kSize) markers += "3px 5px;'>";
  EXPECT_TRUE(ClassifyAnswer(markers).rows.empty());

  std::string openers(kSize, '<');
  openers.insert(0, opening);
  try {
    EXPECT_EQ(ClassifyAnswer(openers).rows.size(), 0u);
  } catch (const PatternError&) {
  }

  std::string cells = "时间";
  while (cells.size() < kSize) cells += "3px 5px;'>v</";
  EXPECT_EQ(ClassifyAnswer(cells).rows.size(), (kSize - 6 + 12) / 13);
}

}  // namespace
}  // namespace quenzil
