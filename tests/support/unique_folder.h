// A folder of its own for each test, in the temporary folder: the process
// id and a counter in its name, so tests run at once (in this build, in
// another one, under Wine) never share one.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace quenzil {

// "<temp>/<stem>-<pid>-<n>", not made yet and nothing left there.
inline std::filesystem::path UniqueTestFolder(const std::u8string& stem) {
  static std::atomic<int> counter{0};
#ifdef _WIN32
  const long long process = _getpid();
#else
  const long long process = ::getpid();
#endif
  const std::string tail = "-" + std::to_string(process) + "-" + std::to_string(++counter);
  std::filesystem::path folder = std::filesystem::temp_directory_path() / std::filesystem::path(stem);
  folder += tail;
  std::filesystem::remove_all(folder);
  return folder;
}

}  // namespace quenzil
