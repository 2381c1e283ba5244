#include "platform/watch_file_store.h"

#include <chrono>

#include "platform/file_store.h"
#include "watch/watch_file.h"

namespace quenzil {

namespace {

// The console companion holds the lock for a moment while it changes the
// file (only while no window runs, so never while this store writes).
constexpr std::chrono::milliseconds kLockWait{1000};

}  // namespace

WatchStore::Loaded WatchFileStore::Load() {
  Loaded loaded;
  read_ = false;
  const FileLock lock(path_, kLockWait);
  // Read again shortly, once the companion's change is in; a lock that
  // cannot be made at all holds nothing up.
  if (lock.made() && !lock.held()) {
    loaded.busy = true;
    return loaded;
  }
  const FileRead read = ReadWholeFile(path_);
  if (read.busy) {
    loaded.busy = true;
    return loaded;
  }
  if (!read.exists) {
    read_ = true;
    return loaded;
  }
  if (read.ok) {
    try {
      loaded.list = ParseWatchFile(read.bytes);
      read_ = true;
      return loaded;
    } catch (const WatchFileVersionError&) {
      loaded.newer_version = true;
      frozen_ = true;
      return loaded;
    } catch (const WatchFileUntouchableError&) {
      loaded.untouchable = true;
      frozen_ = true;
      return loaded;
    } catch (const WatchFileError&) {
      // Kept aside below, never overwritten by an empty list.
    }
  }
  // Not JSON, too large, or not readable for a lasting reason.
  loaded.moved_aside = MoveAside(path_).value_or(std::string());
  if (loaded.moved_aside->empty()) {
    frozen_ = true;
  } else {
    read_ = true;
  }
  return loaded;
}

bool WatchFileStore::Save(const WatchList& list) {
  if (frozen_ || !read_) return false;
  // Without it when it does not come: a companion that holds it then hands
  // its parcels over instead of writing.
  const FileLock lock(path_, kLockWait);
  return ReplaceFileAtomically(path_, SerializeWatchFile(list), nullptr);
}

}  // namespace quenzil
