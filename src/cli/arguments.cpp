#include "cli/arguments.h"

#include <algorithm>
#include <string_view>

#include "query/carriers.h"
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
  bool json = false;
  bool watched = false;
  for (std::size_t index = 0; index < arguments.size(); ++index) {
    const std::string& word = arguments[index];
    if (word == "--json" || word == "--watched") {
      bool& flag = word == "--json" ? json : watched;
      if (flag) return Refused("选项 " + word + " 重复");
      flag = true;
    } else if (word == "--courier" || word == "--phone") {
      std::optional<std::string>& value = word == "--courier" ? courier : phone;
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
  if (watched) {
    if (number || courier || phone) return Refused("--watched 不能与单号、--courier 或 --phone 同用");
    command.kind = Command::Kind::kWatched;
    return {command, {}};
  }
  if (!number || number->empty()) return Refused("请输入快递单号");
  if (courier && !IsCourierCode(*courier)) return Refused("快递公司编码只能由小写字母和数字组成：" + *courier);
  if (phone && !IsPhoneDigits(*phone)) return Refused("--phone 应为手机号码的后四位数字：" + *phone);
  command.number = std::move(*number);
  command.courier = courier.value_or("");
  command.phone = phone.value_or("");
  return {command, {}};
}

std::string CheckQuery(const Command& command, bool keyed) {
  if (command.kind != Command::Kind::kQuery || keyed) return {};
  if (command.courier.empty()) {
    return "没有设置快递100 授权，无法自动识别快递公司，请用 --courier 指定";
  }
  if (!IsOldAddressCourier(command.courier)) {
    return "没有设置快递100 授权时，--courier 只能是用法中列出的十家之一：" + command.courier;
  }
  return {};
}

}  // namespace quenzil::cli
