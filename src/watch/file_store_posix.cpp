#include "watch/file_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

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

using Descriptor = UniqueAny<int, decltype(&::close), ::close, -1>;

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

}  // namespace

FileRead ReadWholeFile(const std::string& path) {
  FileRead read;
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno == ENOENT || errno == ENOTDIR) return read;
    read.exists = true;
    read.error = Failure("open", errno);
    return read;
  }
  read.exists = true;
  char buffer[65536];
  while (true) {
    const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      read.error = Failure("read", errno);
      read.bytes.clear();
      return read;
    }
    if (got == 0) break;
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

}  // namespace quenzil
