#include "app/watch_handover.h"

#include <algorithm>
#include <array>
#include <utility>

#include "watch/watch_file.h"

namespace quenzil {

namespace {

constexpr std::array<std::pair<AddResult, std::string_view>, 3> kResultWords = {
    {{AddResult::kAdded, "added"}, {AddResult::kAlreadyWatched, "already"}, {AddResult::kFull, "full"}}};

}  // namespace

std::string WriteWatchHandOver(const std::vector<WatchedParcel>& parcels) {
  WatchList list;
  list.parcels = parcels;
  return SerializeWatchFile(list);
}

std::optional<std::vector<WatchedParcel>> ReadWatchHandOver(std::uintptr_t tag, std::string_view bytes) {
  if (tag != kWatchHandOverTag || bytes.size() > kMaxWatchHandOverBytes) return std::nullopt;
  try {
    WatchList list = ParseWatchFile(bytes);
    // What the companion sent is what is answered, one for one.
    if (!list.unread.empty()) return std::nullopt;
    return std::move(list.parcels);
  } catch (const WatchFileError&) {
    return std::nullopt;
  }
}

std::string WriteWatchAnswer(const std::vector<AddResult>& results) {
  std::string text;
  for (const AddResult result : results) {
    for (const auto& [known, word] : kResultWords) {
      if (known == result) text.append(word).append("\n");
    }
  }
  return text;
}

std::optional<std::vector<AddResult>> ReadWatchAnswer(std::uintptr_t tag, std::string_view bytes, std::size_t count) {
  if (tag != kWatchAnswerTag) return std::nullopt;
  std::vector<AddResult> results;
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    const std::string_view word = bytes.substr(0, end);
    bytes.remove_prefix(end + 1);
    const auto found = std::find_if(kResultWords.begin(), kResultWords.end(),
                                    [word](const auto& row) { return row.second == word; });
    if (found == kResultWords.end()) return std::nullopt;
    results.push_back(found->first);
  }
  if (results.size() != count) return std::nullopt;
  return results;
}

}  // namespace quenzil
