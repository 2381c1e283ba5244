#include "cli/watched_file.h"

#include "watch/watch_file.h"

namespace quenzil::cli {

WatchedRead ReadWatched(const std::function<FileRead()>& read, int attempts, const std::function<void()>& pause) {
  FileRead file = read();
  for (int attempt = 1; file.busy && attempt < attempts; ++attempt) {
    pause();
    file = read();
  }
  if (!file.exists) return {WatchList{}, {}};
  if (file.busy) return {std::nullopt, "关注列表文件正被其他程序占用，请稍后再试。"};
  if (!file.ok) return {std::nullopt, "关注列表文件无法读取（" + file.error + "）。"};
  try {
    return {ParseWatchFile(file.bytes), {}};
  } catch (const WatchFileVersionError&) {
    return {std::nullopt, "关注列表文件是更新版本的程序保存的，本程序无法读取。"};
  } catch (const WatchFileError& error) {
    return {std::nullopt, std::string("关注列表文件无法读取（") + error.what() + "）。"};
  }
}

}  // namespace quenzil::cli
