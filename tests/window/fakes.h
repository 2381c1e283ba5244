// Fakes of what form1's handlers reach: the window, the transfers and the
// stores. They record what the handlers asked for.
#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "query/carriers.h"
#include "watch/watch_store.h"
#include "web/fetch.h"
#include "window/form_view.h"

namespace quenzil::testing {

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
  std::vector<std::string> rows;
  bool window_shown = false;
  bool shown_once = false;
  bool program_ended = false;
  std::string clipboard;
  std::map<FormTimer, std::chrono::milliseconds> timers;

  // How the platform and the user answer.
  bool confirm_answer = false;
  bool tray_accepts = true;
  int clipboard_busy_for = 0;  // attempts that find it held
  std::optional<std::string> phone_answer;

  // What was asked of it.
  std::vector<ShownMessage> messages;
  std::vector<std::string> tray_tips;
  int phone_asks = 0;
  mutable std::vector<std::size_t> carrier_reads;

  void SelectCarrierNamed(std::string_view control_name) {
    carrier_selected.fill(false);
    for (std::size_t row = 0; row < CarrierTable.size(); ++row) {
      if (CarrierTable[row].control_name == control_name) carrier_selected[row] = true;
    }
  }

  std::string NumberText() const override { return number_text; }
  void SetNumberText(std::string_view text) override { number_text = text; }
  bool IsCarrierSelected(std::size_t table_row) const override {
    carrier_reads.push_back(table_row);
    return carrier_selected.at(table_row);
  }
  void SelectCarrier(std::optional<std::size_t> table_row) override {
    carrier_selected.fill(false);
    if (table_row) carrier_selected.at(*table_row) = true;
  }
  void ClearRows() override { rows.clear(); }
  void AppendRow(std::string_view row) override { rows.emplace_back(row); }
  std::vector<std::string> Rows() const override { return rows; }

  void ShowMessage(std::string_view prompt, std::string_view caption) override {
    messages.push_back({std::string(prompt), std::string(caption)});
  }
  bool ConfirmOkCancel(std::string_view prompt, std::string_view caption) override {
    messages.push_back({std::string(prompt), std::string(caption)});
    return confirm_answer;
  }
  std::optional<Credentials> AskCredentials(const Credentials&) override { return std::nullopt; }
  std::optional<std::string> AskPhoneDigits(std::string_view, std::string_view) override {
    ++phone_asks;
    return phone_answer;
  }
  std::optional<std::string> AskWatchNote(std::string_view) override { return std::nullopt; }
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
  bool ShowNotification(std::string_view, std::string_view) override { return true; }
  bool TryPutOnClipboard(std::string_view text) override {
    if (clipboard_busy_for > 0) {
      --clipboard_busy_for;
      return false;
    }
    clipboard = text;
    return true;
  }
  void StartTimer(FormTimer timer, std::chrono::milliseconds delay) override { timers[timer] = delay; }
  void StopTimer(FormTimer timer) override { timers.erase(timer); }
  void OpenInBrowser(std::string_view) override {}
  void EndProgram() override { program_ended = true; }

  // Fires a started timer, as the window would.
  bool Fire(FormTimer timer) { return timers.erase(timer) != 0; }
};

// Transfers that never run by themselves: the test hands out the outcomes.
class FakeTransfers : public Transfers {
 public:
  struct Started {
    TransferId id = 0;
    FetchRequest request;
    bool cancelled = false;
  };
  std::vector<Started> started;

  TransferId Start(FetchRequest request) override {
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
  bool Save(const Credentials& credentials) override {
    stored.credentials = credentials;
    return true;
  }
  bool Clear() override {
    stored = {};
    return true;
  }
};

class FakeWatchStore : public WatchStore {
 public:
  Loaded Load() override { return {}; }
  bool Save(const WatchList&) override { return true; }
};

}  // namespace quenzil::testing
