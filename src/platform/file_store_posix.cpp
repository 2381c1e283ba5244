#include "platform/file_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <thread>

#include "common/unique_handle.h"

namespace quenzil {

namespace {

std::string Failure(const char* call, int code) {
  return std::string(call) + ": " + std::strerror(code);
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool MakeFolders(const std::string& folder, std::string* error) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return true;
    if (error) *error = "mkdir: " + folder + " is not a folder";
    return false;
  }
  const std::string parent = FolderOf(folder);
  if (parent != folder && !MakeFolders(parent, error)) return false;
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    if (error) *error = Failure("mkdir", errno);
    return false;
  }
  return true;
}

using Descriptor = Unique<ClosedBy<int, &::close, -1>>;

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// The rename is only lasting once the folder itself is on the disk.
bool SyncFolder(const std::string& folder, std::string* error) {
  Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) {
    if (error) *error = Failure("open folder", errno);
    return false;
  }
  // Some file systems cannot sync a folder; the rename is then as lasting
  // as they make it.
  if (::fsync(dir.get()) != 0 && errno != EINVAL && errno != ENOTSUP) {
    if (error) *error = Failure("fsync folder", errno);
    return false;
  }
  return true;
}

// Another process holds the file for a moment.
bool IsBusy(int code) { return code == EACCES || code == EAGAIN || code == EBUSY; }

}  // namespace

std::optional<FileStamp> StampOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return FileStamp{static_cast<std::uint64_t>(info.st_size),
                   static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

FileRead ReadWholeFile(const std::string& path, std::size_t max_bytes) {
  FileRead read;
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) {
    const int code = errno;
    if (code == ENOENT || code == ENOTDIR) return read;
    read.exists = true;
    read.busy = IsBusy(code);
    read.error = Failure("open", code);
    return read;
  }
  read.exists = true;
  struct stat info {};
  if (::fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode) &&
      static_cast<std::uintmax_t>(info.st_size) > max_bytes) {
    read.too_large = true;
    read.error = "larger than " + std::to_string(max_bytes) + " bytes";
    return read;
  }
  char buffer[65536];
  while (true) {
    const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      read.busy = IsBusy(errno);
      read.error = Failure("read", errno);
      read.bytes.clear();
      return read;
    }
    if (got == 0) break;
    // It may have grown since the size was looked at.
    if (static_cast<std::size_t>(got) > max_bytes - read.bytes.size()) {
      read.too_large = true;
      read.error = "larger than " + std::to_string(max_bytes) + " bytes";
      read.bytes.clear();
      return read;
    }
    read.bytes.append(buffer, static_cast<std::size_t>(got));
  }
  read.ok = true;
  return read;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, std::string* error) {
  const std::string folder = FolderOf(path);
  if (!MakeFolders(folder, error)) return false;
  const std::string temporary = path + ".tmp";
  const auto fail = [&](const char* call, int code) {
    if (error) *error = Failure(call, code);
    ::unlink(temporary.c_str());
    return false;
  };

  Descriptor file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (file.get() < 0) return fail("open", errno);
  if (!WriteAll(file.get(), bytes)) return fail("write", errno);
  if (::fsync(file.get()) != 0) return fail("fsync", errno);
  // A close can report a write that failed late.
  if (::close(file.release()) != 0) return fail("close", errno);
  if (::rename(temporary.c_str(), path.c_str()) != 0) return fail("rename", errno);
  return SyncFolder(folder, error);
}

std::optional<std::string> MoveAside(const std::string& path) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (::localtime_r(&now, &local) == nullptr) return std::nullopt;
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  const std::string base = path + ".unreadable-" + stamp;
  for (int counter = 1; counter <= 1000; ++counter) {
    const std::string aside = counter == 1 ? base : base + "-" + std::to_string(counter);
    struct stat info {};
    if (::lstat(aside.c_str(), &info) == 0) continue;
    if (::rename(path.c_str(), aside.c_str()) != 0) return std::nullopt;
    return aside;
  }
  return std::nullopt;
}

FileLock::FileLock(const std::string& path, std::chrono::milliseconds wait) {
  // The first write of a file makes its folder; the lock comes before it.
  if (!MakeFolders(FolderOf(path), nullptr)) return;
  descriptor_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (descriptor_ < 0) return;
  const auto end = std::chrono::steady_clock::now() + wait;
  while (true) {
    if (::flock(descriptor_, LOCK_EX | LOCK_NB) == 0) {
      held_ = true;
      return;
    }
    if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= end) return;
    std::this_thread::sleep_for(std::chrono::milliseconds{10});
  }
}

FileLock::~FileLock() {
  // Closing the descriptor lets the lock go. The lock file stays: removing
  // it could let two processes lock two different files of one name.
  if (descriptor_ >= 0) ::close(descriptor_);
}

}  // namespace quenzil
