#include "platform/history_file_store.h"

#include "platform/file_store.h"

namespace quenzil {

namespace {

// The file now, and whether it may be written over: not when it is busy or
// could not be moved aside.
struct ReadOutcome {
  History history;
  bool writable = false;
};

ReadOutcome ReadHistory(const std::string& path) {
  ReadOutcome outcome;
  const FileRead read = ReadWholeFile(path);
  if (read.busy) return outcome;
  outcome.writable = true;
  if (!read.exists) return outcome;
  if (read.ok) {
    try {
      outcome.history = ParseHistoryFile(read.bytes);
      return outcome;
    } catch (const HistoryFileError& error) {
      // JSON, but not a history as it is: left as it is, and not written.
      if (error.untouchable()) {
        outcome.writable = false;
        return outcome;
      }
      // Not JSON: kept aside below.
    }
  }
  outcome.writable = MoveAside(path).has_value();
  return outcome;
}

}  // namespace

History HistoryFileStore::Load() {
  // A missing file stays missing as cheaply.
  if (known_ && StampOf(path_) == stamp_) return kept_;
  const FileLock lock(path_);
  // Stamped before reading: a write meanwhile makes the next look read again.
  const std::optional<FileStamp> stamp = StampOf(path_);
  ReadOutcome read = ReadHistory(path_);
  // A file held by another program is read again next time.
  known_ = read.writable;
  stamp_ = stamp;
  kept_ = read.history;
  return std::move(read.history);
}

bool HistoryFileStore::Update(const std::function<void(History&)>& change) {
  const FileLock lock(path_);
  ReadOutcome read = ReadHistory(path_);
  if (!read.writable) return false;
  change(read.history);
  if (!ReplaceFileAtomically(path_, SerializeHistoryFile(read.history), nullptr)) return false;
  stamp_ = StampOf(path_);
  known_ = stamp_.has_value();
  kept_ = std::move(read.history);
  return true;
}

}  // namespace quenzil
