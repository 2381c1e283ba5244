// What the end-to-end suites expect to see: the user-visible texts spelled
// out here rather than taken from the program's headers, so that a typo
// there fails a test, and the rows of the fixture answers.
#pragma once

#include <string>
#include <vector>

namespace e2e {

inline const std::wstring kPlaceholder = L"此处返回查询结果。";
inline const std::wstring kTitlePrefix = L"QuenzilV1.0-【Dravimo提供】    现在时间：";
inline const std::wstring kNoticeTitle = L"系统提示";
inline const std::wstring kEnterNumber = L"请输入快递单号";
inline const std::wstring kChooseCarrier = L"请选择快递公司";
inline const std::wstring kFailedTitle = L"查询失败";
inline const std::wstring kFailedPromptStart = L"查询失败：";
inline const std::wstring kUpdateTitle = L"更新提示";
inline const std::wstring kUpdatePrompt = L"程序已经更新，请到官网下载最新版本";
inline const std::wstring kExitTitle = L"退出确认";
inline const std::wstring kExitPrompt = L"您确定退出程序吗？建议缩小到后台方便下次查询哦。";

inline const std::wstring kWrongNumberAdvice =
    L"单号不正确或选择快递公司错误，请检查相关单号，或选择单号对应的快递公司再查询。";
inline const std::wstring kAbnormalAdvice =
    L"单号异常，请检查单号和选择的快递公司有没有错，如果都正确，请稍后再试。";
inline const std::wstring kNotRecordedAdvice =
    L"此单号未更新物流信息，请隔段时间再查询，或者到快递官网查询，谢谢！（请检查快递单号是否对应您所选择的快递公司）";
inline const std::wstring kCopyFailedPrompt = L"复制失败：剪贴板正被其他程序占用，请稍后再试。";
inline const std::wstring kCaptchaAdvice = L"接口繁忙，需要验证码，可以过段时间查询，或者到快递公司查询。";

// The rows of the answer "rows3" (and its GBK twin).
inline const std::vector<std::wstring> kThreeRows = {
    L"2013-01-18 21:02 【广州市】 快件已从 广州转运中心 发出",
    L"2013-01-19 08:15 【上海市】 快件已到达 上海转运中心",
    L"2013-01-20 09:05 【上海市】 已签收，签收人：本人",
};
// "utf8-four-byte": UTF-8 with characters outside the BMP (four-byte sequences).
inline const std::vector<std::wstring> kFourByteRows = {
    L"2013-01-19 08:15 【上海市】 快件已到达 \U0001F69A 上海转运中心",
    L"2013-01-20 09:05 【上海市】 已签收 \U0001F4E6，签收人：\U00020BB7先生",
};
// "rows-markup": a start tag stays in the row, up to the first "</".
inline const std::vector<std::wstring> kMarkupRows = {
    L"2013-01-19 10:00 派件员：<a href=x>link",
    L"2013-01-20 09:05 已签收",
};

}  // namespace e2e
