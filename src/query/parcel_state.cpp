#include "query/parcel_state.h"

#include <algorithm>
#include <array>

#include "common/text_fit.h"

namespace quenzil {

namespace {

using namespace states;

struct StateName {
  std::string_view state;
  std::string_view text;
};

constexpr std::array<StateName, 36> kStateTexts{{
    {kInTransit, "在途"},
    {kInDeliveryCity, "到达派件城市"},
    {kTrunk, "干线"},
    {kForwarded, "转递"},
    {kPickedUp, "揽收"},
    {kOrdered, "已下单"},
    {kAwaitingPickUp, "待揽收"},
    {kCollectedFromSender, "已揽收"},
    {kProblem, "疑难"},
    {kOverdueUnsigned, "超时未签收"},
    {kNotUpdated, "超时未更新"},
    {kRefused, "拒收"},
    {kDeliveryFailed, "派件异常"},
    {kNotCollectedInTime, "柜或驿站超时未取"},
    {kUnreachable, "无法联系"},
    {kOutOfArea, "超区"},
    {kStranded, "滞留"},
    {kDamaged, "破损"},
    {kCancelledOrder, "销单"},
    {kSigned, "已签收"},
    {kSignedInPerson, "本人签收"},
    {kSignedAfterProblem, "派件异常后签收"},
    {kSignedByOther, "代签"},
    {kSignedAtPickupPoint, "投柜或站签收"},
    {kReturnSigned, "退签"},
    {kCancelled, "已销单"},
    {kOutForDelivery, "派件"},
    {kAtPickupPoint, "投柜或驿站"},
    {kReturning, "退回"},
    {kRedirected, "转投"},
    {kCustoms, "清关"},
    {kAwaitingCustoms, "待清关"},
    {kInCustoms, "清关中"},
    {kCleared, "已清关"},
    {kCustomsProblem, "清关异常"},
    {kRejected, "拒签"},
}};

// Nothing more happens to a parcel in these states: signed for (3 and its
// finer states), sent back and signed for by the sender (4), cancelled (401).
// A state not named here, known or not, never ends the refreshes.
constexpr std::array<std::string_view, 5> kSignedStates{kSigned, kSignedInPerson, kSignedAfterProblem,
                                                        kSignedByOther, kSignedAtPickupPoint};
constexpr std::array<std::string_view, 2> kReturnedStates{kReturnSigned, kCancelled};

template <std::size_t N>
bool OneOf(const std::array<std::string_view, N>& states, std::string_view state) {
  return std::find(states.begin(), states.end(), state) != states.end();
}

}  // namespace

std::string StateText(std::string_view state) {
  for (const StateName& row : kStateTexts) {
    if (row.state == state) return std::string(row.text);
  }
  return std::string(state);
}

bool IsReturnedState(std::string_view state) { return OneOf(kReturnedStates, state); }

bool IsFinal(const TrackingResult& result) {
  return result.signed_for || IsReturnedState(result.state) || OneOf(kSignedStates, result.state);
}

std::vector<std::string> ResultRows(const TrackingResult& result, std::string_view carrier_name) {
  std::vector<std::string> rows;
  rows.reserve(1 + 2 * result.events.size());
  rows.push_back(OneLine(std::string(carrier_name) + "  " + StateText(result.state)));
  for (const TrackingEvent& event : result.events) {
    rows.push_back(OneLine(event.time));
    rows.push_back(OneLine(event.context));
  }
  return rows;
}

}  // namespace quenzil
