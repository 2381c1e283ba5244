// The console companion hands parcels to watch to the window that is
// running (WM_COPYDATA), which adds them through its tracker and answers
// what became of each. Portable: the bytes of both messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "watch/watch_list.h"

namespace quenzil {

// dwData of the hand-over (UTF-8 text: a watch file of the parcels) and of
// the answer, sent back to the window named in the hand-over's wParam (one
// line per parcel, in order: added, already, full).
inline constexpr std::uintptr_t kWatchHandOverTag = 0x515A5731;  // "QZW1"
inline constexpr std::uintptr_t kWatchAnswerTag = 0x515A5732;    // "QZW2"
inline constexpr std::size_t kMaxWatchHandOverBytes = 4u << 20;

std::string WriteWatchHandOver(const std::vector<WatchedParcel>& parcels);
// nullopt for another tag, too many bytes, or anything but a watch file
// whose every entry is a parcel (at most kMaxWatched, each once).
std::optional<std::vector<WatchedParcel>> ReadWatchHandOver(std::uintptr_t tag, std::string_view bytes);

std::string WriteWatchAnswer(const std::vector<AddResult>& results);
// nullopt for another tag or anything but `count` results.
std::optional<std::vector<AddResult>> ReadWatchAnswer(std::uintptr_t tag, std::string_view bytes, std::size_t count);

}  // namespace quenzil
