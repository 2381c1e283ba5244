#include "platform/file_store.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "common/handles_win32.h"
#include "common/utf.h"

namespace quenzil {

namespace {

// At most 10 + 20 + 30 + 40 ms of waiting for a busy target.
constexpr int kReplaceAttempts = 5;

std::string Failure(const char* api, DWORD code) { return std::string(api) + ": " + std::to_string(code); }

std::wstring FolderOf(const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return {};
  return path.substr(0, separator);
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Drive roots and share roots always exist, so the walk up stops there.
bool MakeFolders(const std::wstring& folder, std::string* error) {
  if (folder.empty() || IsFolder(folder)) return true;
  const std::wstring parent = FolderOf(folder);
  if (!parent.empty() && parent != folder && !MakeFolders(parent, error)) return false;
  if (!::CreateDirectoryW(folder.c_str(), nullptr)) {
    const DWORD code = ::GetLastError();
    if (code != ERROR_ALREADY_EXISTS || !IsFolder(folder)) {
      if (error) *error = Failure("CreateDirectoryW", code);
      return false;
    }
  }
  return true;
}

bool WriteAll(HANDLE file, std::string_view bytes) {
  constexpr std::size_t kChunk = 1u << 20;
  while (!bytes.empty()) {
    const auto size = static_cast<DWORD>(bytes.size() < kChunk ? bytes.size() : kChunk);
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), size, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

// Another program holds the file or a part of it for a moment (a virus
// scanner, a backup tool, an editor).
bool IsBusy(DWORD code) {
  return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION || code == ERROR_ACCESS_DENIED;
}

// One name per file for every process of the user, in every session; the
// path decides it, in any case and with either slash.
std::wstring LockName(const std::string& path) {
  std::wstring wide = Widen(path);
  for (wchar_t& unit : wide) {
    if (unit == L'/') unit = L'\\';
  }
  if (!wide.empty()) {
    const int size = static_cast<int>(wide.size());
    std::wstring lower(wide.size(), L'\0');
    if (::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, wide.data(), size, lower.data(), size,
                        nullptr, nullptr, 0) == size) {
      wide = std::move(lower);
    }
  }
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const wchar_t unit : wide) {
    hash = (hash ^ (static_cast<unsigned>(unit) & 0xFFu)) * 1099511628211ull;
    hash = (hash ^ (static_cast<unsigned>(unit) >> 8)) * 1099511628211ull;
  }
  std::wstring name = L"Global\\Dravimo.Quenzil.Lock.";
  for (int shift = 60; shift >= 0; shift -= 4) name += L"0123456789abcdef"[(hash >> shift) & 0xF];
  return name;
}

}  // namespace

std::optional<FileStamp> StampOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(Widen(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return FileStamp{(static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
                   static_cast<std::int64_t>((static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                             data.ftLastWriteTime.dwLowDateTime)};
}

FileRead ReadWholeFile(const std::string& path, std::size_t max_bytes) {
  FileRead read;
  const std::wstring wide = Widen(path);
  if (wide.empty()) {
    read.exists = !path.empty();
    read.error = "Widen: not a path";
    return read;
  }
  UniqueFile file(::CreateFileW(wide.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return read;
    read.exists = true;
    read.busy = IsBusy(code);
    read.error = Failure("CreateFileW", code);
    return read;
  }
  read.exists = true;
  const std::string too_large = "larger than " + std::to_string(max_bytes) + " bytes";
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(file.get(), &size) && static_cast<unsigned long long>(size.QuadPart) > max_bytes) {
    read.too_large = true;
    read.error = too_large;
    return read;
  }
  char buffer[65536];
  while (true) {
    DWORD got = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
      const DWORD code = ::GetLastError();
      read.busy = IsBusy(code);
      read.error = Failure("ReadFile", code);
      read.bytes.clear();
      return read;
    }
    if (got == 0) break;
    // It may have grown since the size was looked at.
    if (got > max_bytes - read.bytes.size()) {
      read.too_large = true;
      read.error = too_large;
      read.bytes.clear();
      return read;
    }
    read.bytes.append(buffer, got);
  }
  read.ok = true;
  return read;
}

bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, std::string* error) {
  const std::wstring target = Widen(path);
  if (target.empty()) {
    if (error) *error = "Widen: not a path";
    return false;
  }
  if (!MakeFolders(FolderOf(target), error)) return false;
  const std::wstring temporary = target + L".tmp";
  const auto fail = [&](const char* api, DWORD code) {
    if (error) *error = Failure(api, code);
    ::DeleteFileW(temporary.c_str());
    return false;
  };

  // Not shared: a second writer fails here instead of mixing its bytes in.
  UniqueFile file(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    if (error) *error = Failure("CreateFileW", ::GetLastError());
    return false;
  }
  if (!WriteAll(file.get(), bytes)) return fail("WriteFile", ::GetLastError());
  if (!::FlushFileBuffers(file.get())) return fail("FlushFileBuffers", ::GetLastError());
  // Closed here: a late write failure can show as the handle closes.
  if (!::CloseHandle(file.release())) return fail("CloseHandle", ::GetLastError());
  // A target open elsewhere (a reader, a virus scanner glancing at the new
  // file) refuses the replacement for a moment: try a few times, briefly.
  for (int attempt = 1;; ++attempt) {
    if (::MoveFileExW(temporary.c_str(), target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    const DWORD code = ::GetLastError();
    const bool busy = code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION ||
                      code == ERROR_LOCK_VIOLATION;
    if (!busy || attempt == kReplaceAttempts) return fail("MoveFileExW", code);
    ::Sleep(static_cast<DWORD>(10 * attempt));
  }
}

std::optional<std::string> MoveAside(const std::string& path) {
  const std::wstring source = Widen(path);
  if (source.empty()) return std::nullopt;
  SYSTEMTIME local{};
  ::GetLocalTime(&local);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04u%02u%02u-%02u%02u%02u", local.wYear, local.wMonth,
                local.wDay, local.wHour, local.wMinute, local.wSecond);
  const std::string base = path + ".unreadable-" + stamp;
  for (int counter = 1; counter <= 1000; ++counter) {
    const std::string aside = counter == 1 ? base : base + "-" + std::to_string(counter);
    if (::MoveFileExW(source.c_str(), Widen(aside).c_str(), MOVEFILE_WRITE_THROUGH)) return aside;
    const DWORD code = ::GetLastError();
    if (code != ERROR_ALREADY_EXISTS && code != ERROR_FILE_EXISTS) return std::nullopt;
  }
  return std::nullopt;
}

FileLock::FileLock(const std::string& path, std::chrono::milliseconds wait) {
  mutex_ = ::CreateMutexW(nullptr, FALSE, LockName(path).c_str());
  if (mutex_ == nullptr) return;
  // An owner that ended without letting go leaves the file whole: every
  // write replaces it in one step.
  const DWORD waited = ::WaitForSingleObject(mutex_, static_cast<DWORD>(wait.count()));
  held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

FileLock::~FileLock() {
  if (mutex_ == nullptr) return;
  if (held_) ::ReleaseMutex(mutex_);
  ::CloseHandle(mutex_);
}

}  // namespace quenzil
