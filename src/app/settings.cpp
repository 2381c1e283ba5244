#include "app/settings.h"

#include <algorithm>

namespace quenzil {

std::vector<std::string> ParseServiceOrder(std::string_view text) {
  std::vector<std::string> order;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    std::string_view word = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    while (!word.empty() && word.front() == ' ') word.remove_prefix(1);
    while (!word.empty() && word.back() == ' ') word.remove_suffix(1);
    const bool known = std::find(kServiceKeys.begin(), kServiceKeys.end(), word) != kServiceKeys.end();
    // A word it does not know: the whole text is not the user's order.
    if (!known) return ParseServiceOrder({});
    if (std::find(order.begin(), order.end(), word) == order.end()) order.emplace_back(word);
  }
  for (const std::string_view key : kServiceKeys) {
    if (std::find(order.begin(), order.end(), key) == order.end()) order.emplace_back(key);
  }
  return order;
}

std::string_view ServiceNameOf(std::string_view key) {
  if (key == KdniaoService::kKey) return "快递鸟";
  if (key == AppCodeService::kKey) return "AppCode";
  return "快递100";
}

std::string ServiceOrderText(const std::vector<std::string>& order) {
  std::string text;
  for (const std::string& key : order) text += (text.empty() ? "" : ",") + key;
  return text;
}

MonthCount AfterOneMore(MonthCount stored, std::uint32_t current_month) {
  if (stored.month != current_month) return {current_month, 1};
  if (stored.count < UINT32_MAX) ++stored.count;
  return stored;
}

std::uint32_t CountIn(MonthCount stored, std::uint32_t current_month) {
  return stored.month == current_month ? stored.count : 0;
}

}  // namespace quenzil
