// The last queries' file.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "platform/file_store.h"
#include "watch/history.h"

namespace quenzil {

// %APPDATA%\Quenzil\history.json. A file that is not a history at all is
// moved aside without a word (the history is a convenience); one that is
// busy for a moment reads as empty and is not written (Update gives false).
// Both steps take the lock of the user's processes (FileLock); when it does
// not come within its wait they go on without it, since the history must
// never hold the program up: the file stays whole either way, and at worst
// one of two changes made at the same moment is lost.
// What was read is kept: a file whose size and write time are as they were
// is not read again (a press looks for its kept answer in it).
class HistoryFileStore final : public HistoryStore {
 public:
  explicit HistoryFileStore(std::string path) : path_(std::move(path)) {}
  History Load() override;
  bool Update(const std::function<void(History&)>& change) override;

 private:
  std::string path_;
  bool known_ = false;              // `kept_` is what the file held at `stamp_`
  std::optional<FileStamp> stamp_;  // nullopt: there was no file
  History kept_;
};

}  // namespace quenzil
