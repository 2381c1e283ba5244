// What the program's own JSON files share, the watch list and the last
// queries: {"version":1,"<list_key>":[…], …}, entries read field by field,
// and everything this program does not know kept as the very text it was
// written as, so a file is never changed where the program did not mean to.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/json_reader.h"
#include "common/kept_json.h"
#include "common/times.h"
#include "query/tracking.h"
#include "watch/watch_list.h"

namespace quenzil {

// The file is not JSON at all: it cannot be anything this program wrote.
class WatchFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The file is JSON but cannot be taken as it is (not an object, nested too
// deeply, a version that is not a whole number, the list not a list, a key
// written twice): it is left exactly as it is.
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

// A stored file: the list's entries and the fields beside it, as written
// (views into the text). A missing version counts as 1, a missing list as
// an empty one. Throws WatchFileError when the text is not JSON, the
// untouchable one when it is JSON but no such file, the version one for
// another version.
struct StoredDocument {
  std::vector<std::string_view> entries;
  KeptFields unknown = {};
};
StoredDocument ReadStoredDocument(std::string_view text, std::string_view list_key);
// The file's text: the fields beside the list, the version, the entries.
std::string WriteStoredDocument(const KeptFields& unknown, std::string_view list_key,
                                const std::vector<std::string>& entries);

// One entry of a stored list, read field by field. Each reader leaves `out`
// as it is for an absent field, and is false for a field it cannot take as
// written: of another type, unreadable, or written twice. An entry with
// such a field is kept unread, never rewritten with a value the user did
// not write.
class StoredObject {
 public:
  // nullopt for an entry that is not an object.
  static std::optional<StoredObject> Read(std::string_view text);
  bool Text(std::string_view name, std::string& out) const;
  bool Flag(std::string_view name, bool& out) const;
  // "2026-12-08T09:30:00Z" (the program's own form) or "".
  bool Time(std::string_view name, UnixSeconds& out) const;
  // A whole number from 0 up, capped at `max`.
  bool Count(std::string_view name, int& out, int max) const;
  // [{"time":"…","context":"…","area":"…","status":"…"}, …], each event
  // with the fields this program does not know.
  bool Events(std::string_view name, std::vector<TrackingEvent>& out) const;
  // The members whose names are not among `known`, as written.
  template <std::size_t N>
  KeptFields Unknown(const std::array<std::string_view, N>& known) const {
    return UnknownOf(std::span<const std::string_view>(known));
  }

 private:
  // The member of that name; null when there is none. `twice` is set when
  // there are more.
  const json::Member* One(std::string_view name, bool& twice) const;
  KeptFields UnknownOf(std::span<const std::string_view> known) const;
  std::vector<json::Member> members_;
};

// An object's text: the kept members first, then the ones put.
class StoredObjectWriter {
 public:
  explicit StoredObjectWriter(const KeptFields& kept);
  void Put(std::string_view name, std::string_view text);
  void Put(std::string_view name, bool value);
  void Put(std::string_view name, int value);
  void PutTime(std::string_view name, UnixSeconds value);  // left out when 0
  void PutIfSet(std::string_view name, std::string_view text);  // left out when empty
  void PutEvents(std::string_view name, const std::vector<TrackingEvent>& events);  // left out when none
  // A value that is JSON text already.
  void PutJson(std::string_view name, std::string_view value);
  std::string Text() const { return text_ + "}"; }

 private:
  void Member(std::string_view text);
  std::string text_ = "{";
};

std::string WriteStoredEvents(const std::vector<TrackingEvent>& events);

// The readable entries' texts, with each unread entry put back among them
// at min(position, entries so far), in position order.
std::vector<std::string> WithUnreadEntries(std::vector<std::string> entries, const std::vector<UnreadEntry>& unread);

}  // namespace quenzil
