// The watch list's file: read at start (a file that is not JSON is moved
// aside, kept; JSON that cannot be taken as it is stays untouched), written
// whole and crash-safe after every change.
#pragma once

#include <string>
#include <utility>

#include "watch/watch_store.h"

namespace quenzil {

// Writes only after a Load that read the file or found none: a list saved
// before that would take the place of parcels never read. Both take the
// file's lock (FileLock), which the console companion holds while it
// changes the file with no window running: a Load that does not get it
// within a second is busy, and tried again.
class WatchFileStore final : public WatchStore {
 public:
  explicit WatchFileStore(std::string path) : path_(std::move(path)) {}
  Loaded Load() override;
  bool Save(const WatchList& list) override;

 private:
  std::string path_;
  bool read_ = false;    // the last Load read the file or found none
  bool frozen_ = false;  // never written during this run
};

}  // namespace quenzil
