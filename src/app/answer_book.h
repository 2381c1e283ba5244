// The answers the query flow keeps and finds again: the watch list's
// entries and the last queries. The window keeps fresh keyed rows in the
// watch list too; the console companion only reads it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/query_flow.h"
#include "watch/history.h"
#include "watch/watch_list.h"

namespace quenzil {

class AnswerBook final : public AnswerKeeping {
 public:
  using WatchedList = std::function<const WatchList&()>;
  using KeepWatched = std::function<void(const QueryOutcome&)>;
  // Runs a file write later, off the moment the rows are shown.
  using Later = std::function<void(std::function<void()>)>;

  // `watched` gives the watch list as it is now; `keep_watched` (may be
  // empty) takes fresh keyed rows into it; `later` (may be empty: at once)
  // runs the writes of the last queries' file.
  AnswerBook(WatchedList watched, HistoryStore& history, KeepWatched keep_watched = {}, Later later = {});

  std::optional<KeptAnswer> Kept(std::string_view number, std::string_view carrier_code) const override;
  std::string PhoneFor(std::string_view number, std::string_view carrier_code) const override;
  void Keep(const QueryOutcome& outcome) override;

 private:
  WatchedList watched_;
  HistoryStore& history_;
  KeepWatched keep_watched_;
  Later later_;
  // What this process kept, newest first: found at once, before (or
  // without) the file's write.
  History kept_here_;
};

// The entry of the last queries that a query's rows make.
HistoryEntry HistoryEntryOf(const QueryOutcome& outcome);

}  // namespace quenzil
