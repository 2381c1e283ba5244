// MatchAll with the tracking-row pattern and the engine's limits.
#include "web/pattern.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quenzil {
namespace {

constexpr std::string_view kRowPattern = "3px 5px;'>(.+?)</";
constexpr std::string_view kMarker = "3px 5px;'>";

std::vector<std::string> FirstGroups(std::string_view pattern, std::string_view text) {
  std::vector<std::string> groups;
  for (const Match& match : MatchAll(pattern, text)) {
    if (match.SubMatches.empty()) {
      groups.emplace_back("<no group>");
    } else {
      groups.push_back(match.SubMatches[0]);
    }
  }
  return groups;
}

struct RowCase {
  const char* name;
  std::string text;
  std::vector<std::string> expected;
};

TEST(MatchAll, TrackingRowPattern) {
  using V = std::vector<std::string>;
  const RowCase cases[] = {
      {"no marker", "<html><body>没有记录</body></html>", V{}},
      {"two rows in order",
       "<td style='padding:3px 5px;'>2024-05-01 10:00:00</td><td style='padding:3px "
       "5px;'>【杭州】快件已到达</td>",
       V{"2024-05-01 10:00:00", "【杭州】快件已到达"}},
      {"value with < but no </", "3px 5px;'>a<b>c</td>", V{"a<b>c"}},
      {"empty cell takes up to the next </",
       "3px 5px;'></td><td style='3px 5px;'>x</td>", V{"</td><td style='3px 5px;'>x"}},
      {"empty cell, no further </ on its line", "3px 5px;'></td>\n3px 5px;'>y</td>", V{"y"}},
      {"line feed before </", "3px 5px;'>a\nb</td>", V{}},
      {"carriage return before </", "3px 5px;'>a\rb</td>", V{}},
      {"form feed before </", "3px 5px;'>a\fb</td>", V{}},
      {"marker in capitals", "3PX 5PX;'>a</td>", V{}},
      {"lazy: stops at the first </", "3px 5px;'>a</b></c>", V{"a"}},
      {"no overlap: marker inside a value", "3px 5px;'>x 3px 5px;'>y</td>", V{"x 3px 5px;'>y"}},
      {"bytes 0x85 and U+2028 inside UTF-8 are ordinary", "3px 5px;'>公\xE2\x80\xA8</",
       V{"公\xE2\x80\xA8"}},
      {"NUL is ordinary", std::string("3px 5px;'>a\0b</", 16), V{std::string("a\0b", 3)}},
      {"invalid UTF-8 is ordinary", "3px 5px;'>\xFF\xC0\x80</", V{"\xFF\xC0\x80"}},
  };
  for (const auto& c : cases) EXPECT_EQ(FirstGroups(kRowPattern, c.text), c.expected) << c.name;
}

TEST(MatchAll, GroupsAndEmptyMatches) {
  // Groups 1..N become items 0..N-1; a group that took no part is empty.
  const auto alternatives = MatchAll("(a)|(b)", "ab");
  ASSERT_EQ(alternatives.size(), 2u);
  EXPECT_EQ(alternatives[0].SubMatches, (std::vector<std::string>{"a", ""}));
  EXPECT_EQ(alternatives[1].SubMatches, (std::vector<std::string>{"", "b"}));

  const auto no_groups = MatchAll("x", "xx");
  ASSERT_EQ(no_groups.size(), 2u);
  EXPECT_TRUE(no_groups[0].SubMatches.empty());

  // Empty matches advance instead of repeating: Perl finds "", "aa", "".
  EXPECT_EQ(FirstGroups("(a*)", "baa"), (std::vector<std::string>{"", "aa", ""}));
  EXPECT_EQ(MatchAll("", "abc").size(), 4u);
  EXPECT_TRUE(MatchAll("a", "").empty());

  // Anchors hold at the ends of the text only; matching is case-sensitive.
  EXPECT_TRUE(MatchAll("^b", "a\nb").empty());
  EXPECT_TRUE(MatchAll("A", "a").empty());
}

TEST(MatchAll, RejectedPatternsThrowPatternError) {
  for (const char* pattern : {"(", "[a", "a{2,1}", "*", "(?<", "\\"}) {
    EXPECT_THROW(MatchAll(pattern, "text"), PatternError) << pattern;
  }
  try {
    MatchAll("(", "");
    FAIL() << "no PatternError";
  } catch (const PatternError& error) {
    EXPECT_NE(std::string(error.what()).find('('), std::string::npos) << error.what();
  }
}

TEST(MatchAll, SixteenMiBSingleLineCell) {
  std::string text(kMarker);
  const std::string chunk = "快件已到达";
  while (text.size() < (16u << 20)) text += chunk;
  const std::size_t value_size = text.size() - kMarker.size();
  text += "</td>";
  const auto matches = MatchAll(kRowPattern, text);
  ASSERT_EQ(matches.size(), 1u);
  EXPECT_EQ(matches[0].SubMatches[0].size(), value_size);
}

TEST(MatchAll, UnclosedMarkersFinishOrGiveUp) {
  // One line of markers with no "</": each start scans to the end of the
  // line. The engine must end, with no match or with PatternError.
  std::string one_line;
  for (int i = 0; i < 100000; ++i) one_line += kMarker;
  try {
    EXPECT_TRUE(MatchAll(kRowPattern, one_line).empty());
  } catch (const PatternError&) {
  }

  // The same markers one per line are cheap and give nothing.
  std::string many_lines;
  for (int i = 0; i < 100000; ++i) (many_lines += kMarker) += '\n';
  EXPECT_TRUE(MatchAll(kRowPattern, many_lines).empty());

  // A closing tag at the very end turns the whole line into one match.
  const auto closed = MatchAll(kRowPattern, one_line + "</");
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(closed[0].SubMatches[0].size(), one_line.size() - kMarker.size());
}

TEST(MatchAll, BinaryNoiseAroundRows) {
  std::uint64_t state = 99;
  auto noise = [&state](std::size_t size) {
    std::string bytes(size, '\0');
    for (auto& byte : bytes) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      byte = static_cast<char>(state >> 56);
    }
    return bytes;
  };
  std::string text;
  std::vector<std::string> expected;
  for (int row = 0; row < 64; ++row) {
    text += noise(16384);
    text += '\n';  // keeps noise from running into the row's line
    expected.push_back("行" + std::to_string(row));
    text += std::string(kMarker) + expected.back() + "</td>\n";
  }
  EXPECT_EQ(FirstGroups(kRowPattern, text), expected);
  // Patterns full of wildcards over pure noise end too.
  try {
    MatchAll("(.+?)+\\x00(.*?)\\xFF", noise(1 << 14));
  } catch (const PatternError&) {
  }
}

}  // namespace
}  // namespace quenzil
