// Classification of arbitrary answers, decoded the way the fetch decodes
// them, and the row extraction against a hand-written extractor.
//
// Checks: the kind is the first marker found in table order; a marker kind
// gives exactly its advice message; a tracking answer gives rows that are
// substrings of the text with no line break in them; PatternError is the
// only exception, and only for tracking answers longer than a few KB. Up to
// that size ExtractTrackingRows must equal the reference below, on the
// decoded text and on the raw bytes alike (the engine works on bytes).
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "query/services/kuaidi100_old.h"
#include "web/charset.h"
#include "web/pattern.h"

namespace {

using quenzil::AnswerKind;
using quenzil_fuzz::AsText;

// Larger texts may legitimately make the engine give up.
constexpr std::size_t kReferenceLimit = 4096;

struct Marker {
  std::string_view word;
  AnswerKind kind;
};
constexpr std::array<Marker, 5> kMarkers{{
    {"\xE4\xB8\x8D\xE6\xAD\xA3\xE7\xA1\xAE", AnswerKind::kWrongNumber},   // 不正确
    {"\xE5\xBC\x82\xE5\xB8\xB8", AnswerKind::kAbnormal},                  // 异常
    {"\xE6\x9C\xAA\xE6\x94\xB6\xE5\xBD\x95", AnswerKind::kNotRecorded},   // 未收录
    {"\xE9\xAA\x8C\xE8\xAF\x81\xE7\xA0\x81", AnswerKind::kNeedsCaptcha},  // 验证码
    {"\xE6\x97\xB6\xE9\x97\xB4", AnswerKind::kTracking},                  // 时间
}};

AnswerKind ExpectedKind(std::string_view text) {
  for (const Marker& marker : kMarkers) {
    if (text.find(marker.word) != std::string_view::npos) return marker.kind;
  }
  return AnswerKind::kUnrecognised;
}

bool IsLineBreak(char c) { return c == '\n' || c == '\r' || c == '\f'; }

// "3px 5px;'>(.+?)</" by hand: at each opening, left to right, the group is
// the shortest non-empty run without a line break that is followed by "</";
// an opening without one is skipped, and after a match the search resumes
// behind its "</".
std::vector<std::string> ReferenceRows(std::string_view text) {
  constexpr std::string_view kOpening = "3px 5px;'>";
  std::vector<std::string> rows;
  std::size_t from = 0;
  while (true) {
    const std::size_t opening = text.find(kOpening, from);
    if (opening == std::string_view::npos) break;
    const std::size_t start = opening + kOpening.size();
    std::size_t end = std::string_view::npos;
    for (std::size_t k = start; k < text.size(); ++k) {
      if (IsLineBreak(text[k])) break;
      if (k > start && text.compare(k, 2, "</") == 0) {
        end = k;
        break;
      }
    }
    if (end == std::string_view::npos) {
      from = opening + 1;
      continue;
    }
    rows.emplace_back(text.substr(start, end - start));
    from = end + 2;
  }
  return rows;
}

void CheckExtraction(std::string_view text) {
  std::vector<std::string> rows;
  try {
    rows = quenzil::ExtractTrackingRows(text);
  } catch (const quenzil::PatternError&) {
    FUZZ_CHECK(text.size() > kReferenceLimit);
    return;
  }
  if (text.size() <= kReferenceLimit) FUZZ_CHECK(rows == ReferenceRows(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> body(data, size);
  const std::string text = quenzil::DecodeBytes(body);
  const AnswerKind expected = ExpectedKind(text);

  quenzil::Answer answer;
  try {
    answer = quenzil::ClassifyAnswer(text);
  } catch (const quenzil::PatternError&) {
    FUZZ_CHECK(expected == AnswerKind::kTracking);
    FUZZ_CHECK(text.size() > kReferenceLimit);
    return 0;
  }
  FUZZ_CHECK(answer.kind == expected);

  switch (answer.kind) {
    case AnswerKind::kUnrecognised:
      FUZZ_CHECK(answer.rows.empty());
      break;
    case AnswerKind::kTracking:
      for (const std::string& row : answer.rows) {
        FUZZ_CHECK(!row.empty());
        FUZZ_CHECK(text.find(row) != std::string::npos);
        for (const char c : row) FUZZ_CHECK(!IsLineBreak(c));
      }
      if (text.size() <= kReferenceLimit) FUZZ_CHECK(answer.rows == ReferenceRows(text));
      break;
    default: {
      const std::string_view advice = quenzil::AdviceMessage(answer.kind);
      FUZZ_CHECK(!advice.empty());
      FUZZ_CHECK(quenzil_fuzz::IsWellFormedUtf8(advice));
      FUZZ_CHECK(answer.rows.size() == 1);
      FUZZ_CHECK(answer.rows.front() == advice);
      break;
    }
  }

  // The extraction alone, whatever the markers say, on the text and on the
  // undecoded bytes.
  CheckExtraction(text);
  CheckExtraction(AsText(body));
  return 0;
}
