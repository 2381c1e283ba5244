#include "cli/report.h"

#include <nlohmann/json.hpp>

#include <utility>

#include "app/texts.h"
#include "common/times.h"
#include "query/carriers.h"
#include "query/couriers.h"
#include "query/parcel_state.h"
#include "query/services/told.h"

namespace quenzil::cli {

namespace {

// Keys in the order the README shows them.
using Json = nlohmann::ordered_json;

// Network text is not trusted to be valid UTF-8: a bad byte is replaced
// rather than ending the program.
std::string Dump(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n"; }

Json TextOrNull(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }

Json EventsJson(const std::vector<TrackingEvent>& events) {
  Json list = Json::array();
  for (const TrackingEvent& event : events) {
    list.push_back({{"time", event.time}, {"context", event.context}, {"area", event.area}, {"status", event.status}});
  }
  return list;
}

std::string Lines(const std::vector<std::string>& rows) {
  std::string text;
  for (const std::string& row : rows) text += row + "\n";
  return text;
}

Json QueryJson(const QueryOutcome& outcome, const QueryAsk& ask) {
  // An advice names no parcel of its own: it is of the one asked for.
  const std::string& number = outcome.number.empty() ? ask.number : outcome.number;
  const std::string& code = outcome.carrier_code.empty() ? ask.carrier_code : outcome.carrier_code;
  Json object;
  object["number"] = number;
  object["courier"] = TextOrNull(code);
  object["courier_name"] =
      code.empty() ? Json(nullptr) : Json(outcome.carrier_name.empty() ? CarrierName(code) : outcome.carrier_name);
  object["state"] = outcome.result ? Json(outcome.result->state) : Json(nullptr);
  object["state_text"] = outcome.result ? Json(StateText(outcome.result->state)) : Json(nullptr);
  object["service"] = TextOrNull(outcome.service);
  object["rows"] = outcome.rows;
  object["events"] = outcome.result ? EventsJson(outcome.result->events) : Json(nullptr);
  object["kept"] = outcome.kept;
  return object;
}

// The state, and where the parcel is kept: put away, it is in 已完成.
std::string StateOf(const WatchedParcel& parcel) {
  const std::string state = parcel.state.empty() ? std::string("等待刷新") : StateText(parcel.state);
  return parcel.put_away == 0 ? state : state + "（已完成）";
}

}  // namespace

ExitCode ExitCodeOf(QueryOutcome::Kind kind) {
  switch (kind) {
    case QueryOutcome::Kind::kRows: return ExitCode::kRows;
    case QueryOutcome::Kind::kAdvice: return ExitCode::kAdvice;
    case QueryOutcome::Kind::kFailure:
    case QueryOutcome::Kind::kNotice:
    case QueryOutcome::Kind::kNothing: break;
  }
  return ExitCode::kFailure;
}

Report QueryReport(const QueryOutcome& outcome, const QueryAsk& ask, bool json) {
  const ExitCode code = ExitCodeOf(outcome.kind);
  if (code == ExitCode::kFailure) {
    return FailureReport(outcome.prompt.empty() ? std::string("查询失败") : outcome.prompt);
  }
  // The old address's page without a marker word, or without the rows its
  // 时间 promised: the window shows nothing, a script must learn it failed.
  if (outcome.kind == QueryOutcome::Kind::kAdvice && outcome.rows.empty()) {
    return FailureReport(std::string("查询失败：") + std::string(kUnreadableAnswer));
  }
  return {code, json ? Dump(QueryJson(outcome, ask)) : Lines(outcome.rows), {}};
}

Report GuessReport(std::string_view number, const std::vector<CourierGuess>& guesses, bool json) {
  Report report;
  report.exit_code = guesses.empty() ? ExitCode::kAdvice : ExitCode::kRows;
  if (json) {
    Json candidates = Json::array();
    for (const CourierGuess& guess : guesses) {
      candidates.push_back({{"courier", guess.courier->code}, {"courier_name", guess.courier->name},
                            {"certain", guess.certain}});
    }
    report.out = Dump(Json{{"number", number}, {"candidates", std::move(candidates)}});
    return report;
  }
  for (const CourierGuess& guess : guesses) {
    report.out.append(guess.courier->code).append("\t").append(guess.courier->name).append("\n");
  }
  return report;
}

Report WatchedReport(const WatchList& list, bool json) {
  Report report;
  if (json) {
    Json parcels = Json::array();
    for (const WatchedParcel& parcel : list.parcels) {
      Json object;
      object["number"] = parcel.number;
      object["courier"] = parcel.carrier;
      object["courier_name"] = CarrierName(parcel.carrier, parcel.carrier_name);
      object["note"] = TextOrNull(parcel.note);
      object["state"] = TextOrNull(parcel.state);
      object["state_text"] = parcel.state.empty() ? Json(nullptr) : Json(StateText(parcel.state));
      object["signed"] = parcel.signed_for;
      object["last_checked"] = TextOrNull(IsoUtc(parcel.last_checked));
      object["put_away"] = TextOrNull(IsoUtc(parcel.put_away));
      object["events"] = EventsJson(parcel.events);
      parcels.push_back(std::move(object));
    }
    report.out = Dump(Json{{"parcels", std::move(parcels)}});
    return report;
  }
  for (const WatchedParcel& parcel : list.parcels) {
    std::string line = CarrierName(parcel.carrier, parcel.carrier_name) + "  " + parcel.number;
    if (!parcel.note.empty()) line += "  " + parcel.note;
    report.out += line + "  " + StateOf(parcel) + "\n";
  }
  return report;
}

Report FailureReport(std::string_view message) { return {ExitCode::kFailure, {}, std::string(message) + "\n"}; }

Report UsageReport(std::string_view reason) {
  return {ExitCode::kUsage, {}, std::string(reason) + "\n\n" + UsageText()};
}

Report HelpReport() { return {ExitCode::kRows, UsageText(), {}}; }

std::string UsageText() {
  std::string couriers;
  for (const Carrier& carrier : CarrierTable) couriers.append(" ").append(carrier.service_code);
  std::string text =
      "用法：\n"
      "  quenzilc <单号> [--courier 名称] [--phone 后四位] [--service 服务] [--json]\n"
      "  quenzilc --guess <单号> [--json]\n"
      "  quenzilc --watched [--json]\n"
      "  quenzilc --watch <单号> [--courier 名称] [--note 备注] [--phone 后四位]\n"
      "  quenzilc --import <文件>\n"
      "  quenzilc --export <文件> [--events]\n"
      "  quenzilc --help\n"
      "\n"
      "用 Quenzil 的查询服务账号和设置查询单号的物流信息，每行输出一条。\n"
      "  --courier 名称   快递公司的名称或编码，例如 极兔、京东、顺丰速运、jtexpress。有查询服务账号时\n"
      "                   可以省略（按单号找出快递公司）；没有账号时必须指定，且只能是以下之一：\n"
      "                  " + couriers + "\n"
      "  --phone 后四位   寄件人或收件人手机号码的后四位（顺丰等快递公司需要）\n"
      "  --service 服务   只用这一个查询服务：kuaidi100、kdniao 或 appcode（默认按设置的顺序依次尝试）\n"
      "  --json           输出一个 JSON 对象（UTF-8）\n"
      "  --watched        列出关注的单号（只读取关注列表，不联网）\n"
      "  --guess          只按单号的样子猜快递公司（不联网），每行一家：编码<Tab>名称，最可能的在前\n"
      "  --watch          关注这个单号（不写 --courier 时按单号猜快递公司），--note 是备注；\n"
      "                   程序窗口在运行时由它加入，立即显示在关注列表中\n"
      "  --import 文件    从 CSV 或制表符分隔的文件（Excel“另存为”的 CSV 即可）加入多个单号，\n"
      "                   每行输出一条：已加入、已在关注列表，或未加入和原因\n"
      "  --export 文件    把关注列表写成 CSV 文件（UTF-8，Excel 可直接打开），每个单号一行；\n"
      "                   加 --events 则每条物流动态一行\n"
      "  -h, --help, /?   显示本说明\n"
      "\n"
      "退出码：\n";
  for (const ExitCodeMeaning& row : kExitCodes) {
    text.append("  ").append(std::to_string(static_cast<int>(row.code))).append("  ").append(row.meaning).append("\n");
  }
  return text;
}

}  // namespace quenzil::cli
