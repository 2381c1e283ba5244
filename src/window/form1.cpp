#include "window/form1.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "query/carriers.h"
#include "query/couriers.h"
#include "query/tracking_number.h"

namespace quenzil {

namespace {

// The flag text that means a newer version exists; compared whole.
constexpr std::string_view kNewerVersionFlag = "2";

constexpr std::uint32_t kLeftButtonDown = 0x0201;   // WM_LBUTTONDOWN
constexpr std::uint32_t kRightButtonUp = 0x0205;    // WM_RBUTTONUP
constexpr std::uint32_t kContextMenu = 0x007B;      // WM_CONTEXTMENU
constexpr std::uint32_t kBalloonClicked = 0x0405;   // NIN_BALLOONUSERCLICK

// A copy retried while another program holds the clipboard.
constexpr int kCopyTries = 10;
constexpr std::chrono::milliseconds kCopyRetryDelay{30};
// Keys typed in 其他快递公司 further apart than this start a new word.
constexpr std::chrono::milliseconds kTypeAheadPause{1000};
// How often a box that waits for another looks again.
constexpr std::chrono::milliseconds kWaitingBoxesPoll{150};

std::optional<std::size_t> CarrierRowOf(std::string_view code) {
  for (std::size_t row = 0; row < CarrierTable.size(); ++row) {
    if (CarrierTable[row].service_code == code) return row;
  }
  return std::nullopt;
}

}  // namespace

Form1::Form1(FormView& view, Transfers& transfers, FormStores stores, const Clock& clock, DeployHosts hosts,
             StartOptions start)
    : view_(view),
      transfers_(transfers),
      stores_(stores),
      hosts_(std::move(hosts)),
      start_(std::move(start)),
      clock_(clock),
      tracker_(transfers, {stores.watch, stores.history, stores.settings}, *this, clock_, hosts_),
      modal_([this] { waiting_boxes_.Start(kWaitingBoxesPoll); }) {
  if (WatchListView* list_view = view_.watch_list_view()) {
    list_form_.emplace(*list_view,
                       WatchListForm::Host{tracker_, modal_, clock_, stores_.settings,
                                           [this](std::string text) { PutOnClipboard(std::move(text)); },
                                           [this](const ParcelKey& parcel) {
                                             if (const auto index = FindParcel(tracker_.list(), parcel.first, parcel.second)) {
                                               ShowWatchedParcel(*index);
                                             }
                                           }});
  }
}

std::string Form1::UpdateCheckUrl() const { return "http://" + hosts_.maker + "/gengxin.txt"; }
std::string Form1::MakerHomeUrl() const { return "http://" + hosts_.maker + "/"; }
std::string Form1::MakerLinkUrl() const { return "http://" + hosts_.maker; }
std::string Form1::TrackingHomeUrl() const { return "http://" + hosts_.tracking_home; }

// ---- start and end ---------------------------------------------------------

void Form1::Form_Load() {
  tracker_.LoadSettings();
  FetchRequest request;
  request.url = UpdateCheckUrl();
  request.limits = UpdateCheckLimits();
  update_check_ = transfers_.Start(std::move(request));
}

// The accounts are read once the window is up: the secrets' decryption
// need not hold up its first paint.
void Form1::LoadAccounts() {
  const CredentialStore::Loaded stored = stores_.credentials.Load();
  credentials_unreadable_ = stored.unreadable;
  tracker_.SetAccounts(stored.accounts);
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
  started_ = true;
  hidden_to_tray_ = start_.background && !start_.number;
  // Started at login: only the icon, unless there can be none.
  if (!hidden_to_tray_ || !UpdateTrayIcon()) {
    hidden_to_tray_ = false;
    view_.ShowFirstTime();
  }
  LoadAccounts();
  // The watch list is read once the window is up, so it never delays it.
  deferred_start_.Start(std::chrono::milliseconds{1});
  if (start_.number) HandOver(*std::exchange(start_.number, std::nullopt));
  if (std::exchange(start_.list, false)) WatchList_Click();
}

bool Form1::Form_QueryUnload() {
  if (ended_) return false;
  // A box is up already (the close came through the taskbar or the tray):
  // one question at a time.
  if (!modal_.clear()) return true;
  bool quit = false;
  {
    ModalGate::Scope modal(modal_);
    quit = view_.ConfirmOkCancel(kExitPrompt, kExitTitle);
  }
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
  modal_.Drop();
  tracker_.Stop();
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
  // A query from the window, a refresh of a watched parcel, or an outcome
  // nobody waits for any more.
  tracker_.OnTransferDone(id, outcome);
}

// ---- the query ---------------------------------------------------------------

void Form1::chaxun_Click() {
  if (ended_) return;
  QueryAsk ask;
  ask.number = view_.NumberText();
  if (!ask.number.empty()) {
    ask.chosen_row = SelectedCarrier([this](std::size_t table_row) { return view_.IsCarrierSelected(table_row); });
    const std::optional<std::size_t> other = ask.chosen_row ? std::nullopt : view_.OtherCourierPicked();
    if (other && *other < OtherCouriers().size()) ask.carrier_code = OtherCouriers()[*other]->code;
  }
  RunQuery(std::move(ask));
}

// The buttons and 其他快递公司 are one choice.
void Form1::Carrier_Click() { view_.PickOtherCourier(std::nullopt); }

void Form1::Combo1_Click() {
  if (view_.OtherCourierPicked()) view_.SelectCarrier(std::nullopt);
}

void Form1::Combo1_KeyPress(std::string_view character) {
  typed_ahead_ += character;
  type_ahead_.Start(kTypeAheadPause);
  std::optional<std::size_t> found = OtherCourierStartingWith(typed_ahead_);
  if (!found) found = OtherCourierStartingWith(typed_ahead_ = std::string(character));  // a new word
  if (!found) return;
  view_.PickOtherCourier(found);
  Combo1_Click();
}

void Form1::ShowPicked(std::string_view carrier_code) {
  const std::optional<std::size_t> row = CarrierRowOf(carrier_code);
  view_.SelectCarrier(row);
  std::optional<std::size_t> other;
  const auto& others = OtherCouriers();
  for (std::size_t index = 0; index < others.size() && !row; ++index) {
    if (others[index]->code == carrier_code) other = index;
  }
  view_.PickOtherCourier(other);
}

void Form1::RunQuery(QueryAsk ask) { tracker_.Query(std::move(ask)); }

void Form1::QueryStarted() {
  view_.ClearRows();
  shown_.reset();
}

void Form1::Rows(const QueryOutcome& outcome) {
  view_.AppendRows(outcome.rows);
  shown_ = outcome;
}

void Form1::Advice(const std::vector<std::string>& rows) { view_.AppendRows(rows); }

bool Form1::PhoneWanted(std::string_view carrier_name, std::string_view number) {
  modal_.WhenClear([this, carrier_name = std::string(carrier_name), number = std::string(number)] {
    // Another query may have started meanwhile: this one is over.
    if (ended_ || tracker_.asked_number() != number) return;
    std::optional<std::string> digits;
    {
      ModalGate::Scope modal(modal_);
      digits = view_.AskPhoneDigits(carrier_name, number);
    }
    if (!ended_) tracker_.PhoneDigits(std::move(digits));
  });
  return true;
}

void Form1::WakeAfter(std::optional<std::chrono::milliseconds> delay) {
  if (delay) {
    tracker_wake_.Start(*delay);
  } else {
    tracker_wake_.Stop();
  }
}

// A second start hands the number over; so does the command line.
void Form1::HandOver(const std::string& text) {
  RestoreWindow();
  if (!modal_.clear()) {
    modal_.WhenClear([this, text] { HandOver(text); });
    return;
  }
  const std::string number(TrimBlanks(text));
  view_.SetNumberText(number);
  if (IsTrackingNumber(TrackingNumberOf(number))) chaxun_Click();
}

// ---- the list ---------------------------------------------------------------

void Form1::Command1_Click() { PutOnClipboard(ClipboardText(view_.Rows())); }

void Form1::PutOnClipboard(std::string text) {
  pending_copy_ = std::move(text);
  copy_attempts_ = 1;
  if (view_.TryPutOnClipboard(pending_copy_)) {
    pending_copy_.clear();
    copy_attempts_ = 0;
    return;
  }
  // Another program holds the clipboard: try again shortly, without
  // holding up the window.
  clipboard_retry_.Start(kCopyRetryDelay);
}

void Form1::RetryCopy() {
  if (copy_attempts_ == 0) return;
  ++copy_attempts_;
  if (view_.TryPutOnClipboard(pending_copy_)) {
    pending_copy_.clear();
    copy_attempts_ = 0;
  } else if (copy_attempts_ < kCopyTries) {
    clipboard_retry_.Start(kCopyRetryDelay);
  } else {
    pending_copy_.clear();
    copy_attempts_ = 0;
    ShowMessage(kCopyFailedPrompt);
  }
}

void Form1::Command2_Click() {
  tracker_.CancelQuery();
  shown_.reset();
  view_.SetNumberText("");
  view_.ClearRows();
  view_.AppendRow(ResultPlaceholderLine);
}

bool Form1::OnTimer(unsigned timer_id) {
  if (ended_) return timer_id >= kFirstTimerId;
  return timers_.Fire(timer_id);
}

void Form1::Resumed() {
  if (!ended_) tracker_.OnWake();
}

void Form1::DeferredStart() {
  if (credentials_unreadable_) {
    credentials_unreadable_ = false;
    ShowMessage(kCredentialsUnreadablePrompt);
  }
  tracker_.LoadWatchList();
}

void Form1::List1_ContextMenu() {
  if (ended_ || !modal_.clear()) return;
  const ParcelMenu recent = RecentMenu(tracker_.Recent());
  const std::vector<MenuItem> items = {
      {commands::kCopy, std::string(kCopyCommand), true, false, {}},
      {commands::kWatch, std::string(kWatchCommand), shown_.has_value(), false, {}},
      {},
      {0, std::string(kRecentCommand), true, false, recent.items},
  };
  std::optional<int> chosen;
  {
    ModalGate::Scope modal(modal_);
    chosen = view_.ShowPopupMenu(items);
  }
  if (!chosen || ended_) return;
  if (*chosen == commands::kCopy) {
    Command1_Click();
  } else if (*chosen == commands::kWatch) {
    Watch_Click();
  } else if (*chosen == commands::kRecentClear) {
    tracker_.ClearRecent();
  } else {
    RunRecent(recent, *chosen);
  }
}

void Form1::RunRecent(const ParcelMenu& menu, int command) {
  const std::optional<ParcelKey> parcel =
      ParcelOfCommand(menu, command, commands::kRecentFirst, commands::kRecentStep);
  if (!parcel) return;
  QueryAsk ask;
  ask.number = parcel->first;
  ask.chosen_row = CarrierRowOf(parcel->second);
  // A courier outside the ten is asked for by its code.
  if (!ask.chosen_row) ask.carrier_code = parcel->second;
  view_.SetNumberText(ask.number);
  ShowPicked(parcel->second);
  RunQuery(std::move(ask));
}

// ---- the system menu -----------------------------------------------------------

SystemMenuState Form1::SystemMenuOpening() {
  SystemMenuState state;
  state.can_watch = shown_.has_value();
  const Autostart::State autostart = stores_.autostart.Read();
  state.autostart_on = autostart.registered && autostart.enabled;
  system_recent_ = RecentMenu(tracker_.Recent());
  state.recent = {0, std::string(kRecentCommand), true, false, system_recent_.items};
  return state;
}

bool Form1::SystemMenu_Click(int command) {
  if (ended_) return true;
  switch (command) {
    case commands::kKeySettings: KeySettings_Click(); return true;
    case commands::kWatch: Watch_Click(); return true;
    case commands::kAutostart: Autostart_Click(); return true;
    case commands::kWatchListWindow: WatchList_Click(); return true;
    case commands::kRecentClear:
      tracker_.ClearRecent();
      return true;
    default:
      break;
  }
  if (!ParcelOfCommand(system_recent_, command, commands::kRecentFirst, commands::kRecentStep)) return false;
  if (modal_.clear()) RunRecent(system_recent_, command);
  return true;
}

void Form1::Autostart_Click() {
  if (!modal_.clear()) return;
  const Autostart::State state = stores_.autostart.Read();
  const bool changed = state.registered && state.enabled ? stores_.autostart.TurnOff() : stores_.autostart.TurnOn();
  if (!changed) ShowMessage(kAutostartFailedPrompt);
}

void Form1::OfferAutostartOnce() {
  if (stores_.settings.LoadAutostartAsked() || stores_.autostart.Read().registered) return;
  bool yes = false;
  {
    ModalGate::Scope modal(modal_);
    yes = view_.AskYesNo(kAutostartPrompt, kSystemNoticeTitle);
  }
  stores_.settings.SaveAutostartAsked();
  if (yes && !ended_ && !stores_.autostart.TurnOn()) ShowMessage(kAutostartFailedPrompt);
}

void Form1::KeySettings_Click() {
  if (ended_ || !modal_.clear()) return;
  AccountSettings current{tracker_.accounts(), tracker_.mode(), {}};
  for (std::size_t index = 0; index < kServiceKeys.size(); ++index) {
    current.queries_this_month[index] = stores_.counter.ThisMonth(kServiceKeys[index]);
  }
  std::optional<AccountSettings> entered;
  {
    ModalGate::Scope modal(modal_);
    entered = view_.AskAccount(current);
  }
  if (!entered || ended_) return;
  bool saved = stores_.credentials.Save(entered->accounts);
  if (entered->refresh != tracker_.mode()) {
    saved = stores_.settings.SaveRefreshMode(entered->refresh) && saved;
    tracker_.SetMode(entered->refresh);
  }
  credentials_unreadable_ = false;
  tracker_.SetAccounts(entered->accounts);
  // Confirmed, perhaps after topping up an account or giving it courier
  // detection: both are asked again.
  tracker_.AccountConfirmed();
  if (!saved) ShowMessage(kCredentialsNotSavedPrompt);
}

// ---- the window, the clock, the links ------------------------------------------

void Form1::ShowMessage(std::string_view prompt, std::string_view title) {
  modal_.WhenClear([this, prompt = std::string(prompt), title = std::string(title)] {
    ModalGate::Scope modal(modal_);
    view_.ShowMessage(prompt, title);
  });
}

void Form1::Form_Activate() {
  if (ended_ || !started_ || !modal_.clear()) return;
  const std::string typed = view_.NumberText();
  if (!typed.empty()) return;
  const std::optional<ClipboardContent> clipboard = view_.ReadClipboard();
  if (!clipboard) return;
  if (const auto number = clipboard_offer_.Offer(clipboard->sequence, clipboard->text, typed)) {
    view_.SetNumberText(*number);
    view_.SelectNumberText();
  }
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

void Form1::SecondInstance_Activate(std::optional<std::string> handed_over) {
  if (ended_) return;
  if (!started_) {
    // Not up yet: it comes forward (with the number) once it is.
    start_.background = false;
    if (handed_over) start_.number = std::move(handed_over);
    return;
  }
  if (handed_over) {
    HandOver(*handed_over);
  } else {
    RestoreWindow();
  }
}

void Form1::SecondInstance_ShowList() {
  if (!started_) {
    start_.list = true;  // once the window is up
    return;
  }
  WatchList_Click();
}

void Form1::RestoreWindow() {
  view_.ShowWindow();
  if (hidden_to_tray_) {
    hidden_to_tray_ = false;
    UpdateTrayIcon();
  }
  Form_Activate();
}

// The icon is there while the window hides in it, and while anything is
// watched.
bool Form1::UpdateTrayIcon() {
  if (!hidden_to_tray_ && tracker_.list().parcels.empty()) {
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
      if (const auto& notified = tracker_.notified(); notified && modal_.clear()) {
        const auto index = FindParcel(tracker_.list(), notified->first, notified->second);
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
  if (ended_ || !modal_.clear()) return;
  if (!shown_) {
    ShowMessage(kWatchNeedsRowsPrompt);
    return;
  }
  if (FindParcel(tracker_.list(), shown_->number, shown_->carrier_code)) {
    ShowMessage(kWatchAlreadyPrompt);
    return;
  }
  if (tracker_.list().parcels.size() >= kMaxWatched) {
    ShowMessage(kWatchFullPrompt);
    return;
  }
  const QueryOutcome parcel = *shown_;
  std::optional<std::string> note;
  {
    ModalGate::Scope modal(modal_);
    note = view_.AskWatchNote(parcel.number);
  }
  if (!note || ended_) return;
  switch (tracker_.Watch(parcel, std::move(*note))) {
    case AddResult::kAdded:
      if (!tracker_.keyed()) ShowMessage(kWatchWithoutKeyPrompt);
      OfferAutostartOnce();
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
  if (!modal_.clear()) return;
  const ParcelMenu menu =
      quenzil::TrayMenu(tracker_.list(), clock_.Now(), {tracker_.loaded(), tracker_.refresh_paused()});
  std::optional<int> chosen;
  {
    ModalGate::Scope modal(modal_);
    chosen = view_.ShowPopupMenu(menu.items);
  }
  if (!chosen || ended_) return;
  switch (*chosen) {
    case commands::kShowWindow: RestoreWindow(); return;
    case commands::kExit: Form_QueryUnload(); return;
    case commands::kKeySettings: KeySettings_Click(); return;
    case commands::kWatchListWindow: WatchList_Click(); return;
    default: break;
  }
  if (const auto shown = ParcelOfCommand(menu, *chosen, commands::kShowParcelFirst)) {
    if (const auto index = FindParcel(tracker_.list(), shown->first, shown->second)) ShowWatchedParcel(*index);
  }
}

// Without a list window (a shell that has none) the main window comes
// forward.
void Form1::WatchList_Click() {
  if (ended_) return;
  if (!list_form_) return RestoreWindow();
  list_form_->Open();
}

void Form1::ListChanged() {
  UpdateTrayIcon();
  if (list_form_) list_form_->ListChanged();
}

std::vector<AddResult> Form1::Companion_Watch(std::vector<WatchedParcel> parcels) {
  return tracker_.WatchAll(std::move(parcels));
}

void Form1::ShowWatchedParcel(std::size_t index) {
  const WatchedParcel parcel = tracker_.list().parcels.at(index);
  RestoreWindow();
  tracker_.CancelQuery();
  view_.SetNumberText(parcel.number);
  ShowPicked(parcel.carrier);
  view_.ClearRows();
  view_.AppendRows(ParcelRows(parcel));
  shown_.reset();
}

}  // namespace quenzil
