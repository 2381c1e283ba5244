// The last queries that got rows: the 最近查询 menu, and the kept keyed
// answers that hold back a second query of the same number for a while,
// across restarts and across the program and its console companion. On
// disk as UTF-8 JSON,
//   {"version":1,"entries":[{"number":"…","carrier":"yuantong", …}, …]}
// newest first. Fields this program does not know, and entries it cannot
// read, are kept and written back as they were, as in the watch list.
#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "query/tracking.h"
#include "watch/watch_list.h"

namespace quenzil {

inline constexpr std::size_t kMaxHistory = 20;

struct HistoryEntry {
  std::string number;
  std::string carrier;       // the service's code, e.g. "yuantong"
  std::string carrier_name;  // empty: CarrierName(carrier)
  std::string first_row;     // the list's first row, as shown
  std::string phone;         // the phone's last four digits that got the rows, or empty
  UnixSeconds answered = 0;  // when the rows came
  // A keyed answer: what follows is kept whole, and the requery guard
  // holds for it. The old address's rows are not kept beyond first_row.
  bool keyed = false;
  std::string state;
  bool signed_for = false;
  std::vector<TrackingEvent> events;  // oldest first, the newest kMaxEvents
  std::string service;       // the service that gave them, by its key; empty: 快递100
  KeptFields unknown = {};
};

struct History {
  std::vector<HistoryEntry> entries;  // newest first, one per number
  std::vector<UnreadEntry> unread;    // by position, as in the watch list
  KeptFields unknown = {};
};

// Puts the entry first. An earlier entry of the same number goes (what it
// held that this program does not know stays with the new one); entries
// past kMaxHistory go, the oldest first.
void RecordEntry(History& history, HistoryEntry entry);

// The 最近查询 menu's item for an entry: carrier, number, and the state
// (keyed) or the first row cut to 24 characters; at most 64 characters,
// the number cut when it must be; '&' doubled for the menu.
std::string RecentLabel(const HistoryEntry& entry);

// The file cannot be taken as a history: not JSON (it may be moved aside),
// or JSON that is not one as it is (`untouchable`: not an object, nested
// deeper than 64, a version this program does not know, entries not a list;
// it is left as it is). A missing version counts as 1; an entry that cannot
// be read (wrong types, no number or carrier, a second one of a number,
// past kMaxHistory) is kept in `unread`.
class HistoryFileError : public std::runtime_error {
 public:
  HistoryFileError(const std::string& what, bool untouchable) : std::runtime_error(what), untouchable_(untouchable) {}
  bool untouchable() const { return untouchable_; }

 private:
  bool untouchable_;
};

History ParseHistoryFile(std::string_view text);
std::string SerializeHistoryFile(const History& history);

class HistoryStore {
 public:
  virtual ~HistoryStore() = default;
  // The history as it is on disk now; empty when there is none or it
  // cannot be read.
  virtual History Load() = 0;
  // Reads the file, applies the change and writes it back, as one step
  // among every process of the user; false when it could not be written.
  virtual bool Update(const std::function<void(History&)>& change) = 0;
};

}  // namespace quenzil
