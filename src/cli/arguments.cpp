#include "cli/arguments.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "query/carriers.h"
#include "query/couriers.h"
#include "query/tracking_number.h"

namespace quenzil::cli {

namespace {

bool IsHelpWord(std::string_view word) { return word == "--help" || word == "-h" || word == "/?"; }

bool IsCourierCode(std::string_view code) {
  return !code.empty() && std::all_of(code.begin(), code.end(), [](char c) {
           return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
         });
}

bool IsPhoneDigits(std::string_view phone) {
  return phone.size() == 4 && std::all_of(phone.begin(), phone.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsOldAddressCourier(std::string_view code) {
  return std::any_of(CarrierTable.begin(), CarrierTable.end(),
                     [code](const Carrier& carrier) { return carrier.service_code == code; });
}

ParsedArguments Refused(std::string error) { return {std::nullopt, std::move(error)}; }

// The code a --courier value names; nullopt for a name the table lacks.
std::optional<std::string> CourierCodeOf(const std::string& value) {
  if (const Courier* courier = FindCourierNamed(value)) return std::string(courier->code);
  // A typo of the table's names would go to the service as a billed query.
  if (IsCourierCode(value) && !IsNearMissOfCourierTable(value)) return value;
  return std::nullopt;
}

std::string UnknownCourier(const std::string& value) {
  std::string error = "未知的快递公司：" + value + "。相近的有：";
  const std::vector<std::string_view> names = ClosestCourierNames(value);
  for (std::size_t index = 0; index < names.size(); ++index) error.append(index ? "、" : "").append(names[index]);
  return error;
}

}  // namespace

ParsedArguments ParseArguments(const std::vector<std::string>& arguments) {
  if (std::any_of(arguments.begin(), arguments.end(), [](const std::string& word) { return IsHelpWord(word); })) {
    Command help;
    help.kind = Command::Kind::kHelp;
    return {help, {}};
  }
  Command command;
  std::optional<std::string> number;
  std::optional<std::string> courier;
  std::optional<std::string> phone;
  std::optional<std::string> service;
  std::optional<std::string> note;
  std::optional<std::string> import;
  std::optional<std::string> export_to;
  bool json = false;
  bool watched = false;
  bool guess = false;
  bool watch = false;
  bool events = false;
  const std::vector<std::pair<std::string_view, bool*>> flags = {
      {"--json", &json}, {"--watched", &watched}, {"--guess", &guess}, {"--watch", &watch}, {"--events", &events}};
  const std::vector<std::pair<std::string_view, std::optional<std::string>*>> options = {
      {"--courier", &courier}, {"--phone", &phone},   {"--service", &service},
      {"--note", &note},       {"--import", &import}, {"--export", &export_to}};
  const auto find = [](const auto& table, std::string_view name) {
    const auto found = std::find_if(table.begin(), table.end(), [name](const auto& row) { return row.first == name; });
    return found == table.end() ? nullptr : found->second;
  };
  for (std::size_t index = 0; index < arguments.size(); ++index) {
    const std::string& word = arguments[index];
    if (bool* const flag = find(flags, word)) {
      if (*flag) return Refused("选项 " + word + " 重复");
      *flag = true;
    } else if (std::optional<std::string>* const found = find(options, word)) {
      std::optional<std::string>& value = *found;
      if (value) return Refused("选项 " + word + " 重复");
      // The next word is the value, unless it is itself an option.
      if (index + 1 == arguments.size() || arguments[index + 1].rfind("-", 0) == 0) {
        return Refused("选项 " + word + " 缺少取值");
      }
      value = arguments[++index];
    } else if (word.rfind("-", 0) == 0) {
      return Refused("未知的选项：" + word);
    } else if (number) {
      return Refused("只能查询一个单号，多余的参数：" + word);
    } else {
      number = std::string(TrimBlanks(word));
    }
  }
  command.json = json;
  if (import || export_to) {
    if (import && export_to) return Refused("--import 和 --export 不能同用");
    const char* const which = import ? "--import" : "--export";
    if (number || courier || phone || service || note || json || watched || guess || watch || (import && events)) {
      return Refused(std::string(which) + (import ? " 只能跟一个文件名" : " 只能跟一个文件名和 --events"));
    }
    command.kind = import ? Command::Kind::kImport : Command::Kind::kExport;
    command.file = import ? *import : *export_to;
    command.events = events;
    return {command, {}};
  }
  if (events) return Refused("--events 只能与 --export 同用");
  if (note && !watch) return Refused("--note 只能与 --watch 同用");
  if (watch && (json || watched || guess || service)) {
    return Refused("--watch 不能与 --json、--watched、--guess 或 --service 同用");
  }
  if (watched) {
    if (number || courier || phone || guess || service) {
      return Refused("--watched 不能与单号、--courier、--phone、--service 或 --guess 同用");
    }
    command.kind = Command::Kind::kWatched;
    return {command, {}};
  }
  if (!number || number->empty()) return Refused("请输入快递单号");
  if (guess && (courier || phone || service)) return Refused("--guess 不能与 --courier、--phone 或 --service 同用");
  if (service && std::find(kServiceKeys.begin(), kServiceKeys.end(), *service) == kServiceKeys.end()) {
    return Refused("--service 只能是 kuaidi100、kdniao 或 appcode：" + *service);
  }
  const std::optional<std::string> code = courier ? CourierCodeOf(*courier) : std::string();
  if (!code) return Refused(UnknownCourier(*courier));
  if (phone && !IsPhoneDigits(*phone)) return Refused("--phone 应为手机号码的后四位数字：" + *phone);
  command.kind = guess ? Command::Kind::kGuess : watch ? Command::Kind::kWatch : Command::Kind::kQuery;
  command.note = note.value_or("");
  command.number = std::move(*number);
  command.courier = *code;
  command.phone = phone.value_or("");
  command.service = service.value_or("");
  return {command, {}};
}

std::string CheckQuery(const Command& command, const Accounts& accounts) {
  if (command.kind != Command::Kind::kQuery) return {};
  const bool has_service = command.service == Kuaidi100Service::kKey   ? accounts.kuaidi100.complete()
                           : command.service == KdniaoService::kKey    ? accounts.kdniao.complete()
                           : command.service == AppCodeService::kKey   ? accounts.appcode.complete()
                                                                        : true;
  if (!has_service) return "没有设置" + std::string(ServiceNameOf(command.service)) + "的账号：--service " + command.service;
  if (accounts.any()) return {};
  if (command.courier.empty()) {
    return "没有设置查询服务账号，无法自动识别快递公司，请用 --courier 指定";
  }
  if (!IsOldAddressCourier(command.courier)) {
    return "没有设置查询服务账号时，--courier 只能是用法中列出的十家之一：" + command.courier;
  }
  return {};
}

}  // namespace quenzil::cli
