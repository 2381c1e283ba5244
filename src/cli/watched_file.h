// Reading the watch list for the console companion: never written, never
// moved aside, whatever it holds. Portable; the file comes through a
// reader so that a file held by another program can be tried again.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/file_store.h"
#include "watch/watch_list.h"

namespace quenzil::cli {

struct WatchedRead {
  std::optional<WatchList> list;  // a missing file is an empty list
  std::string error;              // Chinese, when there is no list
};

// Reads up to `attempts` times while the file is busy, with `pause` between
// two reads.
WatchedRead ReadWatched(const std::function<FileRead()>& read, int attempts, const std::function<void()>& pause);

}  // namespace quenzil::cli
