// quenzilc.exe, the console companion: one query, or the watch list, from
// the command line, with the window program's account, kept answers and
// count. It only wires the portable parts to the platform.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "app/command_line.h"
#include "app/deployment.h"
#include "app/texts.h"
#include "app/watch_handover.h"
#include "cli/arguments.h"
#include "cli/blocking_query.h"
#include "cli/report.h"
#include "cli/watch_command.h"
#include "cli/watched_file.h"
#include "common/utf.h"
#include "deploy_config.h"
#include "platform/app_paths_win32.h"
#include "platform/credential_store_win32.h"
#include "platform/history_file_store.h"
#include "platform/settings_store_win32.h"
#include "platform/single_instance_win32.h"
#include "web/counting_transfers.h"
#include "web/transfers_winhttp.h"

namespace {

using namespace quenzil;
using namespace quenzil::cli;

// A watch file held by another program is tried again for about 1.5 s.
constexpr int kWatchFileAttempts = 6;
constexpr std::chrono::milliseconds kWatchFilePause{300};
// Beyond a transfer's own total limit, before its step counts as timed out.
constexpr std::chrono::milliseconds kStepMargin{5000};
// WriteConsoleW takes at most this many characters at once on older systems.
constexpr std::size_t kConsoleChunk = 8192;

// Standard output or error: UTF-16 to a console, UTF-8 bytes to a file or a
// pipe.
class StdStream {
 public:
  explicit StdStream(DWORD which) : handle_(::GetStdHandle(which)) {
    DWORD mode = 0;
    console_ = handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle_, &mode);
  }

  // False when the text could not be written whole.
  bool Write(std::string_view text) const {
    if (text.empty() || handle_ == nullptr) return true;  // no stream: nobody to tell
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    return console_ ? WriteConsoleText(text) : WriteBytes(text);
  }

 private:
  bool WriteConsoleText(std::string_view text) const {
    std::string lines;
    for (const char c : text) {
      if (c == '\n') lines += '\r';
      lines += c;
    }
    const std::wstring wide = Widen(lines);
    for (std::size_t done = 0; done < wide.size();) {
      std::size_t count = std::min(kConsoleChunk, wide.size() - done);
      // Never half of a surrogate pair.
      if (count < wide.size() - done && IS_HIGH_SURROGATE(wide[done + count - 1])) --count;
      DWORD written = 0;
      if (!::WriteConsoleW(handle_, wide.data() + done, static_cast<DWORD>(count), &written, nullptr) ||
          written == 0)
        return false;
      done += written;
    }
    return true;
  }

  bool WriteBytes(std::string_view text) const {
    while (!text.empty()) {
      DWORD written = 0;
      const DWORD count = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1u << 20));
      if (!::WriteFile(handle_, text.data(), count, &written, nullptr) || written == 0) return false;
      text.remove_prefix(written);
    }
    return true;
  }

  HANDLE handle_;
  bool console_ = false;
};

WatchedRead ReadWatchFile() {
  const std::string path = AppDataFile("watch.json");
  if (path.empty()) return {std::nullopt, "找不到关注列表文件所在的文件夹（%APPDATA%）。"};
  return ReadWatched([&path] { return ReadWholeFile(path); }, kWatchFileAttempts,
                     [] { std::this_thread::sleep_for(kWatchFilePause); });
}

// The watch list as the companion changes it: through the running window,
// or the file under its lock.
class CompanionWatchList final : public WatchListAccess {
 public:
  explicit CompanionWatchList(std::string path) : path_(std::move(path)) {}
  bool WindowRuns() override { return FirstInstanceRuns(); }
  std::optional<std::vector<AddResult>> HandOver(const std::vector<WatchedParcel>& parcels) override {
    const std::optional<std::string> answer =
        HandOverAndAwaitAnswer(kMainWindowClass, kWatchHandOverTag, WriteWatchHandOver(parcels), kWatchAnswerTag);
    if (!answer) return std::nullopt;
    return ReadWatchAnswer(kWatchAnswerTag, *answer, parcels.size());
  }
  bool Lock() override {
    lock_.emplace(path_);
    if (!lock_->held()) lock_.reset();
    return lock_.has_value();
  }
  void Unlock() override { lock_.reset(); }
  FileRead Read() override { return ReadWholeFile(path_); }
  bool Write(const std::string& text, std::string& error) override {
    return ReplaceFileAtomically(path_, text, &error);
  }
  UnixSeconds Now() override { return SystemClock().Now(); }
  void Pause() override { std::this_thread::sleep_for(kWatchFilePause); }

 private:
  std::string path_;
  std::optional<FileLock> lock_;
};

