// Fakes of what form1's handlers reach: the window, the transfers and the
// stores. They record what the handlers asked for.
#pragma once

#include <array>
#include <functional>
#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/deployment.h"
#include "app/form_view.h"
#include "app/settings.h"
#include "app/tracker.h"
#include "query/carriers.h"
#include "watch/history.h"
#include "watch/watch_store.h"
#include "web/fetch.h"

namespace quenzil::testing {

// The hosts form1's handlers are tested with; no quiet hours, so they run
// on the real clock.
inline const DeployHosts kFormHosts{"api.test:8080", "home.test", "maker.test", "poll.test", "detect.test",
                                    "kdniao.test", "appcode.test", {},
                                    {.interval = 3600, .offline_retry = 300, .requery_guard = 1800,
                                     .quiet_hours = std::nullopt}};

struct ShownMessage {
  std::string prompt;
  std::string title;
  bool operator==(const ShownMessage&) const = default;
};

class FakeFormView : public FormView {
 public:
  // The window's own state.
  std::string number_text;
  std::array<bool, CarrierTable.size()> carrier_selected{};
  std::optional<std::size_t> other_courier;  // 其他快递公司
  std::vector<std::string> rows;
  bool window_shown = false;
  bool shown_once = false;
  bool program_ended = false;
  std::string clipboard;
  // Armed one-shot timers by name: their number and delay.
  std::map<std::string, std::pair<unsigned, std::chrono::milliseconds>, std::less<>> timers;

  // How the platform and the user answer.
  bool confirm_answer = false;
  bool yes_answer = false;
  bool tray_accepts = true;
  int clipboard_busy_for = 0;  // attempts that find it held
  std::optional<std::string> phone_answer;
  std::optional<AccountSettings> account_answer;
  std::optional<std::string> note_answer;
  std::optional<ClipboardContent> clipboard_content;
  // Called while a box is up, as messages that arrive meanwhile would be.
  std::function<void()> while_box_is_up;

  // What was asked of it.
  std::vector<ShownMessage> messages;
  std::vector<std::string> tray_tips;
  std::vector<std::string> notifications;  // title|text
  std::optional<AccountSettings> account_shown;
  bool number_selected = false;
  int phone_asks = 0;
  mutable std::vector<std::size_t> carrier_reads;

  void SelectCarrierNamed(std::string_view control_name) {
    carrier_selected.fill(false);
    for (std::size_t row = 0; row < CarrierTable.size(); ++row) {
      if (CarrierTable[row].control_name == control_name) carrier_selected[row] = true;
    }
  }

  std::string NumberText() const override { return number_text; }
  void SetNumberText(std::string_view text) override {
    number_text = text;
    number_selected = false;
  }
  void SelectNumberText() override { number_selected = true; }
  bool IsCarrierSelected(std::size_t table_row) const override {
    carrier_reads.push_back(table_row);
    return carrier_selected.at(table_row);
  }
  void SelectCarrier(std::optional<std::size_t> table_row) override {
    carrier_selected.fill(false);
    if (table_row) carrier_selected.at(*table_row) = true;
  }
  std::optional<std::size_t> OtherCourierPicked() const override { return other_courier; }
  void PickOtherCourier(std::optional<std::size_t> index) override { other_courier = index; }
  void ClearRows() override { rows.clear(); }
  void AppendRow(std::string_view row) override { rows.emplace_back(row); }
  std::vector<std::string> Rows() const override { return rows; }

  void ShowMessage(std::string_view prompt, std::string_view caption) override {
    messages.push_back({std::string(prompt), std::string(caption)});
    BoxIsUp();
  }
  bool ConfirmOkCancel(std::string_view prompt, std::string_view caption) override {
    messages.push_back({std::string(prompt), std::string(caption)});
    BoxIsUp();
    return confirm_answer;
  }
  bool AskYesNo(std::string_view prompt, std::string_view caption) override {
    messages.push_back({std::string(prompt), std::string(caption)});
    BoxIsUp();
    return yes_answer;
  }
  std::optional<AccountSettings> AskAccount(const AccountSettings& current) override {
    account_shown = current;
    return account_answer;
  }
  std::optional<std::string> AskPhoneDigits(std::string_view, std::string_view) override {
    ++phone_asks;
    return phone_answer;
  }
  std::optional<std::string> AskWatchNote(std::string_view) override { return note_answer; }
  std::optional<int> ShowPopupMenu(const std::vector<MenuItem>&) override { return std::nullopt; }

  void SetTitle(std::string_view) override {}
  void SetLinkBold(LinkLabel, bool) override {}
  void ShowFirstTime() override { window_shown = shown_once = true; }
  void HideWindow() override { window_shown = false; }
  void ShowWindow() override { window_shown = true; }

  bool ShowTrayIcon(std::string_view tip) override {
    tray_tips.emplace_back(tip);
    return tray_accepts;
  }
  void RemoveTrayIcon() override {}
  bool ShowNotification(std::string_view title, std::string_view text) override {
    notifications.push_back(std::string(title) + "|" + std::string(text));
    return true;
  }
  bool TryPutOnClipboard(std::string_view text) override {
    if (clipboard_busy_for > 0) {
      --clipboard_busy_for;
      return false;
    }
    clipboard = text;
    return true;
  }
  std::optional<ClipboardContent> ReadClipboard() override { return clipboard_content; }
  void ArmTimer(unsigned id, std::string_view name, std::chrono::milliseconds delay) override {
    timers[std::string(name)] = {id, delay};
  }
  void DisarmTimer(unsigned id) override {
    std::erase_if(timers, [id](const auto& timer) { return timer.second.first == id; });
  }
  void OpenInBrowser(std::string_view) override {}
  void EndProgram() override { program_ended = true; }

