#include "window/form1.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <utility>

#include "common/local_time.h"
#include "query/answer.h"
#include "query/carriers.h"
#include "web/pattern.h"

namespace quenzil {

namespace {

// The flag text that means a newer version exists; compared whole.
constexpr std::string_view kNewerVersionFlag = "2";

constexpr std::uint32_t kLeftButtonDown = 0x0201;   // WM_LBUTTONDOWN
constexpr std::uint32_t kRightButtonUp = 0x0205;    // WM_RBUTTONUP
constexpr std::uint32_t kContextMenu = 0x007B;      // WM_CONTEXTMENU
constexpr std::uint32_t kBalloonClicked = 0x0405;   // NIN_BALLOONUSERCLICK

// The service's answer codes the window treats on its own.
constexpr std::string_view kNoResultYet = "500";
constexpr std::string_view kPhoneMismatch = "408";

// A copy retried while another program holds the clipboard.
constexpr int kCopyTries = 10;
constexpr std::chrono::milliseconds kCopyRetryDelay{30};
// Timers are re-armed at least this often, so a wake-up is never missed
// after the machine slept.
constexpr UnixSeconds kLongestWakeSeconds = 600;

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

std::optional<std::size_t> CarrierRowOf(std::string_view code) {
  for (std::size_t row = 0; row < CarrierTable.size(); ++row) {
    if (CarrierTable[row].service_code == code) return row;
  }
  return std::nullopt;
}

}  // namespace

Form1::Form1(FormView& view, Transfers& transfers, CredentialStore& credentials,
             WatchStore& watch_store, DeployHosts hosts)
    : view_(view),
      transfers_(transfers),
      credential_store_(credentials),
      watch_store_(watch_store),
      hosts_(std::move(hosts)),
      keeper_(transfers, *this, hosts_.watch_schedule, hosts_.tracking_poll, hosts_.query_limits) {}

std::string Form1::UpdateCheckUrl() const { return "http://" + hosts_.maker + "/gengxin.txt"; }
std::string Form1::MakerHomeUrl() const { return "http://" + hosts_.maker + "/"; }
std::string Form1::MakerLinkUrl() const { return "http://" + hosts_.maker; }
std::string Form1::TrackingHomeUrl() const { return "http://" + hosts_.tracking_home; }

// ---- start and end ---------------------------------------------------------

void Form1::Form_Load() {
  const CredentialStore::Loaded stored = credential_store_.Load();
  credentials_ = stored.credentials;
  credentials_unreadable_ = stored.unreadable;
  keeper_.SetCredentials(credentials_);

  FetchRequest request;
  request.url = UpdateCheckUrl();
  request.limits = UpdateCheckLimits();
  update_check_ = transfers_.Start(std::move(request));
}

void Form1::FinishUpdateCheck(const FetchOutcome& outcome) {
  // A failed check counts as "no newer version": an unreachable maker site
  // must not keep the tool from starting.
  if (outcome.ok && outcome.text == kNewerVersionFlag) {
    ShowMessage(kUpdatePrompt, kUpdateTitle);
    view_.OpenInBrowser(MakerHomeUrl());
    EndProgram();
    return;
  }
  view_.AppendRow(ResultPlaceholderLine);
  view_.ShowFirstTime();
  // The watch list is read once the window is up, so it never delays it.
  view_.StartTimer(FormTimer::kDeferredStart, std::chrono::milliseconds{1});
}

void Form1::LoadWatchList() {
  WatchStore::Loaded loaded = watch_store_.Load();
  keeper_.Load(std::move(loaded.list));  // the icon follows through WatchListChanged
  if (credentials_unreadable_) {
    credentials_unreadable_ = false;
    ShowMessage(kCredentialsUnreadablePrompt);
  }
  if (loaded.moved_aside) {
    if (loaded.moved_aside->empty()) {
      ShowMessage(kWatchFileStuckPrompt);
    } else {
      ShowMessage(std::string(kWatchFileMovedPrompt) + *loaded.moved_aside +
                  std::string(kWatchFileMovedTail));
    }
  }
}

bool Form1::Form_QueryUnload() {
  if (ended_) return false;
  // A box is up already (the close came through the taskbar or the tray):
  // one question at a time.
  if (modal_depth_ > 0) return true;
  ++modal_depth_;
  const bool quit = view_.ConfirmOkCancel(kExitPrompt, kExitTitle);
  --modal_depth_;
  if (!quit || ended_) return !ended_;
  EndProgram();
  return false;
}

void Form1::Form_EndSession() {
  if (ended_) return;
  EndProgram();
}

void Form1::EndProgram() {
  if (ended_) return;
  ended_ = true;
  keeper_.Stop();
  CancelQuery();
  if (update_check_) transfers_.Cancel(*update_check_);
  update_check_.reset();
  view_.EndProgram();
}

void Form1::OnTransferDone(TransferId id, const FetchOutcome& outcome) {
  if (ended_) return;
  if (update_check_ && *update_check_ == id) {
    update_check_.reset();
    FinishUpdateCheck(outcome);
    return;
  }
  if (query_ && query_->transfer == id) {
    ActiveQuery finished = std::move(*query_);
    query_.reset();
    switch (finished.kind) {
      case QueryKind::kOld: FinishOldQuery(finished, outcome); break;
      case QueryKind::kDetect: FinishDetect(finished, outcome); break;
      case QueryKind::kPoll: FinishPoll(std::move(finished), outcome); break;
    }
    return;
  }
  // A refresh of a watched parcel, or an outcome nobody waits for any more.
  keeper_.OnTransferDone(id, outcome);
}

// ---- the query ---------------------------------------------------------------

void Form1::chaxun_Click() {
  if (ended_) return;
  const std::string number = view_.NumberText();
  std::optional<std::size_t> row;
  if (!number.empty()) {
    row = SelectedCarrier([this](std::size_t table_row) { return view_.IsCarrierSelected(table_row); });
    if (row && detected_ && detected_->second == *row && detected_->first != number &&
        credentials_.complete()) {
      // Detection's pick for another number: unselected, so the user can
      // pick that courier for this one.
      row.reset();
      detected_.reset();
      view_.SelectCarrier(std::nullopt);
    }
  }
  // Pressed again (or Enter held down) while the same query is on its way:
  // its answer is coming, nothing new is asked.
  if (query_ && !number.empty() && query_->number == number && query_->chosen_row == row &&
      (query_->kind != QueryKind::kOld) == credentials_.complete()) {
    return;
  }
  CancelQuery();
  view_.ClearRows();
  shown_.reset();

  if (number.empty()) {
    ShowMessage(kEnterNumberPrompt);
    return;
  }
  if (!row) {
    if (!credentials_.complete()) {
      ShowMessage(kChooseCarrierPrompt);
      return;
    }
    StartDetect(number, std::nullopt);
    return;
  }
  if (!credentials_.complete()) {
    StartOldQuery(number, *row);
    return;
  }
  ActiveQuery query;
  query.kind = QueryKind::kPoll;
  query.number = number;
  query.chosen_row = row;
  query.carrier_code = std::string(CarrierTable[*row].service_code);
  query.carrier_name = CarrierName(query.carrier_code);
  query.phone = PhoneFor(number, query.carrier_code);
  StartPoll(std::move(query));
}

void Form1::StartOldQuery(const std::string& number, std::size_t row) {
  FetchRequest request;
  request.url = BuildQueryUrl(hosts_.tracking_api, number, CarrierTable[row].service_code);
  request.limits = hosts_.query_limits;
  ActiveQuery query;
  query.kind = QueryKind::kOld;
  query.number = number;
  query.chosen_row = row;
  query.carrier_code = std::string(CarrierTable[row].service_code);
  query.transfer = transfers_.Start(std::move(request));
  query_ = std::move(query);
}

void Form1::StartDetect(const std::string& number, std::optional<std::size_t> chosen_row) {
  ActiveQuery query;
  query.kind = QueryKind::kDetect;
  query.number = number;
  query.chosen_row = chosen_row;
  query.transfer = transfers_.Start(
      BuildDetectRequest(hosts_.tracking_detect, number, credentials_.key, hosts_.query_limits));
  query_ = std::move(query);
}

void Form1::StartPoll(ActiveQuery query) {
  query.kind = QueryKind::kPoll;
  query.transfer = transfers_.Start(BuildPollRequest(hosts_.tracking_poll, credentials_, query.carrier_code,
                                                     query.number, query.phone, hosts_.query_limits));
  query_ = std::move(query);
}

void Form1::CancelQuery() {
  if (query_) transfers_.Cancel(query_->transfer);
  query_.reset();
}

void Form1::ShowQueryFailure(std::string_view sentence, std::string_view detail) {
  // Nothing the user sees may carry the key.
  ShowMessage(WithoutSecret(FailureMessage(sentence, detail), credentials_.key), kQueryFailedTitle);
}

void Form1::FinishOldQuery(const ActiveQuery& query, const FetchOutcome& outcome) {
  if (!outcome.ok) {
    ShowQueryFailure(FetchFailureMessage(outcome.failure), outcome.cause);
    return;
  }
  Answer answer;
  try {
    answer = ClassifyAnswer(outcome.text);
  } catch (const PatternError& error) {
    ShowQueryFailure(kUnreadableAnswer, error.what());
    return;
  }
  view_.AppendRows(answer.rows);
  if (answer.kind == AnswerKind::kTracking && !answer.rows.empty()) {
    shown_ = ShownParcel{query.number, query.carrier_code, CarrierName(query.carrier_code), {}, std::nullopt};
  }
}

void Form1::FinishDetect(const ActiveQuery& query, const FetchOutcome& outcome) {
  if (!outcome.ok) {
    ShowQueryFailure(FetchFailureMessage(outcome.failure), outcome.cause);
    return;
  }
  const DetectionAnswer answer = ReadDetectionAnswer(outcome.text);
  switch (answer.kind) {
    case DetectionAnswer::Kind::kMalformed:
      ShowQueryFailure(kUnreadableAnswer, answer.malformed);
      return;
    case DetectionAnswer::Kind::kFailure:
      // Not a parcel number, an expired key: either way the user picks.
      ShowMessage(std::string(kChooseCarrierPrompt) + "\n\n自动识别失败：" +
                  ServiceFailureText(answer.failure, credentials_.key));
      return;
    case DetectionAnswer::Kind::kCandidates:
      break;
  }
  if (answer.candidates.empty()) {
    ShowMessage(kChooseCarrierPrompt);
    return;
  }
  const CarrierCandidate& best = answer.candidates.front();
  const std::optional<std::size_t> row = CarrierRowOf(best.code);
  if (row) {
    view_.SelectCarrier(row);
    detected_.emplace(query.number, *row);
  }
  ActiveQuery poll;
  poll.number = query.number;
  // The press that started this chose no courier; pressing again with the
  // detected one selected is the same query.
  poll.chosen_row = row;
  poll.carrier_code = best.code;
  poll.carrier_name = CarrierName(best.code, best.name);
  poll.phone = PhoneFor(query.number, best.code);
  StartPoll(std::move(poll));
}

void Form1::FinishPoll(ActiveQuery query, const FetchOutcome& outcome) {
  if (!outcome.ok) {
    ShowQueryFailure(FetchFailureMessage(outcome.failure), outcome.cause);
    return;
  }
  const PollAnswer answer = ReadPollAnswer(outcome.text);
  switch (answer.kind) {
    case PollAnswer::Kind::kMalformed:
      ShowQueryFailure(kUnreadableAnswer, answer.malformed);
      return;
    case PollAnswer::Kind::kFailure:
      break;
    case PollAnswer::Kind::kResult: {
      // The parcel is the number as typed, however the answer spells it.
      TrackingResult result = answer.result;
      result.number = query.number;
      view_.AppendRows(ResultRows(result, query.carrier_name));
      keeper_.TakeUserResult(result, query.carrier_code);
      shown_ = ShownParcel{query.number, query.carrier_code, query.carrier_name, query.phone, std::move(result)};
      return;
    }
  }
  const ServiceFailure& failure = answer.failure;
  if (failure.return_code == kNoResultYet) {
    // Like the old service's 未收录: advice in the list, not a failure box.
    view_.AppendRow(AdviceMessage(AnswerKind::kNotRecorded));
    return;
  }
  if (failure.return_code == kPhoneMismatch && !query.phone_asked) {
    ++modal_depth_;
    const std::optional<std::string> digits = view_.AskPhoneDigits(query.carrier_name, query.number);
    --modal_depth_;
    // Another query may have started meanwhile (from the tray), or the
    // program may be ending: then this one is over.
    if (!digits || ended_ || query_) return;
    query.phone = *digits;
    query.phone_asked = true;
    StartPoll(std::move(query));
    return;
  }
  ShowMessage(ServiceFailureText(failure, credentials_.key), kQueryFailedTitle);
}

std::string Form1::PhoneFor(std::string_view number, std::string_view carrier_code) const {
  const auto index = FindParcel(keeper_.list(), number, carrier_code);
  return index ? keeper_.list().parcels[*index].phone : std::string();
}

// ---- the list ---------------------------------------------------------------

void Form1::Command1_Click() {
  pending_copy_ = ClipboardText(view_.Rows());
  copy_attempts_ = 1;
  if (view_.TryPutOnClipboard(pending_copy_)) {
    pending_copy_.clear();
    copy_attempts_ = 0;
    return;
  }
  // Another program holds the clipboard: try again shortly, without
  // holding up the window.
  view_.StartTimer(FormTimer::kClipboardRetry, kCopyRetryDelay);
}

void Form1::Command2_Click() {
  CancelQuery();
  shown_.reset();
  view_.SetNumberText("");
  view_.ClearRows();
  view_.AppendRow(ResultPlaceholderLine);
}

void Form1::OnTimer(FormTimer timer) {
  if (ended_) return;
  switch (timer) {
    case FormTimer::kClipboardRetry:
      if (copy_attempts_ == 0) return;
      ++copy_attempts_;
      if (view_.TryPutOnClipboard(pending_copy_)) {
        pending_copy_.clear();
        copy_attempts_ = 0;
      } else if (copy_attempts_ < kCopyTries) {
        view_.StartTimer(FormTimer::kClipboardRetry, kCopyRetryDelay);
      } else {
        pending_copy_.clear();
        copy_attempts_ = 0;
        ShowMessage(kCopyFailedPrompt);
      }
      return;
    case FormTimer::kWatchWake:
      keeper_.OnWake();
      return;
    case FormTimer::kDeferredStart:
      LoadWatchList();
      return;
  }
}

void Form1::List1_ContextMenu() {
  if (ended_ || modal_depth_ > 0) return;
  const std::vector<MenuItem> items = {
      {commands::kCopy, std::string(kCopyCommand), true, {}},
      {commands::kWatch, std::string(kWatchCommand), CanWatchShown(), {}},
  };
  ++modal_depth_;
  const std::optional<int> chosen = view_.ShowPopupMenu(items);
  --modal_depth_;
  if (!chosen || ended_) return;
  if (*chosen == commands::kCopy) Command1_Click();
  if (*chosen == commands::kWatch) Watch_Click();
}

// ---- the window, the clock, the links ------------------------------------------

void Form1::ShowMessage(std::string_view prompt, std::string_view title) {
  ++modal_depth_;
  view_.ShowMessage(prompt, title);
  --modal_depth_;
}

void Form1::Form_MouseMove() {
  view_.SetLinkBold(LinkLabel::kLabel3, false);
  view_.SetLinkBold(LinkLabel::kLabel5, false);
}

void Form1::Timer1_Timer(const LocalDateTime& now) {
  std::string title = TitleText(now);
  if (title == shown_title_) return;  // a caption rewrite makes the title bar flicker
  view_.SetTitle(title);
  shown_title_ = std::move(title);
}

void Form1::Command4_Click() {
  hidden_to_tray_ = true;
  if (!UpdateTrayIcon()) {
    // Hiding without an icon would leave no way back to the window.
    hidden_to_tray_ = false;
    UpdateTrayIcon();
    ShowMessage(kTrayRefusedPrompt);
    return;
  }
  view_.HideWindow();
}

void Form1::Label3_Click() { view_.OpenInBrowser(TrackingHomeUrl()); }
void Form1::Label3_MouseMove() { view_.SetLinkBold(LinkLabel::kLabel3, true); }
void Form1::Label5_Click() { view_.OpenInBrowser(MakerLinkUrl()); }
void Form1::Label5_MouseMove() { view_.SetLinkBold(LinkLabel::kLabel5, true); }

void Form1::SecondInstance_Activate() {
  if (ended_ || update_check_) return;  // not shown yet: it will be shortly
  RestoreWindow();
}

void Form1::RestoreWindow() {
  view_.ShowWindow();
  if (hidden_to_tray_) {
    hidden_to_tray_ = false;
    UpdateTrayIcon();
  }
}

// The icon is there while the window hides in it, and while anything is
// watched.
bool Form1::UpdateTrayIcon() {
  if (!hidden_to_tray_ && keeper_.empty()) {
    view_.RemoveTrayIcon();
    return true;
  }
  return view_.ShowTrayIcon(TrayTipText(hosts_.maker));
}

void Form1::TrayIcon_Notify(std::uint32_t mouse_message) {
  if (ended_) return;
  view_.SetLinkBold(LinkLabel::kLabel3, false);
  view_.SetLinkBold(LinkLabel::kLabel5, false);
  switch (mouse_message) {
    case kLeftButtonDown:
      RestoreWindow();
      return;
    case kRightButtonUp:
    case kContextMenu:
      TrayMenu();
      return;
    case kBalloonClicked:
      // Not while a box or dialog is up: the parcel would replace what it asks about.
      if (notified_parcel_ && modal_depth_ == 0) {
        const auto index = FindParcel(keeper_.list(), notified_parcel_->first, notified_parcel_->second);
        if (index) {
          ShowWatchedParcel(*index);
          return;
        }
      }
      RestoreWindow();
      return;
    default:
      return;
  }
}

void Form1::TrayIcon_Recreated(bool added) {
  // There must always be a way back to a hidden window.
  if (!added && hidden_to_tray_) {
    hidden_to_tray_ = false;
    view_.ShowWindow();
  }
}

// ---- watching ----------------------------------------------------------------

void Form1::Watch_Click() {
  if (ended_ || modal_depth_ > 0) return;
  if (!shown_) {
    ShowMessage(kWatchNeedsRowsPrompt);
    return;
  }
  if (FindParcel(keeper_.list(), shown_->number, shown_->carrier_code)) {
    ShowMessage(kWatchAlreadyPrompt);
    return;
  }
  if (keeper_.list().parcels.size() >= kMaxWatched) {
    ShowMessage(kWatchFullPrompt);
    return;
  }
  const ShownParcel parcel = *shown_;
  ++modal_depth_;
  const std::optional<std::string> note = view_.AskWatchNote(parcel.number);
  --modal_depth_;
  if (!note || ended_) return;

  WatchedParcel entry;
  if (parcel.result) {
    entry = ParcelFromResult(*parcel.result, parcel.carrier_name, parcel.phone, *note, Now());
  } else {
    // From the old service's rows: fetched at the first refresh.
    entry.number = parcel.number;
    entry.note = *note;
    entry.added = Now();
  }
  // The number as the user typed it names the parcel, whatever the answer
  // spelled.
  entry.number = parcel.number;
  entry.carrier = parcel.carrier_code;
  entry.carrier_name = parcel.carrier_name;
  switch (keeper_.Add(std::move(entry))) {
    case AddResult::kAdded:
      if (!credentials_.complete()) ShowMessage(kWatchWithoutKeyPrompt);
      return;
    case AddResult::kAlreadyWatched:
      ShowMessage(kWatchAlreadyPrompt);
      return;
    case AddResult::kFull:
      ShowMessage(kWatchFullPrompt);
      return;
  }
}

void Form1::TrayMenu() {
  if (modal_depth_ > 0) return;
  const UnixSeconds now = Now();
  // Parcels are named by number and carrier, not by index: the list may
  // change while the menu is open.
  std::vector<std::pair<std::string, std::string>> parcels;
  std::vector<MenuItem> items;
  MenuItem unwatch{0, std::string(kUnwatchCommand), true, {}};
  const auto& watched = keeper_.list().parcels;
  for (std::size_t index = 0; index < watched.size(); ++index) {
    parcels.emplace_back(watched[index].number, watched[index].carrier);
    const std::string label = MenuLabel(watched[index], now);
    items.push_back({commands::kShowParcelFirst + static_cast<int>(index), label, true, {}});
    unwatch.submenu.push_back({commands::kUnwatchFirst + static_cast<int>(index), label, true, {}});
  }
  if (!items.empty()) {
    items.push_back({});
    items.push_back(std::move(unwatch));
    items.push_back({});
  }
  items.push_back({commands::kShowWindow, std::string(kShowWindowCommand), true, {}});
  items.push_back({commands::kExit, std::string(kExitCommand), true, {}});

  ++modal_depth_;
  const std::optional<int> chosen = view_.ShowPopupMenu(items);
  --modal_depth_;
  if (chosen && !ended_) RunMenuCommand(*chosen, parcels);
}

void Form1::RunMenuCommand(int command, const std::vector<std::pair<std::string, std::string>>& parcels) {
  if (command == commands::kShowWindow) {
    RestoreWindow();
    return;
  }
  if (command == commands::kExit) {
    Form_QueryUnload();
    return;
  }
  // Each parcel's two commands count from their own base, far apart.
  const auto parcel_at = [&](int first) -> const std::pair<std::string, std::string>* {
    const int index = command - first;
    if (index < 0 || static_cast<std::size_t>(index) >= parcels.size()) return nullptr;
    return &parcels[static_cast<std::size_t>(index)];
  };
  if (const auto* parcel = parcel_at(commands::kUnwatchFirst)) {
    keeper_.Remove(parcel->first, parcel->second);
  } else if (const auto* shown = parcel_at(commands::kShowParcelFirst)) {
    if (const auto index = FindParcel(keeper_.list(), shown->first, shown->second)) ShowWatchedParcel(*index);
  }
}

void Form1::ShowWatchedParcel(std::size_t index) {
  const WatchedParcel& parcel = keeper_.list().parcels.at(index);
  RestoreWindow();
  CancelQuery();
  view_.SetNumberText(parcel.number);
  view_.SelectCarrier(CarrierRowOf(parcel.carrier));
  view_.ClearRows();
  view_.AppendRows(ParcelRows(parcel));
  shown_.reset();
}

void Form1::KeySettings_Click() {
  if (ended_ || modal_depth_ > 0) return;
  ++modal_depth_;
  const std::optional<Credentials> entered = view_.AskCredentials(credentials_);
  --modal_depth_;
  if (!entered || ended_) return;
  bool saved = false;
  if (entered->customer.empty() && entered->key.empty()) {
    saved = credential_store_.Clear();
  } else {
    saved = credential_store_.Save(*entered);
  }
  credentials_ = *entered;
  credentials_unreadable_ = false;
  keeper_.SetCredentials(credentials_);
  if (!saved) ShowMessage(kCredentialsNotSavedPrompt);
}

// ---- WatchHost ----------------------------------------------------------------

UnixSeconds Form1::Now() const {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::int64_t Form1::UtcOffset(UnixSeconds at) const { return LocalUtcOffset(at); }

void Form1::RefreshPausedForAccount(const ServiceFailure&) {}

void Form1::WakeAt(std::optional<UnixSeconds> when) {
  if (ended_) return;
  if (!when) {
    view_.StopTimer(FormTimer::kWatchWake);
    return;
  }
  const UnixSeconds wait = std::clamp<UnixSeconds>(*when - Now(), 0, kLongestWakeSeconds);
  // A moment past the due second, so the keeper finds the entry due.
  view_.StartTimer(FormTimer::kWatchWake, std::chrono::seconds{wait} + std::chrono::milliseconds{50});
}

bool Form1::Save(const WatchList& list) { return watch_store_.Save(list); }

void Form1::Notify(std::string_view number, std::string_view carrier, std::string_view title,
                   std::string_view text) {
  if (ended_) return;
  if (view_.ShowNotification(title, text)) notified_parcel_.emplace(number, carrier);
}

void Form1::WatchListChanged() {
  if (!ended_) UpdateTrayIcon();
}

}  // namespace quenzil
