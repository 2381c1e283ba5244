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
  };
  virtual ~WatchStore() = default;
  virtual Loaded Load() = 0;
  virtual bool Save(const WatchList& list) = 0;
};

class WatchFileStore final : public WatchStore {
 public:
  explicit WatchFileStore(std::string path) : path_(std::move(path)) {}
  Loaded Load() override;
  bool Save(const WatchList& list) override;

 private:
  std::string path_;
  bool frozen_ = false;
};

}  // namespace quenzil
