// The answers kept for the guard and found again: the watch list's entries
// and the last queries, those of this process known before (or without)
// the file's write.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/query_flow.h"
#include "watch/history.h"
#include "watch/watch_list.h"

namespace quenzil {

class AnswerBook {
 public:
  explicit AnswerBook(HistoryStore& history) : history_(history) {}

  // The newest keyed answer of the number with this courier (any courier
  // when the code is empty), in the watch list or the last queries.
  std::optional<KeptAnswer> Kept(const WatchList& watched, std::string_view number,
                                 std::string_view carrier_code) const;
  // The phone's digits known for the parcel beyond its kept answers.
  std::string PhoneFor(const WatchList& watched, std::string_view number, std::string_view carrier_code) const;
  // Fresh rows: known at once; the entry for the last queries' file, which
  // the caller writes when it suits (a file that cannot be written is no
  // reason to stop anything).
  HistoryEntry Record(const QueryOutcome& outcome);
  // Writes the entry into the last queries' file.
  void Write(const HistoryEntry& entry);

 private:
  HistoryStore& history_;
  // What this process kept, newest first.
  History kept_here_;
};

// The entry of the last queries that a query's rows make.
HistoryEntry HistoryEntryOf(const QueryOutcome& outcome);

}  // namespace quenzil
