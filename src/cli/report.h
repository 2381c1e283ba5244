// What the console companion prints and how it ends: the rows of a query,
// plain or as JSON, the watch list, the usage, and the exit code of each
// outcome. Portable; texts are UTF-8 with "\n" line ends (the platform
// layer writes "\r\n" to a console).
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "app/query_flow.h"
#include "query/couriers.h"
#include "watch/watch_list.h"

namespace quenzil::cli {

// The exit codes are a contract with scripts: one table, also shown in the
// usage.
enum class ExitCode : int { kRows = 0, kAdvice = 1, kFailure = 2, kUsage = 3 };

struct ExitCodeMeaning {
  ExitCode code;
  std::string_view meaning;
};

inline constexpr std::array<ExitCodeMeaning, 4> kExitCodes{{
    {ExitCode::kRows, "查询到物流信息，列出了关注列表，猜出了快递公司，单号都已加入关注列表，或导出了关注列表"},
    {ExitCode::kAdvice, "没有此单号的物流信息，输出的是提示；或猜不出快递公司；或有单号没能加入关注列表"},
    {ExitCode::kFailure, "查询失败，关注列表或要导入的文件无法读取，或关注列表、导出的文件无法写入；原因写在标准错误"},
    {ExitCode::kUsage, "参数不正确"},
}};

ExitCode ExitCodeOf(QueryOutcome::Kind kind);

struct Report {
  ExitCode exit_code = ExitCode::kRows;
  std::string out;  // standard output
  std::string err;  // standard error
};

// The rows one a line (or one JSON object); a failure's message on
// standard error and nothing on standard output. An advice without rows
// (a page of the old address that could not be read) is a failure. `ask`
// names the parcel of an advice, which the outcome does not.
Report QueryReport(const QueryOutcome& outcome, const QueryAsk& ask, bool json);

// The couriers guessed from the number, best first: "code<TAB>name" a line,
// or {"number":…,"candidates":[{"courier","courier_name","certain"},…]}.
Report GuessReport(std::string_view number, const std::vector<CourierGuess>& guesses, bool json);

// One line per parcel: carrier, number, note, state (（已完成） after it when
// put away); or {"parcels":[…]}.
Report WatchedReport(const WatchList& list, bool json);

Report FailureReport(std::string_view message);
// The reason, then the usage, on standard error.
Report UsageReport(std::string_view reason);
// The usage on standard output.
Report HelpReport();

std::string UsageText();

}  // namespace quenzil::cli
