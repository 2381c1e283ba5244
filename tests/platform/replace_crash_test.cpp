// Kills a process while it keeps replacing the watch file, many times over,
// and checks that the file always holds one whole version, never an older
// one than before.
//   replace_crash_test            the check (starts itself as the writer)
//   replace_crash_test write PATH the writer: replaces PATH until killed
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_store.h"
#include "support/temp_folder.h"
#include "watch/watch_file.h"

#ifdef _WIN32
#include <windows.h>

#include "common/utf.h"
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace quenzil {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 100;
// A writer whose checker died stops by itself.
constexpr auto kWriterLifetime = std::chrono::seconds(30);
constexpr auto kFirstWriteWait = std::chrono::seconds(20);
constexpr std::string_view kNoFile = "no file";

// Version g holds g % 97 + 1 entries, each naming g, and g at the top; its
// size changes with every version, so a cut or mixed file cannot pass.
WatchList Version(long long generation) {
  WatchList list;
  list.unknown = {{"generation", "\"generation\":" + std::to_string(generation)}};
  const long long count = generation % 97 + 1;
  for (long long i = 0; i < count; ++i) {
    WatchedParcel parcel;
    parcel.number = std::to_string(generation) + "-" + std::to_string(i);
    parcel.carrier = "yuantong";
    parcel.note = std::string(static_cast<std::size_t>(i % 13) * 7, 'n') + "关注";
    list.parcels.push_back(std::move(parcel));
  }
  return list;
}

// The version the file holds; nullopt (and why) when it is not a whole one.
std::optional<long long> WholeVersion(const std::string& path, std::string* why) {
  const FileRead read = ReadWholeFile(path);
  if (!read.exists || !read.ok) {
    *why = read.exists ? read.error : std::string(kNoFile);
    return std::nullopt;
  }
  try {
    const WatchList list = ParseWatchFile(read.bytes);
    if (list.unknown.size() != 1 || list.unknown[0].name != "generation") throw std::runtime_error("no generation");
    const long long generation = std::stoll(list.unknown[0].text.substr(list.unknown[0].text.find(':') + 1));
    if (SerializeWatchFile(Version(generation)) != read.bytes) {
      *why = "version " + std::to_string(generation) + " differs from what was written";
      return std::nullopt;
    }
    return generation;
  } catch (const std::exception& error) {
    *why = std::string("unreadable: ") + error.what() + " (" + std::to_string(read.bytes.size()) +
           " bytes)";
    return std::nullopt;
  }
}

int Write(const std::string& path) {
  std::string why;
  long long generation = WholeVersion(path, &why).value_or(0);
  const auto end = Clock::now() + kWriterLifetime;
  while (Clock::now() < end) {
    // A failed replace (the checker reading at that moment) is tried again.
    std::string error;
    if (ReplaceFileAtomically(path, SerializeWatchFile(Version(generation + 1)), &error)) {
      ++generation;
    }
  }
  return 0;
}

#ifdef _WIN32
class Writer {
 public:
  explicit Writer(const std::string& path) {
    wchar_t self[32768];
    const DWORD length = ::GetModuleFileNameW(nullptr, self, 32768);
    if (length == 0 || length >= 32768) return;
    std::wstring command = L"\"" + std::wstring(self, length) + L"\" write \"" + Widen(path) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, &process_)) {
      ::CloseHandle(process_.hThread);
      started_ = true;
    }
  }
  ~Writer() {
    if (started_) Kill();
  }
  bool started() const { return started_; }
  bool Kill() {
    if (!started_) return false;
    started_ = false;
    const bool ended = ::TerminateProcess(process_.hProcess, 9) &&
                       ::WaitForSingleObject(process_.hProcess, 10000) == WAIT_OBJECT_0;
    ::CloseHandle(process_.hProcess);
    return ended;
  }

 private:
  PROCESS_INFORMATION process_{};
  bool started_ = false;
};
#else
class Writer {
 public:
  explicit Writer(const std::string& path) {
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl("/proc/self/exe", "replace_crash_test", "write", path.c_str(), nullptr);
      ::_exit(127);
    }
  }
  ~Writer() {
    if (started()) Kill();
  }
  bool started() const { return pid_ > 0; }
  bool Kill() {
    if (!started()) return false;
    const pid_t pid = pid_;
    pid_ = -1;
    int status = 0;
    return ::kill(pid, SIGKILL) == 0 && ::waitpid(pid, &status, 0) == pid;
  }

 private:
  pid_t pid_ = -1;
};
#endif

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return {text.begin(), text.end()};
}

int Check() {
  const unsigned seed = std::random_device{}();
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> delay_ms(5, 60);
  std::printf("seed %u\n", seed);

  const testing_support::TempFolder folder(u8"quenzil-替换-");
  const std::string path = Utf8(folder.path() / "watch.json");

  long long last_seen = 0;
  int failures = 0;
  for (int round = 0; round < kRounds && failures == 0; ++round) {
    Writer writer(path);
    if (!writer.started()) {
      std::printf("round %d: the writer did not start\n", round);
      ++failures;
      break;
    }
    // Kill only once the writer is at work, so every kill lands among writes.
    // Reading while it writes must never show a cut file either.
    std::string why;
    const auto give_up = Clock::now() + kFirstWriteWait;
    while (Clock::now() < give_up) {
      const std::optional<long long> seen = WholeVersion(path, &why);
      if (!seen && why != kNoFile) {
        std::printf("round %d, while writing: %s\n", round, why.c_str());
        ++failures;
        break;
      }
      if (seen && *seen > last_seen) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms(random)));
    if (!writer.Kill()) {
      std::printf("round %d: the writer could not be killed\n", round);
      ++failures;
      break;
    }
    const std::optional<long long> version = WholeVersion(path, &why);
    if (!version) {
      std::printf("round %d: %s\n", round, why.c_str());
      ++failures;
    } else if (*version <= last_seen) {
      std::printf("round %d: version %lld, not newer than %lld\n", round, *version, last_seen);
      ++failures;
    } else {
      last_seen = *version;
    }
  }
  std::printf("%s: %lld versions written\n", failures ? "FAILED" : "passed", last_seen);
  return failures == 0 ? 0 : 1;
}

int Main(const std::vector<std::string>& args) {
  if (args.size() == 3 && args[1] == "write") return Write(args[2]);
  if (args.size() == 1) return Check();
  std::fprintf(stderr, "usage: replace_crash_test [write PATH]\n");
  return 2;
}

}  // namespace
}  // namespace quenzil

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(quenzil::Narrow(argv[i]));
  return quenzil::Main(args);
}
#else
int main(int argc, char** argv) { return quenzil::Main({argv, argv + argc}); }
#endif