  // Takes an armed timer off, as the window does when it fires: its number.
  std::optional<unsigned> Take(std::string_view name) {
    const auto found = timers.find(name);
    if (found == timers.end()) return std::nullopt;
    const unsigned id = found->second.first;
    timers.erase(found);
    return id;
  }

 private:
  void BoxIsUp() {
    if (!while_box_is_up) return;
    const auto meanwhile = std::move(while_box_is_up);
    while_box_is_up = nullptr;
    meanwhile();
  }
};

// Transfers that never run by themselves: the test hands out the outcomes.
// A request goes out as it starts, unless `sends` says it never leaves.
class FakeTransfers : public Transfers {
 public:
  struct Started {
    TransferId id = 0;
    FetchRequest request;
    bool cancelled = false;
  };
  std::vector<Started> started;
  bool sends = true;

  TransferId Start(FetchRequest request) override {
    if (sends && request.on_sent) request.on_sent();
    started.push_back({next_id_++, std::move(request), false});
    return started.back().id;
  }
  void Cancel(TransferId id) override {
    for (Started& transfer : started) {
      if (transfer.id == id) transfer.cancelled = true;
    }
  }
  const Started& Last() const { return started.back(); }
  std::size_t NotCancelled() const {
    std::size_t count = 0;
    for (const Started& transfer : started) count += transfer.cancelled ? 0 : 1;
    return count;
  }

 private:
  TransferId next_id_ = 1;
};

class FakeCredentialStore : public CredentialStore {
 public:
  Loaded stored;
  Loaded Load() override { return stored; }
  bool Save(const Accounts& accounts) override {
    stored.accounts = accounts;
    return true;
  }
};

class FakeWatchStore : public WatchStore {
 public:
  Loaded stored;
  int busy_for = 0;  // loads that find the file held by another program
  bool save_works = true;
  int saves = 0;
  Loaded Load() override {
    if (busy_for > 0) {
      --busy_for;
      Loaded busy;
      busy.busy = true;
      return busy;
    }
    return stored;
  }
  bool Save(const WatchList& list) override {
    ++saves;
    if (save_works) stored.list = list;
    return save_works;
  }
};

class FakeHistoryStore : public HistoryStore {
 public:
  History history;
  History Load() override { return history; }
  bool Update(const std::function<void(History&)>& change) override {
    change(history);
    return true;
  }
};

class FakeSettingsStore : public SettingsStore {
 public:
  RefreshMode mode = RefreshMode::kSmart;
  bool paused = false;
  bool autostart_asked = false;
  bool detection_refused = false;
  RefreshMode LoadRefreshMode() override { return mode; }
  bool SaveRefreshMode(RefreshMode value) override {
    mode = value;
    return true;
  }
  // 快递100's pause as `paused`, the others' by key.
  bool LoadPaused(std::string_view service) override {
    return service == "kuaidi100" ? paused : others_paused.count(std::string(service)) > 0;
  }
  bool SavePaused(std::string_view service, bool value) override {
    if (service == "kuaidi100") {
      paused = value;
    } else if (value) {
      others_paused.insert(std::string(service));
    } else {
      others_paused.erase(std::string(service));
    }
    return true;
  }
  std::set<std::string> others_paused;
  bool LoadAutostartAsked() override { return autostart_asked; }
  bool SaveAutostartAsked() override {
    autostart_asked = true;
    return true;
  }
  bool LoadDetectionRefused() override { return detection_refused; }
  bool SaveDetectionRefused(bool value) override { return (detection_refused = value, true); }
  std::string placement;
  std::string LoadWatchListPlacement() override { return placement; }
  bool SaveWatchListPlacement(std::string_view value) override { return (placement = value, true); }
};

class FakeQueryCounter : public QueryCounter {
 public:
  std::uint32_t count = 0;  // 快递100's
  std::map<std::string, std::uint32_t, std::less<>> others;
  void CountOne(std::string_view service) override {
    if (service == "kuaidi100") {
      ++count;
    } else {
      ++others[std::string(service)];
    }
  }
  std::uint32_t ThisMonth(std::string_view service) override {
    if (service == "kuaidi100") return count;
    const auto found = others.find(service);
    return found == others.end() ? 0 : found->second;
  }
};

// A clock the test moves: the wall clock and the steady ticks.
class FakeClock : public Clock {
 public:
  explicit FakeClock(UnixSeconds start) : now(start) {}
  UnixSeconds Now() const override { return now; }
  std::int64_t UtcOffset(UnixSeconds) const override { return 0; }
  std::chrono::milliseconds Ticks() const override { return ticks; }
  UnixSeconds now;
  std::chrono::milliseconds ticks{0};
};

class FakeAutostart : public Autostart {
 public:
  State state;
  bool works = true;
  State Read() override { return state; }
  bool TurnOn() override {
    if (works) state = {true, true};
    return works;
  }
  bool TurnOff() override {
    if (works) state = {};
    return works;
  }
};

}  // namespace quenzil::testing
