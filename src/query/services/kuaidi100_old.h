// Reading the tracking service's answer: the marker words and the rows.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quenzil {

enum class AnswerKind {
  kWrongNumber,    // "不正确"
  kAbnormal,       // "异常"
  kNotRecorded,    // "未收录"
  kNeedsCaptcha,   // "验证码"
  kTracking,       // "时间"
  kUnrecognised,   // none of the five
};

inline constexpr std::string_view TrackingRowPattern = "3px 5px;'>(.+?)</";

struct Answer {
  AnswerKind kind = AnswerKind::kUnrecognised;
  std::vector<std::string> rows;  // what goes into List1, in order
};

// Tests the five markers in order; the first found decides. Throws
// PatternError if the extraction gives up.
Answer ClassifyAnswer(std::string_view text);

// The first group of every match of TrackingRowPattern, in text order.
std::vector<std::string> ExtractTrackingRows(std::string_view text);

// The advice message of a marker row (empty for kTracking/kUnrecognised).
std::string_view AdviceMessage(AnswerKind kind);

}  // namespace quenzil
