// The watch list on disk: UTF-8 JSON,
//   {"version":1,"parcels":[{"number":"…","carrier":"yuantong", …}, …]}
// Fields this program does not know are kept. An entry with only number and
// carrier is valid.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "watch/watch_list.h"

namespace quenzil {

// The file cannot be taken as a watch list (not JSON, wrong shape, a
// version this program does not know).
class WatchFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

WatchList ParseWatchFile(std::string_view text);
std::string SerializeWatchFile(const WatchList& list);

// "2026-12-08T09:30:00Z" and back; 0 for an empty or unreadable text.
std::string IsoUtc(UnixSeconds seconds);
UnixSeconds ParseIsoUtc(std::string_view text);

}  // namespace quenzil
