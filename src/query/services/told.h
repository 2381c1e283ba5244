// What every service's reader says the same way: an answer that did not
// come, and one that cannot be read.
#pragma once

#include <string>
#include <string_view>

#include "common/json_reader.h"
#include "query/services/service.h"

namespace quenzil {

inline constexpr std::string_view kUnreadableAnswer = "服务器返回的内容无法解析。";

// "查询失败：<sentence>", and the detail on a line of its own in brackets.
std::string FailureMessage(std::string_view sentence, std::string_view detail);

// The services answer with status 200 only: any other status (a proxy's
// 407, a 5xx page) makes the outcome a failure, whatever its body holds.
FetchOutcome WithStatusChecked(FetchOutcome outcome);

// Why a text is no answer at all (empty, too large, too deep, not JSON),
// for the detail line; empty when it can be read.
std::string ReadProblem(const json::Read& read);

// No answer came (or none the service gives with that status).
ServiceAnswer NotReached(const FetchOutcome& outcome);
// An answer that cannot be read, and what was wrong with it.
ServiceAnswer Unreadable(std::string_view detail);

}  // namespace quenzil
