#include "app/texts.h"

#include "common/text_fit.h"

namespace quenzil {

namespace {

// A number after the blank that stands in the place of its sign, unpadded.
void AppendSignedStyle(std::string& text, int number) {
  text += ' ';
  text += std::to_string(number);
}

}  // namespace

std::string TitleText(const LocalDateTime& now) {
  std::string title(kTitlePrefix);
  AppendSignedStyle(title, now.year);
  title += '-';
  AppendSignedStyle(title, now.month);
  title += '-';
  AppendSignedStyle(title, now.day);
  title += ' ';
  AppendSignedStyle(title, now.hour);
  title += ':';
  AppendSignedStyle(title, now.minute);
  title += ':';
  AppendSignedStyle(title, now.second);
  return title;
}

std::string TrayTipText(std::string_view maker_host) {
  std::string tip(kTrayTipPrefix);
  tip += maker_host;
  return tip;
}

std::string ClipboardText(const std::vector<std::string>& rows) {
  std::size_t length = 0;
  for (const std::string& row : rows) length += row.size() + 2;
  std::string text;
  text.reserve(length);
  for (const std::string& row : rows) {
    text += row;
    text += "\r\n";
  }
  return text;
}

std::string RefreshPausedText(std::string_view service_name, std::string_view service_words, bool others_go_on) {
  // The news first, so a cut to the shell's length never loses it.
  std::string text = others_go_on ? "" : "后台刷新已暂停：";
  text += std::string(service_name) + " 没有接受账号";
  if (!service_words.empty()) text += "（" + CutCharacters(std::string(service_words), 60) + "）";
  text += others_go_on ? "，后台刷新改用其他查询服务。请在窗口菜单的“查询服务账号…”中检查后按“确定”。"
                       : "。请在窗口菜单的“查询服务账号…”中检查后按“确定”，或查询一次。";
  return text;
}

}  // namespace quenzil
