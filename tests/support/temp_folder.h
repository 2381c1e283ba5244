// A folder in the temp folder that is one test's alone, removed with it:
// copies of the suite that run side by side never share a folder or a lock.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

namespace quenzil::testing_support {

class TempFolder {
 public:
  // The stem keeps a part outside ASCII (e.g. u8"quenzil-历史-"): the
  // Windows build must carry such paths through every conversion.
  explicit TempFolder(std::u8string_view stem) {
    static std::atomic<std::uint64_t> made{0};
    // The clock and the counter as well: some random_device always starts alike.
    std::mt19937_64 random(std::random_device{}() ^
                           static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) ^
                           (made++ << 48));
    // create_directory says whether it made the folder: one that exists is another run's.
    do {
      path_ = std::filesystem::temp_directory_path() / std::filesystem::path(stem);
      path_ += std::to_string(random());
    } while (!std::filesystem::create_directory(path_));
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace quenzil::testing_support
