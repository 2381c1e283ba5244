// Whole-file reads, crash-safe replacement and a lock among the user's
// processes. Paths are UTF-8. One implementation per platform.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quenzil {

// The program's own files are far smaller; a bigger one is not read.
inline constexpr std::size_t kMaxStoredFileBytes = 16u * 1024u * 1024u;

struct FileRead {
  bool exists = false;
  bool ok = false;         // read whole
  // Another program holds the file for a moment (a virus scanner, a backup
  // tool): it is not broken, only to be read again later.
  bool busy = false;
  bool too_large = false;  // more than max_bytes; nothing read
  std::string bytes;
  std::string error;       // when it exists but could not be read
};
FileRead ReadWholeFile(const std::string& path, std::size_t max_bytes = kMaxStoredFileBytes);

// What tells one content of a file from the next without reading it: its
// size and its last write time. nullopt when the file is not there (or
// cannot be asked).
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t written = 0;  // in the platform's own units
  bool operator==(const FileStamp&) const = default;
};
std::optional<FileStamp> StampOf(const std::string& path);

// Writes a temporary file beside the target ("<path>.tmp"), flushes it to
// the disk and puts it in the target's place in one step: after a crash at
// any moment the target holds either the old bytes or the new ones. Creates
// the folder. One writer per path at a time; a temporary file left by a
// crash is simply overwritten by the next write.
bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, std::string* error);

// Renames the file to "<path>.unreadable-YYYYMMDD-HHMMSS" (with a counter
// if that exists) and returns the new path; nullopt if it could not.
std::optional<std::string> MoveAside(const std::string& path);

// Held from construction to destruction: one read-change-write of the file
// at a time among all processes of the user (Windows: a named mutex made
// from the path; elsewhere: flock on "<path>.lock"). Waits at most `wait`;
// held() is false when the lock did not come in that time or could not be
// made at all.
class FileLock {
 public:
  explicit FileLock(const std::string& path,
                    std::chrono::milliseconds wait = std::chrono::milliseconds{2000});
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();
  bool held() const { return held_; }
  // The lock could be made: when it is not held, another process holds it.
  bool made() const {
#ifdef _WIN32
    return mutex_ != nullptr;
#else
    return descriptor_ >= 0;
#endif
  }

 private:
#ifdef _WIN32
  void* mutex_ = nullptr;
#else
  int descriptor_ = -1;
#endif
  bool held_ = false;
};

}  // namespace quenzil
