#include "web/fetch.h"

namespace quenzil {

std::string FetchFailureMessage(FetchFailure kind) {
  switch (kind) {
    case FetchFailure::kBadAddress:
      return "查询地址无效。";
    case FetchFailure::kNameNotResolved:
      return "找不到服务器，请检查网络连接。";
    case FetchFailure::kCannotConnect:
      return "无法连接到服务器，请检查网络连接或稍后再试。";
    case FetchFailure::kTimedOut:
      return "服务器长时间没有响应，请稍后再试。";
    case FetchFailure::kConnectionLost:
      return "连接中断，数据没有完整收到，请稍后再试。";
    case FetchFailure::kTooLarge:
      return "服务器返回的数据过大，已停止接收。";
    case FetchFailure::kTooManyRedirects:
      return "服务器的转向次数过多，无法取得结果。";
    case FetchFailure::kSecureChannel:
      return "安全连接失败，无法确认服务器的身份。请检查系统时间和网络环境（代理、防火墙）后再试。";
    case FetchFailure::kBadStatus:
      return "服务器返回了错误状态，没有给出结果，请稍后再试。";
    case FetchFailure::kOther:
      break;
  }
  return "网络请求失败，请稍后再试。";
}

bool IsUnreachable(FetchFailure kind) {
  switch (kind) {
    case FetchFailure::kNameNotResolved:
    case FetchFailure::kCannotConnect:
    case FetchFailure::kTimedOut:
    case FetchFailure::kConnectionLost:
    case FetchFailure::kSecureChannel:
      return true;
    default:
      return false;
  }
}

}  // namespace quenzil
