#include "platform/watch_file_store.h"

#include "platform/file_store.h"
#include "watch/watch_file.h"

namespace quenzil {

WatchStore::Loaded WatchFileStore::Load() {
  Loaded loaded;
  read_ = false;
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
  return ReplaceFileAtomically(path_, SerializeWatchFile(list), nullptr);
}

}  // namespace quenzil
