// The watch list on disk: UTF-8 JSON,
//   {"version":1,"parcels":[{"number":"…","carrier":"yuantong", …}, …]}
// Fields this program does not know are kept. An entry with only number and
// carrier is valid. An entry this program cannot read stays in the file as
// it was, at its place, so no watched parcel is ever lost to one bad entry.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "watch/watch_list.h"

namespace quenzil {

// The file cannot be taken as a watch list at all (not JSON, not an object,
// nested too deeply, parcels not a list, a version that is not a number).
class WatchFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The file names a version other than this program's: a newer program
// wrote it, and it is left exactly as it is.
class WatchFileVersionError : public WatchFileError {
 public:
  using WatchFileError::WatchFileError;
};

// A missing version counts as 1. Entries that cannot be read (wrong types,
// no number or carrier, a second copy of a parcel, past kMaxWatched) go to
// `unread`.
WatchList ParseWatchFile(std::string_view text);
// Every unread entry is put back at its position (or at the end when the
// list has become shorter), in position order.
std::string SerializeWatchFile(const WatchList& list);

// "2026-12-08T09:30:00Z" and back; 0 for an empty or unreadable text.
std::string IsoUtc(UnixSeconds seconds);
UnixSeconds ParseIsoUtc(std::string_view text);

// An event's time as the service writes it, in Beijing time:
// "2026-12-01 08:00:00" (the seconds may be left out); 0 for another text.
UnixSeconds ParseServiceTime(std::string_view text);

// What the history's file shares with this one.
// A stored file of this program, {"version":1,"<list_key>":[…], …}: the
// list's values and the fields beside it. A missing version counts as 1, a
// missing list as an empty one. Throws WatchFileError when the text is no
// such file, WatchFileVersionError for another version.
struct StoredDocument {
  nlohmann::json list = nlohmann::json::array();
  nlohmann::json unknown = nlohmann::json::object();
};
StoredDocument ReadStoredDocument(std::string_view text, const std::string& list_key);
// The file's text: the fields beside the list, the version, the list.
std::string WriteStoredDocument(const nlohmann::json& unknown, const std::string& list_key, nlohmann::json list);
// Stored events, [{"time":"…","context":"…","area":"…","status":"…"}, …],
// each with the fields this program does not know; nullopt when anything
// in them has another type.
std::optional<std::vector<TrackingEvent>> ReadStoredEvents(const nlohmann::json& value);
nlohmann::json WriteStoredEvents(const std::vector<TrackingEvent>& events);
// The readable entries as written, with each unread entry put back among
// them at min(position, entries so far), in position order.
nlohmann::json WithUnreadEntries(nlohmann::json entries, const std::vector<UnreadEntry>& unread);

}  // namespace quenzil