Report ChangeWatchList(const Command& command) {
  const std::string path = AppDataFile("watch.json");
  if (path.empty()) return FailureReport("找不到关注列表文件所在的文件夹（%APPDATA%）。");
  CompanionWatchList access(path);
  if (command.kind == Command::Kind::kWatch) {
    return AddToWatchList(access, [&command](const WatchList& list) { return WatchLine(command, list); }, false);
  }
  const FileRead file = ReadWholeFile(command.file);
  if (!file.exists) return FailureReport("找不到要导入的文件：" + command.file);
  if (!file.ok) return FailureReport("无法读取要导入的文件：" + command.file + "（" + file.error + "）");
  // Read against the list as it is when the lock is held.
  std::string error;
  Report report = AddToWatchList(
      access,
      [&](const WatchList& list) {
        SheetRead sheet = ReadSheet(file.bytes, list);
        error = sheet.error;
        return sheet.lines.value_or(std::vector<ImportLine>{});
      },
      true);
  return error.empty() ? report : FailureReport(command.file + "：" + error);
}

Report ExportWatchList(const Command& command) {
  const WatchedRead read = ReadWatchFile();
  if (!read.list) return FailureReport(read.error);
  const Exported exported = ExportList(*read.list, command, SystemClock().Now());
  std::string error;
  if (!ReplaceFileAtomically(command.file, exported.sheet, &error)) {
    return FailureReport("无法写入 " + command.file + "（" + error + "）");
  }
  return {ExitCode::kRows, exported.told, {}};
}

Report Query(const Command& command) {
  RegistryCredentialStore credential_store;
  const CredentialStore::Loaded account = credential_store.Load();
  // As in the window: an account that cannot be read counts as none.
  const std::string warning = account.unreadable ? std::string(kCredentialsUnreadablePrompt) + "\n" : "";
  if (std::string problem = CheckQuery(command, account.accounts); !problem.empty()) {
    Report usage = UsageReport(problem);
    usage.err.insert(0, warning);
    return usage;
  }
  // The guard finds kept answers in the watch list too; one that cannot be
  // read only means fewer of them.
  ReadOnlyWatchStore watched(ReadWatchFile().list.value_or(WatchList{}));
  HistoryFileStore history(AppDataFile("history.json"));

  // Shared with the transfers' workers, which may outlive this call.
  const auto outcomes = std::make_shared<OutcomeQueue>();
  WinHttpTransfers winhttp(
      [outcomes](TransferId id, FetchOutcome outcome) { outcomes->Push(id, std::move(outcome)); });
  // Counted once sent, on the transfers' threads, which may outlive this call.
  CountingTransfers transfers(winhttp, [](const std::string& service) { RegistryQueryCounter().CountOne(service); });
  RegistrySettingsStore settings_store;
  const DeployHosts hosts = DeployedHosts();
  const SystemClock clock;
  BlockingQuery query(transfers, *outcomes, {watched, history, settings_store}, clock, hosts, account.accounts,
                      command.service, hosts.query_limits.total + kStepMargin);

  QueryAsk ask;
  ask.number = command.number;
  ask.carrier_code = command.courier;
  ask.phone = command.phone;
  Report report = QueryReport(query.Run(ask), ask, command.json);
  report.err.insert(0, warning);
  return report;
}

Report Run(const std::vector<std::string>& arguments) {
  const ParsedArguments parsed = ParseArguments(arguments);
  if (!parsed.command) return UsageReport(parsed.error);
  const Command& command = *parsed.command;
  switch (command.kind) {
    case Command::Kind::kHelp: return HelpReport();
    case Command::Kind::kGuess: return GuessReport(command.number, GuessCouriers(command.number), command.json);
    case Command::Kind::kWatched: {
      const WatchedRead read = ReadWatchFile();
      return read.list ? WatchedReport(*read.list, command.json) : FailureReport(read.error);
    }
    case Command::Kind::kWatch:
    case Command::Kind::kImport: return ChangeWatchList(command);
    case Command::Kind::kExport: return ExportWatchList(command);
    case Command::Kind::kQuery: break;
  }
  return Query(command);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Report report;
  try {
    std::vector<std::string> arguments;
    for (int index = 1; index < argc; ++index) arguments.push_back(Narrow(argv[index]));
    report = Run(arguments);
  } catch (const std::exception& error) {
    report = FailureReport(std::string("程序内部错误：") + error.what());
  }
  const StdStream out(STD_OUTPUT_HANDLE);
  const StdStream err(STD_ERROR_HANDLE);
  // Output that cannot be written is no result.
  if (!out.Write(report.out)) {
    report.exit_code = ExitCode::kFailure;
    report.err += "无法写出结果。\n";
  }
  // Standard error is the last resort: nothing more can be told if it fails.
  static_cast<void>(err.Write(report.err));
  return static_cast<int>(report.exit_code);
}
