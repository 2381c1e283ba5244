// A folder of its own for each test, so tests run at once never share one.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <process.h>
#define QUENZIL_PROCESS_ID _getpid()
#else
#include <unistd.h>
#define QUENZIL_PROCESS_ID ::getpid()
#endif

namespace quenzil {

// "<temp>/<stem>-<process id>-<counter>", with nothing there.
inline std::filesystem::path UniqueTestFolder(const std::u8string& stem) {
  static std::atomic<int> counter{0};
  std::filesystem::path folder = std::filesystem::temp_directory_path() / std::filesystem::path(stem);
  folder += "-" + std::to_string(QUENZIL_PROCESS_ID) + "-" + std::to_string(++counter);
  std::filesystem::remove_all(folder);
  return folder;
}

}  // namespace quenzil
