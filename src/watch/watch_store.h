// The watch list's file: read at start (a file that cannot be read is moved
// aside, kept), written whole and crash-safe after every change. Portable;
// the platform gives the path and the file operations.
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
  };
  virtual ~WatchStore() = default;
  virtual Loaded Load() = 0;
  virtual bool Save(const WatchList& list) = 0;
};

// Writes only after a Load that read the file or found none: a list saved
// before that would take the place of parcels never read.
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
