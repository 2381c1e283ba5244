#include "query/services/kuaidi100_old.h"

#include <array>
#include <utility>

#include "query/carriers.h"
#include "query/services/told.h"
#include "web/pattern.h"

namespace quenzil {

namespace {

struct MarkerRow {
  std::string_view marker;
  AnswerKind kind;
};

// Tested in this order; the first marker found decides.
constexpr std::array<MarkerRow, 5> ResponseMarkerTable{{
    {"不正确", AnswerKind::kWrongNumber},
    {"异常", AnswerKind::kAbnormal},
    {"未收录", AnswerKind::kNotRecorded},
    {"验证码", AnswerKind::kNeedsCaptcha},
    {"时间", AnswerKind::kTracking},
}};

constexpr std::string_view kRowOpening = "3px 5px;'>";
constexpr std::string_view kRowClosing = "</";

// The characters that "." of the pattern refuses.
bool IsLineBreak(char character) {
  return character == '\n' || character == '\r' || character == '\f';
}

}  // namespace

std::string_view AdviceMessage(AnswerKind kind) {
  switch (kind) {
    case AnswerKind::kWrongNumber:
      return "单号不正确或选择快递公司错误，请检查相关单号，或选择单号对应的快递公司再查询。";
    case AnswerKind::kAbnormal:
      return "单号异常，请检查单号和选择的快递公司有没有错，如果都正确，请稍后再试。";
    case AnswerKind::kNotRecorded:
      return "此单号未更新物流信息，请隔段时间再查询，或者到快递官网查询，谢谢！"
             "（请检查快递单号是否对应您所选择的快递公司）";
    case AnswerKind::kNeedsCaptcha:
      return "接口繁忙，需要验证码，可以过段时间查询，或者到快递公司查询。";
    case AnswerKind::kTracking:
    case AnswerKind::kUnrecognised:
      break;
  }
  return {};
}

// Neither the pattern's literals nor its "." can cross a line break, so no
// match spans two lines, and every match ends with "</". Hence each line can
// be cut just after its last "</" (nothing past it can end a match, and the
// lazy group still finds the same first "</"), and lines without the opening
// text can be left out. The kept pieces, joined by "\n", give exactly the
// matches of the whole text, while a line of unclosed openings no longer
// makes the engine rescan to the end of the line for each of them.
std::vector<std::string> ExtractTrackingRows(std::string_view text) {
  std::string searched;
  std::size_t line_start = 0;
  while (line_start < text.size()) {
    std::size_t line_end = line_start;
    while (line_end < text.size() && !IsLineBreak(text[line_end])) ++line_end;
    const std::string_view line = text.substr(line_start, line_end - line_start);
    line_start = line_end + 1;

    const std::size_t last_closing = line.rfind(kRowClosing);
    if (last_closing == std::string_view::npos) continue;
    const std::string_view kept = line.substr(0, last_closing + kRowClosing.size());
    if (kept.find(kRowOpening) == std::string_view::npos) continue;
    if (!searched.empty()) searched += '\n';
    searched += kept;
  }
  if (searched.empty()) return {};

  std::vector<std::string> rows;
  for (Match& match : MatchAll(TrackingRowPattern, searched)) {
    if (match.SubMatches.empty()) continue;
    rows.push_back(std::move(match.SubMatches.front()));
  }
  return rows;
}

Answer ClassifyAnswer(std::string_view text) {
  for (const MarkerRow& row : ResponseMarkerTable) {
    if (text.find(row.marker) == std::string_view::npos) continue;
    Answer answer;
    answer.kind = row.kind;
    if (row.kind == AnswerKind::kTracking) {
      answer.rows = ExtractTrackingRows(text);
    } else {
      answer.rows.emplace_back(AdviceMessage(row.kind));
    }
    return answer;
  }
  return Answer{};
}

FetchRequest OldAddressService::Query(const ServiceQuery& query) const {
  FetchRequest request;
  request.url = BuildQueryUrl(api_host_, query.number, query.courier);
  request.limits = limits_;
  return request;
}

ServiceAnswer OldAddressService::Read(const FetchOutcome& outcome) const {
  ServiceAnswer read;
  if (!outcome.ok) return NotReached(outcome);
  Answer answer;
  try {
    answer = ClassifyAnswer(outcome.text);
  } catch (const PatternError& error) {
    return Unreadable(error.what());
  }
  read.rows = std::move(answer.rows);
  // A page without a marker, or without the rows its 时间 promised: no rows
  // to show, as the window always had it.
  read.outcome = answer.kind == AnswerKind::kTracking && !read.rows.empty() ? Outcome::kRows : Outcome::kNoResultYet;
  return read;
}

}  // namespace quenzil
