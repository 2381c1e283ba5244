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
inline constexpr std::string_view kChooseCarrierPrompt = "请选择快递公司";
// After it, when couriers guessed from the number had no result.
inline constexpr std::string_view kGuessesTriedLead = "已按单号试查：";
inline constexpr std::string_view kGuessesTriedTail = "，都没有查询结果。";
inline constexpr std::string_view kOtherCouriersLabel = "其他快递公司";
// Before each service's reason, when every service asked failed.
inline constexpr std::string_view kEveryServiceFailedLead = "查询失败：每个查询服务都没能给出结果。";
inline constexpr std::string_view kNoServiceForCourierPrompt =
    "已设置的查询服务都不支持这家快递公司，请设置其他查询服务的账号，或选择其他快递公司。";

// Commands of the system menu, the list's menu and the tray menu.
inline constexpr std::string_view kKeySettingsCommand = "查询服务账号…";
inline constexpr std::string_view kWatchCommand = "关注此单号";
inline constexpr std::string_view kCopyCommand = "复制快递信息";
inline constexpr std::string_view kShowWindowCommand = "显示窗口";
inline constexpr std::string_view kUnwatchCommand = "取消关注";
inline constexpr std::string_view kWatchListCommand = "关注列表…";
inline constexpr std::string_view kExitCommand = "退出";
inline constexpr std::string_view kAutostartCommand = "开机自动启动";
inline constexpr std::string_view kRecentCommand = "最近查询";
inline constexpr std::string_view kRecentClearCommand = "清除最近查询";
inline constexpr std::string_view kRecentEmptyItem = "（无）";
inline constexpr std::string_view kWatchListLoadingItem = "正在读取关注列表…";
inline constexpr std::string_view kRefreshPausedItem = "后台刷新已暂停，请检查查询服务账号…";

inline constexpr std::string_view kCredentialsUnreadablePrompt =
    "保存的查询服务账号无法读取（可能是在其他用户或其他电脑上保存的），读不出的账号本次按未设置处理。"
    "请在窗口菜单的“查询服务账号…”中重新填写。";
inline constexpr std::string_view kCredentialsNotSavedPrompt =
    "查询服务账号没能保存，本次运行仍会使用刚才填写的账号。";
inline constexpr std::string_view kWatchNeedsRowsPrompt = "请先查询出物流信息，再关注此单号。";
inline constexpr std::string_view kWatchAlreadyPrompt = "此单号已在关注列表中。";
inline constexpr std::string_view kWatchFullPrompt = "最多只能关注200个单号，请先取消关注一些。";
inline constexpr std::string_view kWatchWithoutKeyPrompt =
    "已关注此单号。设置“查询服务账号…”后，程序会在后台定时刷新，有新动态时在通知区域提醒。";
inline constexpr std::string_view kWatchFileMovedPrompt =
    "关注列表文件无法读取，已改名保存为：\n";
inline constexpr std::string_view kWatchFileMovedTail = "\n关注列表从空开始。";
inline constexpr std::string_view kWatchFileStuckPrompt =
    "关注列表文件无法读取，也无法改名保存。为了不覆盖它，本次运行不会保存关注列表。";

inline constexpr std::string_view kWatchFileUntouchablePrompt =
    "关注列表文件的内容不是本程序能读取的格式（可能被其他程序或手工改动过）。为了不覆盖它，本次运行不会保存关注列表。";
inline constexpr std::string_view kWatchFileNewerPrompt =
    "关注列表文件是更新版本的程序保存的，本程序无法读取。为了不覆盖它，本次运行不会保存关注列表。";
inline constexpr std::string_view kWatchNotSavedTitle = "关注列表没能保存";
inline constexpr std::string_view kWatchNotSavedText =
    "关注列表文件无法写入（可能是只读或磁盘已满）。程序会在下次变化和退出时再试。";
inline constexpr std::string_view kRefreshPausedTitle = "查询服务账号";
inline constexpr std::string_view kAutostartPrompt = "要在开机时自动启动本程序，以便在后台继续关注单号吗？";
inline constexpr std::string_view kAutostartFailedPrompt = "无法更改开机自动启动的设置。";

struct LocalDateTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// "QuenzilV1.0-【Dravimo提供】    现在时间： 2013- 1- 20  9: 5: 7"
std::string TitleText(const LocalDateTime& now);

// The notification-area tip: the prefix and the maker's host.
std::string TrayTipText(std::string_view maker_host);

// Every row followed by CR LF, the last one too.
std::string ClipboardText(const std::vector<std::string>& rows);

// The notification when the service refuses the account in the background:
// 后台刷新已暂停, the service's words and what to do.
std::string RefreshPausedText(std::string_view service_name, std::string_view service_words, bool others_go_on);

}  // namespace quenzil
