// The last queries' file.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "watch/history.h"

namespace quenzil {

// %APPDATA%\Quenzil\history.json. A file that is not a history at all is
// moved aside without a word (the history is a convenience); one that is
// busy for a moment reads as empty and is not written (Update gives false).
// Both steps take the lock of the user's processes (FileLock); when it does
// not come within its wait they go on without it, since the history must
// never hold the program up: the file stays whole either way, and at worst
// one of two changes made at the same moment is lost.
class HistoryFileStore final : public HistoryStore {
 public:
  explicit HistoryFileStore(std::string path) : path_(std::move(path)) {}
  History Load() override;
  bool Update(const std::function<void(History&)>& change) override;

 private:
  std::string path_;
};

}  // namespace quenzil
