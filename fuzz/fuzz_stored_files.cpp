// Reading the watch list's file and the last queries' file from arbitrary
// bytes, as a hand-made or a damaged file would come.
//
// Checks: nothing but the files' own errors is thrown; every entry of the
// file's list is kept, read or unread (none lost, none doubled); what is
// written back reads again to the same text (a file the program rewrites
// is stable), and keeps every entry; the written text is well-formed UTF-8.
#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "watch/history.h"
#include "watch/watch_file.h"

namespace {

using Json = nlohmann::json;

// The length of the document's list under `key`, when it has one.
std::size_t ListLength(std::string_view text, const char* key) {
  const Json document = Json::parse(text, nullptr, false);
  if (!document.is_object()) return 0;
  const auto list = document.find(key);
  return list != document.end() && list->is_array() ? list->size() : 0;
}

void WatchFile(std::string_view text) {
  quenzil::WatchList list;
  try {
    list = quenzil::ParseWatchFile(text);
  } catch (const quenzil::WatchFileError&) {
    return;
  }
  FUZZ_CHECK(list.parcels.size() + list.unread.size() == ListLength(text, "parcels"));
  FUZZ_CHECK(list.parcels.size() <= quenzil::kMaxWatched);
  const std::string written = quenzil::SerializeWatchFile(list);
  FUZZ_CHECK(quenzil_fuzz::IsWellFormedUtf8(written));
  for (const quenzil::UnreadEntry& entry : list.unread) FUZZ_CHECK(written.find(entry.text) != std::string::npos);
  const quenzil::WatchList again = quenzil::ParseWatchFile(written);
  FUZZ_CHECK(again.parcels.size() == list.parcels.size());
  FUZZ_CHECK(again.unread.size() == list.unread.size());
  FUZZ_CHECK(quenzil::SerializeWatchFile(again) == written);
}

void HistoryFile(std::string_view text) {
  quenzil::History history;
  try {
    history = quenzil::ParseHistoryFile(text);
  } catch (const quenzil::HistoryFileError&) {
    return;
  }
  FUZZ_CHECK(history.entries.size() + history.unread.size() == ListLength(text, "entries"));
  FUZZ_CHECK(history.entries.size() <= quenzil::kMaxHistory);
  const std::string written = quenzil::SerializeHistoryFile(history);
  FUZZ_CHECK(quenzil_fuzz::IsWellFormedUtf8(written));
  const quenzil::History again = quenzil::ParseHistoryFile(written);
  FUZZ_CHECK(again.entries.size() == history.entries.size());
  FUZZ_CHECK(quenzil::SerializeHistoryFile(again) == written);
  for (const quenzil::HistoryEntry& entry : history.entries) {
    FUZZ_CHECK(quenzil_fuzz::IsWellFormedUtf8(quenzil::RecentLabel(entry)));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the file; the rest is its text.
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] % 2 == 0) {
    WatchFile(text);
  } else {
    HistoryFile(text);
  }
  return 0;
}
