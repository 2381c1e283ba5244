// The program's entry: form1 is the start-up object.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/command_line.h"
#include "app/deployment.h"
#include "app/texts.h"
#include "common/unique_handle.h"
#include "common/utf.h"
#include "deploy_config.h"
#include "platform/app_paths_win32.h"
#include "platform/credential_store_win32.h"
#include "platform/history_file_store.h"
#include "platform/settings_store_win32.h"
#include "platform/single_instance_win32.h"
#include "platform/watch_file_store.h"
#include "web/counting_transfers.h"
#include "web/transfers_winhttp.h"
#include "window/control_ids.h"
#include "window/form1.h"
#include "window/main_window.h"

namespace {

// The arguments after the program's name, UTF-8.
std::vector<std::string> Arguments() {
  int count = 0;
  LPWSTR* words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (words == nullptr) return {};
  std::vector<std::string> arguments;
  for (int index = 1; index < count; ++index) arguments.push_back(quenzil::Narrow(words[index]));
  ::LocalFree(words);
  return arguments;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  using namespace quenzil;

  StartOptions start = ParseStartArguments(Arguments());
  // One instance per user, in whichever session: two would write the same
  // watch list. A second start hands its number over and ends.
  const SingleInstance instance_lock = SingleInstance::Acquire();
  if (!instance_lock.first()) {
    HandOverToFirstInstance({ids::kFormClassName, ids::kShowYourselfMessage}, start.number, start.list);
    return 0;
  }

  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES;
  // Without it the standard controls still work, only unthemed.
  static_cast<void>(::InitCommonControlsEx(&controls));

  // The shell's "open" may need COM on this thread.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const auto uninitialize = scope_exit([com] {
    if (SUCCEEDED(com)) ::CoUninitialize();
  });

  try {
    RegistryQueryCounter counter;
    // Transfers hand their outcomes to the window through the mailbox;
    // every keyed request is counted once it has gone out, on the transfer's
    // thread, which may outlive this scope: the count takes its own counter.
    const auto mailbox = std::make_shared<OutcomeMailbox>();
    WinHttpTransfers winhttp(
        [mailbox](TransferId id, FetchOutcome outcome) { mailbox->Deliver(id, std::move(outcome)); });
    CountingTransfers transfers(winhttp, [](const std::string& service) { RegistryQueryCounter().CountOne(service); });
    MainWindow window(instance, mailbox, deploy::kMakerHost);
    RegistryCredentialStore credentials;
    WatchFileStore watch_store(AppDataFile("watch.json"));
    HistoryFileStore history(AppDataFile("history.json"));
    RegistrySettingsStore settings;
    RunKeyAutostart autostart;
    const SystemClock clock;
    Form1 form(window, transfers, FormStores{credentials, watch_store, history, settings, counter, autostart}, clock,
               DeployedHosts(), std::move(start));
    // The update check runs before the window is ever shown, and goes out
    // while the window and its controls are made; the window appears once
    // it has answered or given up.
    form.Form_Load();
    window.Create();
    window.AttachForm(form);
    window.StartTimer();
    return window.RunMessageLoop();
  } catch (const std::exception& error) {
    const std::wstring prompt = Widen(std::string("程序内部错误：") + error.what());
    ::MessageBoxW(nullptr, prompt.c_str(), Widen(kSystemNoticeTitle).c_str(), MB_OK);
    return 1;
  }
}
