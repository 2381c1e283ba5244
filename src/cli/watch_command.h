// The console companion's changes to the watch list: --watch and --import
// add parcels, --export writes the list out. What the companion adds is
// never lost, nor what the window does: while a window of the program
// runs, it owns the list and the companion hands the parcels over to it
// (they show in its list at once); while none runs, the companion reads,
// changes and writes watch.json itself, under the lock the window's store
// takes to read it. Portable: the platform comes through WatchListAccess.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/watch_import.h"
#include "cli/arguments.h"
#include "cli/report.h"
#include "platform/file_store.h"

namespace quenzil::cli {

class WatchListAccess {
 public:
  virtual ~WatchListAccess() = default;
  // A window of the program is running (also while it starts or ends).
  virtual bool WindowRuns() = 0;
  // Hands the parcels to it: what became of each, in order; nullopt when
  // it did not answer.
  virtual std::optional<std::vector<AddResult>> HandOver(const std::vector<WatchedParcel>& parcels) = 0;
  // The watch file's lock (FileLock): taken, false when it did not come;
  // and let go.
  virtual bool Lock() = 0;
  virtual void Unlock() = 0;
  virtual FileRead Read() = 0;
  virtual bool Write(const std::string& text, std::string& error) = 0;
  virtual UnixSeconds Now() = 0;
  // A moment between two tries.
  virtual void Pause() = 0;
};

// Adds the lines' new parcels (the verdicts against the list as it is
// then), and reports one line per line: added, already watched, or refused
// with the reason. Exit 0 when none was refused, 1 when some were, 2 when
// the list could not be read or written (nothing added then).
Report AddToWatchList(WatchListAccess& access,
                      const std::function<std::vector<ImportLine>(const WatchList&)>& lines_of, bool numbered);

// The lines of --watch: its one parcel.
std::vector<ImportLine> WatchLine(const Command& command, const WatchList& watched);

// --export: the sheet of the list, and the line that says so.
struct Exported {
  std::string sheet;
  std::string told;  // "已导出 3 个单号到 …"
};
Exported ExportList(const WatchList& list, const Command& command, UnixSeconds now);

}  // namespace quenzil::cli
