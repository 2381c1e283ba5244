// The tracking service's old public query address: the query of one of its
// ten couriers, and its answer read by its marker words and rows. No key,
// no events: its rows are text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "query/services/service.h"

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

class OldAddressService final : public TrackingService {
 public:
  OldAddressService(std::string api_host, FetchLimits limits) : api_host_(std::move(api_host)), limits_(limits) {}
  static constexpr std::string_view kKey = "kuaidi100";
  std::string_view key() const override { return kKey; }
  std::string_view name() const override { return "快递100"; }
  bool keyed() const override { return false; }
  // Whatever courier is picked: the address takes any code of 快递100's,
  // though it answers for fewer couriers every year.
  bool Serves(std::string_view courier) const override { return !courier.empty(); }
  // The number exactly as typed.
  FetchRequest Query(const ServiceQuery& query) const override;
  // A marker's advice, or the rows; a page that cannot be read is unreadable.
  ServiceAnswer Read(const FetchOutcome& outcome) const override;

 private:
  std::string api_host_;
  FetchLimits limits_;
};

}  // namespace quenzil
