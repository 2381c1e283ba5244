// The parcels the user watches: what is kept of each, merging a fresh
// answer into an entry, and the texts the tray shows for it. Portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/kept_json.h"
#include "common/times.h"
#include "query/tracking.h"

namespace quenzil {

inline constexpr std::size_t kMaxWatched = 200;
// An entry that has not changed for this long is no longer refreshed.
inline constexpr UnixSeconds kRetireAfterSeconds = 30 * 24 * 3600;
// Events kept per entry, the newest.
inline constexpr std::size_t kMaxEvents = 300;
// An entry whose refreshes have failed this long says so in the menu.
inline constexpr UnixSeconds kFailingShownAfterSeconds = 24 * 3600;
// A parcel signed for or sent back is put away this long after it became so.
inline constexpr UnixSeconds kPutAwayAfterSeconds = 3 * 24 * 3600;

struct WatchedParcel {
  std::string number;
  std::string carrier;       // service code, e.g. "yuantong"
  std::string carrier_name;  // as detection named it; empty: CarrierName(carrier)
  std::string phone;         // last four digits of the phone, or empty
  std::string note;          // the user's own words, or empty
  std::string state;         // last seen, as the service sends it; empty before the first fetch
  bool signed_for = false;
  std::vector<TrackingEvent> events;  // last seen, oldest first
  UnixSeconds added = 0;
  UnixSeconds last_checked = 0;   // 0: never fetched
  UnixSeconds last_changed = 0;   // 0: never
  UnixSeconds last_answered = 0;  // the last answer with rows; 0: none kept
  std::string last_problem;       // why the last refresh gave nothing; empty when it went well
  int failures = 0;               // refreshes failed in a row
  UnixSeconds failing_since = 0;  // the first of them; 0 while refreshes go well
  bool needs_phone = false;       // the service asks for the phone's last four digits
  std::string service;            // the service that answered last, by its key; empty: none or 快递100
  std::string city;               // where the parcel is now, as the service said; may be empty
  // When it was put away (已完成): out of the tray menu and of 全部, never
  // refreshed, still in the file; 0 while it is not.
  UnixSeconds put_away = 0;
  // Fields of the file that this program does not know, written back as read.
  KeptFields unknown = {};

  // Checked at least once (an answer or a failure that counts as a check):
  // the schedule waits an interval from here.
  bool fetched() const { return last_checked != 0; }
  // An answer has been taken in. A failure counts as a check but not as an
  // answer, so the first real answer still comes without a notification.
  bool answered() const { return !state.empty() || !events.empty(); }
};

// A parcel named by number and carrier.
using ParcelKey = std::pair<std::string, std::string>;

// An entry of the file that this program cannot take as a parcel (wrong
// types, no number, a second copy of a parcel, past the limit): kept as it
// was, at its place among the others, written back unchanged and never shown.
struct UnreadEntry {
  std::size_t position = 0;  // index in the file's array when it was read
  std::string text;          // as it was written
  // A second copy of this parcel: it goes when the parcel is no longer watched.
  std::optional<ParcelKey> copy_of = std::nullopt;
};

struct WatchList {
  std::vector<WatchedParcel> parcels;
  std::vector<UnreadEntry> unread;  // by position
  KeptFields unknown = {};  // top-level fields not known
};

// Same number and same carrier: the same parcel.
std::optional<std::size_t> FindParcel(const WatchList& list, std::string_view number,
                                      std::string_view carrier);

enum class AddResult { kAdded, kAlreadyWatched, kFull };
AddResult AddParcel(WatchList& list, WatchedParcel parcel);
// The parcel is no longer watched: its entry goes, and with it any unread
// copy of it, which would otherwise be read as watched next time; false if
// it was not watched.
bool RemoveParcel(WatchList& list, std::string_view number, std::string_view carrier);

// A fresh entry for a parcel the user has just looked up.
WatchedParcel ParcelFromResult(const TrackingResult& result, std::string_view carrier_name,
                               std::string_view phone, std::string_view note, UnixSeconds now);

struct MergeOutcome {
  bool changed = false;  // new events or a new state
  bool notify = false;   // changed, and not the entry's first fetch
};

// Takes a fresh answer into the entry: events (the newest kMaxEvents),
// state, signed flag, the check and change times; clears last_problem. The
// first answer an entry takes changes it but never notifies.
MergeOutcome MergeResult(WatchedParcel& parcel, const TrackingResult& fresh, UnixSeconds now);

// Signed for (or state 3 or 4), put away, or seen unchanged for 30 days
// since it last changed (or was added): no more refreshes. The 30 days run
// to the last check, not to now, so a program that was not running for
// weeks looks once more before giving up; an entry never checked is not
// retired.
bool IsRetired(const WatchedParcel& parcel, UnixSeconds now);

// When the parcel is put away: kPutAwayAfterSeconds after its last change
// (or its adding, or 重新关注, which counts as a change) once it is signed
// for or sent back (IsFinal); nullopt while it is not, and once it is put
// away.
std::optional<UnixSeconds> PutAwayAt(const WatchedParcel& parcel);

// "圆通速递 V0303…：已签收" (note instead of the number when there is one;
// fits the shell's 63 characters).
std::string NotificationTitle(const WatchedParcel& parcel);
// The newest event, after where the parcel is now when the service said:
// "[杭州市] <time> <context>" (fits the shell's 255 characters).
std::string NotificationText(const WatchedParcel& parcel);
// One item of the tray menu: carrier, note or number, state, and why it is
// not refreshed (signed for, quiet for 30 days, waiting for the phone's
// digits) or that its refreshes have failed for a day.
std::string MenuLabel(const WatchedParcel& parcel, UnixSeconds now);
// The rows List1 shows for the entry, as after a query.
std::vector<std::string> ParcelRows(const WatchedParcel& parcel);

// The entry's last answer as the service gave it.
TrackingResult ResultOf(const WatchedParcel& parcel);

// Menus take '&' as the mark of a shortcut key: each is doubled.
std::string EscapeMenuText(std::string_view text);

}  // namespace quenzil
