// The watch list on disk: UTF-8 JSON,
//   {"version":1,"parcels":[{"number":"…","carrier":"yuantong", …}, …]}
// Fields this program does not know are kept, and so is every entry it
// cannot read, each as the very text it was read from, at its place, so no
// watched parcel is ever lost or changed by one bad entry. An entry with
// only number and carrier is valid.
#pragma once

#include <nlohmann/json.hpp>

#include <array>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/kept_json.h"
#include "watch/watch_list.h"

namespace quenzil {

// The file is not JSON at all: it cannot be anything this program wrote.
class WatchFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The file is JSON but cannot be taken as a watch list as it is (not an
// object, nested too deeply, a version that is not a whole number, parcels
// not a list): it is left exactly as it is.
class WatchFileUntouchableError : public WatchFileError {
 public:
  using WatchFileError::WatchFileError;
};

// The file names a version other than this program's: a newer program
// wrote it, and it is left exactly as it is.
class WatchFileVersionError : public WatchFileUntouchableError {
 public:
  using WatchFileUntouchableError::WatchFileUntouchableError;
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
// list's entries and the fields beside it, as written (views into the
// text). A missing version counts as 1, a missing list as an empty one.
// Throws WatchFileError when the text is not JSON, the untouchable one
// when it is JSON but no such file, the version one for another version.
struct StoredDocument {
  std::vector<std::string_view> entries;
  KeptFields unknown = {};
};
StoredDocument ReadStoredDocument(std::string_view text, const std::string& list_key);
// The file's text: the fields beside the list, the version, the entries.
std::string WriteStoredDocument(const KeptFields& unknown, const std::string& list_key,
                                const std::vector<std::string>& entries);

// One entry of a stored list, as written: its value, and its members as
// the text they were written as.
class StoredObject {
 public:
  // nullopt for an entry that is not an object.
  static std::optional<StoredObject> Read(std::string_view text);
  const nlohmann::json& value() const { return value_; }
  // The members whose names are not among `known`, as written.
  template <std::size_t N>
  KeptFields Unknown(const std::array<std::string_view, N>& known) const {
    return UnknownOf(std::span<const std::string_view>(known));
  }
  // The value of the member, as written; empty when there is none.
  std::string_view Raw(std::string_view name) const;

 private:
  struct Member {
    std::string name;
    std::string_view text;
    std::string_view value;
  };
  KeptFields UnknownOf(std::span<const std::string_view> known) const;
  nlohmann::json value_;
  std::vector<Member> members_;
};

// An object's text: the kept members first, then the ones put.
class StoredObjectWriter {
 public:
  explicit StoredObjectWriter(const KeptFields& kept);
  void Put(std::string_view name, const nlohmann::json& value);
  // A value that is JSON text already.
  void PutText(std::string_view name, std::string_view value);
  std::string Text() const { return text_ + "}"; }

 private:
  void Member(std::string_view text);
  std::string text_ = "{";
};

// Stored events, [{"time":"…","context":"…","area":"…","status":"…"}, …],
// as written, each with the fields this program does not know; nullopt
// when anything in them has another type.
std::optional<std::vector<TrackingEvent>> ReadStoredEvents(std::string_view text);
std::string WriteStoredEvents(const std::vector<TrackingEvent>& events);
// The readable entries' texts, with each unread entry put back among them
// at min(position, entries so far), in position order.
std::vector<std::string> WithUnreadEntries(std::vector<std::string> entries, const std::vector<UnreadEntry>& unread);

}  // namespace quenzil
