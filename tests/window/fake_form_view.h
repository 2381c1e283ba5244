// A FormView that records what the handlers do to the window.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "query/carriers.h"
#include "window/form1.h"

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
  std::string title;
  bool label3_bold = false;
  bool label5_bold = false;
  bool window_shown = true;
  bool tray_icon_present = false;
  bool program_ended = false;
  std::string clipboard;

  // How the platform answers.
  bool confirm_answer = false;
  bool tray_accepts = true;
  bool clipboard_free = true;

  // What was asked of it.
  std::vector<ShownMessage> messages;
  std::vector<std::string> opened_urls;
  std::vector<std::string> tray_tips;
  int title_sets = 0;
  int confirm_asks = 0;
  int tray_removals = 0;
  // Carrier rows read, in order.
  mutable std::vector<std::size_t> carrier_reads;

  void SelectCarrier(std::string_view control_name) {
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

  void ClearRows() override { rows.clear(); }
  void AppendRow(std::string_view row) override { rows.emplace_back(row); }
  std::vector<std::string> Rows() const override { return rows; }

  void ShowMessage(std::string_view prompt, std::string_view caption) override {
    messages.push_back({std::string(prompt), std::string(caption)});
  }
  bool ConfirmOkCancel(std::string_view prompt, std::string_view caption) override {
    ++confirm_asks;
    messages.push_back({std::string(prompt), std::string(caption)});
    return confirm_answer;
  }

  void SetTitle(std::string_view text) override {
    ++title_sets;
    title = text;
  }
  void SetLinkBold(LinkLabel label, bool bold) override {
    (label == LinkLabel::kLabel3 ? label3_bold : label5_bold) = bold;
  }

  bool AddTrayIcon(std::string_view tip) override {
    tray_tips.emplace_back(tip);
    if (tray_accepts) tray_icon_present = true;
    return tray_accepts;
  }
  void RemoveTrayIcon() override {
    ++tray_removals;
    tray_icon_present = false;
  }
  void HideWindow() override { window_shown = false; }
  void ShowWindow() override { window_shown = true; }

  bool PutOnClipboard(std::string_view text) override {
    if (!clipboard_free) return false;
    clipboard = text;
    return true;
  }
  void OpenInBrowser(std::string_view url) override { opened_urls.emplace_back(url); }
  void EndProgram() override { program_ended = true; }
};

}  // namespace quenzil::testing
