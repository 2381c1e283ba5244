// The program's one state model of a parcel. A state is a short code, the
// one written in the watch list and the last queries: the codes the files
// have always held. Every tracking service maps its own states onto these
// in its own file; nothing else reads a service's states.
#pragma once

#include <string>
#include <string_view>

#include "query/tracking.h"

namespace quenzil::states {

inline constexpr std::string_view kInTransit = "0";
inline constexpr std::string_view kInDeliveryCity = "1001";
inline constexpr std::string_view kTrunk = "1002";
inline constexpr std::string_view kForwarded = "1003";
inline constexpr std::string_view kPickedUp = "1";
inline constexpr std::string_view kOrdered = "101";
inline constexpr std::string_view kAwaitingPickUp = "102";
inline constexpr std::string_view kCollectedFromSender = "103";
inline constexpr std::string_view kProblem = "2";
inline constexpr std::string_view kOverdueUnsigned = "201";
inline constexpr std::string_view kNotUpdated = "202";
inline constexpr std::string_view kRefused = "203";
inline constexpr std::string_view kDeliveryFailed = "204";
inline constexpr std::string_view kNotCollectedInTime = "205";  // waits at a locker or station past its time
inline constexpr std::string_view kUnreachable = "206";
inline constexpr std::string_view kOutOfArea = "207";
inline constexpr std::string_view kStranded = "208";
inline constexpr std::string_view kDamaged = "209";
inline constexpr std::string_view kCancelledOrder = "210";
inline constexpr std::string_view kSigned = "3";
inline constexpr std::string_view kSignedInPerson = "301";
inline constexpr std::string_view kSignedAfterProblem = "302";
inline constexpr std::string_view kSignedByOther = "303";
inline constexpr std::string_view kSignedAtPickupPoint = "304";
inline constexpr std::string_view kReturnSigned = "4";
inline constexpr std::string_view kCancelled = "401";
inline constexpr std::string_view kOutForDelivery = "5";
inline constexpr std::string_view kAtPickupPoint = "501";
inline constexpr std::string_view kReturning = "6";
inline constexpr std::string_view kRedirected = "7";
inline constexpr std::string_view kCustoms = "8";
inline constexpr std::string_view kAwaitingCustoms = "10";
inline constexpr std::string_view kInCustoms = "11";
inline constexpr std::string_view kCleared = "12";
inline constexpr std::string_view kCustomsProblem = "13";
inline constexpr std::string_view kRejected = "14";

}  // namespace quenzil::states

namespace quenzil {

// The state as the list shows it: "0" → "在途", "3" → "已签收", "501" →
// "投柜或驿站", …; a code the model does not know, as it is.
std::string StateText(std::string_view state);

// Signed for, or a state of 签收 (3, 301–304), 退签 (4) or 已销单 (401):
// nothing more will happen. Any other state, known or not, is not final.
bool IsFinal(const TrackingResult& result);
// 退签 or 已销单: the parcel went back, or never went.
bool IsReturnedState(std::string_view state);

// What List1 shows: "<carrier name>  <state>", then per event (oldest
// first) its time row and its context row, each one line.
std::vector<std::string> ResultRows(const TrackingResult& result, std::string_view carrier_name);

}  // namespace quenzil
