#include "watch/watch_store.h"

#include "watch/file_store.h"
#include "watch/watch_file.h"

namespace quenzil {

WatchStore::Loaded WatchFileStore::Load() {
  Loaded loaded;
  const FileRead read = ReadWholeFile(path_);
  if (!read.exists) return loaded;
  if (read.ok) {
    try {
      loaded.list = ParseWatchFile(read.bytes);
      return loaded;
    } catch (const WatchFileError&) {
      // Kept aside below, never overwritten by an empty list.
    }
  }
  loaded.moved_aside = MoveAside(path_).value_or(std::string());
  frozen_ = loaded.moved_aside->empty();
  return loaded;
}

bool WatchFileStore::Save(const WatchList& list) {
  if (frozen_) return false;
  return ReplaceFileAtomically(path_, SerializeWatchFile(list), nullptr);
}

}  // namespace quenzil
