// Whole-file reads and crash-safe replacement. Paths are UTF-8. One
// implementation per platform.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quenzil {

struct FileRead {
  bool exists = false;
  bool ok = false;       // read whole
  std::string bytes;
  std::string error;     // when it exists but could not be read
};
FileRead ReadWholeFile(const std::string& path);

// Writes a temporary file beside the target ("<path>.tmp"), flushes it to
// the disk and puts it in the target's place in one step: after a crash at
// any moment the target holds either the old bytes or the new ones. Creates
// the folder. One writer per path at a time; a temporary file left by a
// crash is simply overwritten by the next write.
bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, std::string* error);

// Renames the file to "<path>.unreadable-YYYYMMDD-HHMMSS" (with a counter
// if that exists) and returns the new path; nullopt if it could not.
std::optional<std::string> MoveAside(const std::string& path);

}  // namespace quenzil
