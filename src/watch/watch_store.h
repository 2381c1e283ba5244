// Where the watch list is kept between runs: read at start, written whole
// after every change. The file that keeps it is the platform's.
#pragma once

#include <optional>
#include <string>

#include "watch/watch_list.h"

namespace quenzil {

class WatchStore {
 public:
  struct Loaded {
    WatchList list;
    // Set when a file was there but could not be read: where it was moved.
    // Empty text when it could not even be moved; the store then never
    // writes, so the file is not lost under an empty list.
    std::optional<std::string> moved_aside;
    // Another program held the file for a moment: nothing was read or
    // moved, and the store does not write until a later Load reads it.
    bool busy = false;
    // A newer version of the program wrote the file: it is left as it is,
    // and the store does not write it during this run.
    bool newer_version = false;
    // JSON that cannot be taken as a watch list as it is (another program,
    // or a hand, changed it): left as it is and not written either.
    bool untouchable = false;
  };
  virtual ~WatchStore() = default;
  virtual Loaded Load() = 0;
  virtual bool Save(const WatchList& list) = 0;
};

}  // namespace quenzil
