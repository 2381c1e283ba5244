// The program's entry: form1 is the start-up object.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>

#include <chrono>
#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "common/unique_handle.h"
#include "common/utf.h"
#include "deploy_config.h"
#include "watch/watch_store.h"
#include "web/transfers_winhttp.h"
#include "window/control_ids.h"
#include "window/credential_store_win32.h"
#include "window/form1.h"
#include "window/main_window.h"
#include "window/texts.h"

namespace {

using quenzil::UniqueAny;
using UniqueHandle = UniqueAny<HANDLE, decltype(&::CloseHandle), ::CloseHandle>;

// The current user's SID as text, so one instance runs per user even
// across sessions; empty if it cannot be read.
std::wstring UserSid() {
  HANDLE token_handle = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token_handle)) return {};
  const UniqueHandle token(token_handle);
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::string buffer(size, '\0');
  if (size == 0 || !::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return {};
  LPWSTR text = nullptr;
  if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) return {};
  std::wstring sid(text);
  ::LocalFree(text);
  return sid;
}

// Asks the instance already running to come forward.
void BringFirstInstanceForward() {
  const UINT show_yourself = ::RegisterWindowMessageW(quenzil::ids::kShowYourselfMessage);
  // It may still be making its window: look a little while, not forever.
  for (int attempt = 0; attempt < 40; ++attempt) {
    if (const HWND first = ::FindWindowW(quenzil::ids::kFormClassName, nullptr); first != nullptr) {
      DWORD process_id = 0;
      ::GetWindowThreadProcessId(first, &process_id);
      ::AllowSetForegroundWindow(process_id);
      ::PostMessageW(first, show_yourself, 0, 0);
      return;
    }
    ::Sleep(50);
  }
}

// %APPDATA%\Quenzil\watch.json
std::string WatchFilePath() {
  PWSTR folder = nullptr;
  std::wstring path;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_CREATE, nullptr, &folder))) {
    path = folder;
  }
  ::CoTaskMemFree(folder);
  if (path.empty()) {
    wchar_t fallback[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"APPDATA", fallback, MAX_PATH);
    if (length > 0 && length < MAX_PATH) path = fallback;
  }
  if (path.empty()) return {};
  return quenzil::Narrow(path + L"\\Quenzil\\watch.json");
}

quenzil::DeployHosts Deployment() {
  using namespace quenzil;
  DeployHosts deployment;
  deployment.tracking_api = deploy::kTrackingApiHost;
  deployment.tracking_home = deploy::kTrackingHomeHost;
  deployment.maker = deploy::kMakerHost;
  deployment.tracking_poll = deploy::kTrackingPollHost;
  deployment.tracking_detect = deploy::kTrackingDetectHost;
  const std::chrono::milliseconds step_timeout{deploy::kQueryStepTimeoutMs};
  deployment.query_limits.connect = step_timeout;
  deployment.query_limits.send = step_timeout;
  deployment.query_limits.receive = step_timeout;
  deployment.query_limits.total = std::chrono::milliseconds{deploy::kQueryTotalTimeoutMs};
  deployment.watch_schedule.interval = deploy::kWatchIntervalSeconds;
  deployment.watch_schedule.requery_guard = deploy::kKeyedRequerySeconds;
  deployment.watch_schedule.quiet_hours = ParseQuietHours(deploy::kWatchQuietHours);
  return deployment;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  using namespace quenzil;

  // One instance per user, in whichever session: two would write the same
  // watch list. A mutex in the global namespace needs no privilege.
  const UniqueHandle instance_lock(::CreateMutexW(nullptr, FALSE, (L"Global\\Dravimo.Quenzil." + UserSid()).c_str()));
  if (instance_lock && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    BringFirstInstanceForward();
    return 0;
  }

  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_STANDARD_CLASSES;
  // Without it the standard controls still work, only unthemed.
  static_cast<void>(::InitCommonControlsEx(&controls));

  // The shell's "open" may need COM on this thread.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const auto uninitialize = scope_exit([com] {
    if (SUCCEEDED(com)) ::CoUninitialize();
  });

  try {
    // Transfers hand their outcomes to the window through the mailbox.
    const auto mailbox = std::make_shared<OutcomeMailbox>();
    WinHttpTransfers transfers(
        [mailbox](TransferId id, FetchOutcome outcome) { mailbox->Deliver(id, std::move(outcome)); });
    MainWindow window(instance, mailbox, deploy::kMakerHost);
    window.Create();
    RegistryCredentialStore credentials;
    WatchFileStore watch_store(WatchFilePath());
    Form1 form(window, transfers, credentials, watch_store, Deployment());
    window.AttachForm(form);
    window.StartTimer();
    // The update check runs before the window is ever shown; the window
    // appears once it has answered or given up.
    form.Form_Load();
    return window.RunMessageLoop();
  } catch (const std::exception& error) {
    const std::wstring prompt = Widen(std::string("程序内部错误：") + error.what());
    ::MessageBoxW(nullptr, prompt.c_str(), Widen(kSystemNoticeTitle).c_str(), MB_OK);
    return 1;
  }
}
