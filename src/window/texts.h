// Fixed texts of the main window and the texts it builds.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quenzil {

inline constexpr std::string_view ResultPlaceholderLine = "此处返回查询结果。";
inline constexpr std::string_view kTitlePrefix = "QuenzilV1.0-【Dravimo提供】    现在时间：";
inline constexpr std::string_view kTrayTipPrefix = "QuenzilV1.0-【Dravimo提供】-";

inline constexpr std::string_view kSystemNoticeTitle = "系统提示";
inline constexpr std::string_view kEnterNumberPrompt = "请输入快递单号";
inline constexpr std::string_view kUpdatePrompt = "程序已经更新，请到官网下载最新版本";
inline constexpr std::string_view kUpdateTitle = "更新提示";
inline constexpr std::string_view kExitPrompt = "您确定退出程序吗？建议缩小到后台方便下次查询哦。";
inline constexpr std::string_view kExitTitle = "退出确认";
inline constexpr std::string_view kQueryFailedTitle = "查询失败";
inline constexpr std::string_view kCopyFailedPrompt =
    "复制失败：剪贴板正被其他程序占用，请稍后再试。";
inline constexpr std::string_view kTrayRefusedPrompt =
    "无法在通知区域显示图标，窗口将保持显示。";

struct LocalDateTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// "QuenzilV1.0-【Dravimo提供】    现在时间： 2013- 1- 20  9: 5: 7"
std::string TitleText(const LocalDateTime& now);

// The notification-area tip: the prefix and the maker's host.
std::string TrayTipText(std::string_view maker_host);

// Every row followed by CR LF, the last one too.
std::string ClipboardText(const std::vector<std::string>& rows);

}  // namespace quenzil
