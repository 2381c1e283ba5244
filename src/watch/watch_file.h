// The watch list on disk: UTF-8 JSON,
//   {"version":1,"parcels":[{"number":"…","carrier":"yuantong", …}, …]}
// Fields this program does not know are kept, and so is every entry it
// cannot read, each as the very text it was read from, at its place, so no
// watched parcel is ever lost or changed by one bad entry. An entry with
// only number and carrier is valid.
#pragma once

#include <string>
#include <string_view>

#include "watch/stored_file.h"
#include "watch/watch_list.h"

namespace quenzil {

// A missing version counts as 1. Entries that cannot be read (wrong types,
// a field written twice or unreadable, no number or carrier, a second copy
// of a parcel, past kMaxWatched) go to `unread`. Throws as
// ReadStoredDocument does.
WatchList ParseWatchFile(std::string_view text);
// Every unread entry is put back at its position (or at the end when the
// list has become shorter), in position order.
std::string SerializeWatchFile(const WatchList& list);

}  // namespace quenzil
