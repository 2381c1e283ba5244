#include "window/form1.h"

#include <exception>
#include <optional>
#include <utility>

#include "query/answer.h"
#include "query/carriers.h"
#include "web/pattern.h"

namespace quenzil {

namespace {

// The flag text that means a newer version exists; compared whole.
constexpr std::string_view kNewerVersionFlag = "2";

constexpr std::uint32_t kLeftButtonDown = 0x0201;  // WM_LBUTTONDOWN

std::string FailureMessage(std::string_view sentence, std::string_view detail) {
  std::string message = "查询失败：";
  message += sentence;
  if (!detail.empty()) {
    message += "\n（";
    message += detail;
    message += "）";
  }
  return message;
}

}  // namespace

Form1::Form1(FormView& view, Fetcher& fetcher, DeployHosts hosts)
    : view_(view), fetcher_(fetcher), hosts_(std::move(hosts)) {}

std::string Form1::UpdateCheckUrl() const { return "http://" + hosts_.maker + "/gengxin.txt"; }
std::string Form1::MakerHomeUrl() const { return "http://" + hosts_.maker + "/"; }
std::string Form1::MakerLinkUrl() const { return "http://" + hosts_.maker; }
std::string Form1::TrackingHomeUrl() const { return "http://" + hosts_.tracking_home; }

bool Form1::Form_Load() {
  std::string update_text;
  try {
    update_text = fetcher_.FetchText(UpdateCheckUrl(), UpdateCheckLimits());
  } catch (const std::exception&) {
    // An unreachable maker site must not keep the tool from starting.
    update_text.clear();
  }
  if (update_text == kNewerVersionFlag) {
    view_.ShowMessage(kUpdatePrompt, kUpdateTitle);
    view_.OpenInBrowser(MakerHomeUrl());
    view_.EndProgram();
    return false;
  }
  view_.AppendRow(ResultPlaceholderLine);
  return true;
}

bool Form1::Form_QueryUnload() {
  if (view_.ConfirmOkCancel(kExitPrompt, kExitTitle)) {
    view_.RemoveTrayIcon();
    view_.EndProgram();
    return false;
  }
  return true;
}

void Form1::Form_MouseMove() {
  view_.SetLinkBold(LinkLabel::kLabel3, false);
  view_.SetLinkBold(LinkLabel::kLabel5, false);
}

void Form1::TrayIcon_Notify(std::uint32_t mouse_message) {
  view_.SetLinkBold(LinkLabel::kLabel3, false);
  view_.SetLinkBold(LinkLabel::kLabel5, false);
  if (mouse_message == kLeftButtonDown) {
    view_.ShowWindow();
    view_.RemoveTrayIcon();
  }
}

void Form1::Timer1_Timer(const LocalDateTime& now) {
  std::string title = TitleText(now);
  if (title == shown_title_) return;  // a caption rewrite makes the title bar flicker
  view_.SetTitle(title);
  shown_title_ = std::move(title);
}

void Form1::chaxun_Click() {
  const std::uint64_t generation = ++list_generation_;
  view_.ClearRows();

  const std::string number = view_.NumberText();
  if (number.empty()) {
    view_.ShowMessage(kEnterNumberPrompt, kSystemNoticeTitle);
    return;
  }
  const std::optional<std::size_t> carrier =
      SelectedCarrier([this](std::size_t row) { return view_.IsCarrierSelected(row); });
  if (!carrier) return;

  const std::string url =
      BuildQueryUrl(hosts_.tracking_api, number, CarrierTable[*carrier].service_code);

  // Window events run during the fetch: a newer query or a clear may have
  // taken the list over, and then this query's outcome, good or bad, is moot.
  std::optional<std::string> failure;
  Answer answer;
  try {
    const std::string text = fetcher_.FetchText(url, hosts_.query_limits);
    if (generation != list_generation_) return;
    answer = ClassifyAnswer(text);
  } catch (const FetchError& error) {
    failure = FailureMessage(error.user_message(), error.cause());
  } catch (const PatternError& error) {
    failure = FailureMessage("服务器返回的内容无法解析。", error.what());
  } catch (const std::exception& error) {
    failure = FailureMessage("程序内部错误。", error.what());
  }
  if (generation != list_generation_) return;
  if (failure) {
    view_.ShowMessage(*failure, kQueryFailedTitle);
    return;
  }
  view_.AppendRows(answer.rows);
}

void Form1::Command1_Click() {
  if (!view_.PutOnClipboard(ClipboardText(view_.Rows()))) {
    view_.ShowMessage(kCopyFailedPrompt, kSystemNoticeTitle);
  }
}

void Form1::Command2_Click() {
  ++list_generation_;
  view_.SetNumberText("");
  view_.ClearRows();
  view_.AppendRow(ResultPlaceholderLine);
}

void Form1::Command4_Click() {
  if (!view_.AddTrayIcon(TrayTipText(hosts_.maker))) {
    // Hiding without an icon would leave no way back to the window.
    view_.ShowMessage(kTrayRefusedPrompt, kSystemNoticeTitle);
    return;
  }
  view_.HideWindow();
}

void Form1::Label3_Click() { view_.OpenInBrowser(TrackingHomeUrl()); }
void Form1::Label3_MouseMove() { view_.SetLinkBold(LinkLabel::kLabel3, true); }
void Form1::Label5_Click() { view_.OpenInBrowser(MakerLinkUrl()); }
void Form1::Label5_MouseMove() { view_.SetLinkBold(LinkLabel::kLabel5, true); }

}  // namespace quenzil
