// What the desktop scenarios need beyond the shared driver: the program's
// stored settings (registry, DPAPI), its watch file, the fake server's full
// log, its dialogs and its popup menus. Every wait is bounded.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver.h"

namespace desk {

using e2e::Millis;
using namespace std::chrono_literals;

// The fake server's one account at each service.
inline constexpr char kCustomer[] = "TESTCUSTOMER";
inline constexpr char kKey[] = "testkey0123456789";
inline constexpr char kKdniaoId[] = "1900001";
inline constexpr char kKdniaoKey[] = "kdniao-test-key-0123";
inline constexpr char kAppCode[] = "testappcode0123456789";

// ---- settings in HKCU\Software\Dravimo\Quenzil ---------------------------

// Stores the account as the program does (Key protected with DPAPI).
::testing::AssertionResult StoreAccount(const std::string& customer, const std::string& key);
// Stores the 快递鸟 account (KdniaoKey protected) and the AppCode
// (protected) as the program does.
::testing::AssertionResult StoreKdniaoAccount(const std::string& id, const std::string& key);
::testing::AssertionResult StoreAppCode(const std::string& code);
// Stores a Key value of these raw bytes beside the customer.
::testing::AssertionResult StoreRawKey(const std::string& customer, const std::vector<BYTE>& bytes);
// Removes the whole settings key.
void ClearSettings();

struct StoredValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> bytes;
};
std::optional<StoredValue> ReadSetting(const wchar_t* name);
// Any value under HKCU.
std::optional<StoredValue> ReadUserValue(const wchar_t* path, const wchar_t* name);
bool WriteUserValue(const wchar_t* path, const wchar_t* name, DWORD type, const std::vector<BYTE>& bytes);
void DeleteUserValue(const wchar_t* path, const wchar_t* name);
// A REG_DWORD setting (a count, a pause).
std::optional<DWORD> DwordSetting(const wchar_t* name);
// A REG_SZ value's text (without its terminating zero).
std::wstring AsText(const StoredValue& value);
// CryptUnprotectData of the bytes; nullopt if they do not decrypt.
std::optional<std::string> Unprotect(const std::vector<BYTE>& bytes);

// ---- files ---------------------------------------------------------------

// %APPDATA%\Quenzil and the watch file in it.
std::wstring WatchFolder();
std::wstring WatchFilePath();
std::optional<std::string> ReadBytes(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
// Names of the files in the watch folder.
std::vector<std::wstring> WatchFolderFiles();
// Deletes the watch folder's files.
void ClearWatchFolder();
// The watch file parsed; a failure says why (missing, not JSON).
::testing::AssertionResult ReadWatchFile(nlohmann::json& out);
// Waits until the watch file satisfies the condition; says what it held.
::testing::AssertionResult WaitForWatchFile(const std::function<bool(const nlohmann::json&)>& condition,
                                            Millis limit);
// Writes a file into the fake server's answers folder, where the
// "file:"/"needphone:" behaviours and "poll.<num>.json" find it.
bool PutAnswerFile(const std::string& name, const std::string& bytes);

// ---- the fake server -----------------------------------------------------

// The server's log is kept for the whole run: a test marks where its part
// begins and reads only that part.
void MarkLogStart();
std::vector<std::string> ServerLog();
// Log lines that begin with the text.
std::vector<std::string> LogLinesStartingWith(const std::string& head);
// The keyed query's log line for a number, e.g. "POST /poll/query.do com=yuantong num=YT1 phone=".
std::string PollLine(const std::string& com, const std::string& number, const std::string& phone = "");
std::size_t CountPolls(const std::string& number);

// A keyed API answer: state, signed flag, events as (time, context), given
// newest first as the service sends them by default.
std::string PollAnswer(const std::string& com, const std::string& number, const std::string& state,
                       bool signed_for, const std::vector<std::pair<std::string, std::string>>& newest_first);

// The other services' answers, from the same newest-first events: 快递鸟's
// (State, traces oldest first, as it sends them) and AppCode's (a 200 with
// status "0", deliverystatus and the list newest first).
std::string KdniaoAnswer(const std::string& shipper, const std::string& number, const std::string& state,
                         const std::vector<std::pair<std::string, std::string>>& newest_first);
std::string AppCodeAnswer(const std::string& type, const std::string& number, const std::string& delivery,
                          const std::vector<std::pair<std::string, std::string>>& newest_first);
// 快递鸟's log line, e.g. "POST /Ebusiness/EbusinessOrderHandle.aspx type=1002 shipper=YTO num=YT1 phone=".
std::string KdniaoLine(const std::string& type, const std::string& shipper, const std::string& number);

// ---- processes and windows -------------------------------------------------

// Ends every quenzil.exe of this Wine session: a leftover one would take the
// next start's place.
void EndEveryInstance();
std::vector<DWORD> RunningInstances();

using e2e::FindWindowOf;
using e2e::WindowsOf;
using e2e::WindowTextOf;
HWND WaitForWindowOf(DWORD pid, const wchar_t* class_name, const wchar_t* title, Millis limit);
// Titles of the process's visible dialogs and message boxes.
std::vector<std::wstring> VisibleBoxes(DWORD pid);
// Every text the process's windows show (captions and children).
std::vector<std::wstring> AllWindowTexts(DWORD pid);

// Sets a dialog's edit as typing would leave it.
::testing::AssertionResult SetItemText(HWND dialog, int id, const std::wstring& text);
// Clicks a dialog button (it must be visible and enabled).
::testing::AssertionResult ClickItem(HWND dialog, int id);
::testing::AssertionResult WaitGone(HWND window, Millis limit = 5s);

// ---- popup menus -----------------------------------------------------------

// A visible popup menu ("#32768") of the process.
HWND WaitForPopupMenu(DWORD pid, Millis limit);
// The menu's item texts as the program made them (separators are empty);
// nullopt when another process cannot read them.
std::optional<std::vector<std::wstring>> MenuItemTexts(HWND menu_window);
// Chooses an item with real keys (SendInput; posted to the menu when the
// program is not in front): Down `index + 1` times from no
// selection (separators are skipped by the menu, so `index` counts only
// the selectable items), then Enter. With `sub_index`, Right opens the
// item's submenu and Down moves within it first.
::testing::AssertionResult ChooseMenuItem(HWND menu_window, int index, std::optional<int> sub_index = {});

// ---- console programs --------------------------------------------------------

// What a console program did: its exit code, standard output and error.
struct Ran {
  DWORD code = 0xFFFF;
  std::string out, err;
};

// Runs it with standard output and error in pipes, read while it runs;
// ended after 30 s.
Ran RunConsole(const std::wstring& exe, const std::vector<std::string>& arguments);

// ---- a scenario ------------------------------------------------------------

// The watch file's parcel of this number, or null.
const nlohmann::json* ParcelIn(const nlohmann::json& file, const std::string& number);
// "[a] [b] " for messages.
std::string Describe(const std::vector<std::wstring>& texts);

// A scenario with a fresh quenzil.exe against the fake server: no program
// running, no stored settings and no watch file before or after it.
class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Removes what a run may leave; a suite whose program leaves more adds it.
  virtual void Clean();

  // Starts the program and waits for its window and the first focus.
  ::testing::AssertionResult Start();
  DWORD pid() const { return app_->pid(); }
  ::testing::AssertionResult PostToForm(UINT message, WPARAM wparam, LPARAM lparam);
  // No dialog or message box of the program shows up for this long.
  ::testing::AssertionResult NoBoxFor(Millis time);
  // Answers the message box with this title after checking its text.
  ::testing::AssertionResult ExpectBox(const std::wstring& title, const std::wstring& text, int button = IDOK);
  HWND WaitForDialog(const std::wstring& title);
  // Showing or hiding a window moves the foreground a moment later, when the
  // display server has caught up; a menu opened before that would be closed
  // by it, quicker than any person opens one. Waits until the foreground
  // has stayed the same for a while.
  static void LetFocusSettle();
  HWND OpenTrayMenu();
  // The menu's texts when this platform lets another program read them;
  // checked against what is expected, or skipped with a note.
  static void ExpectMenuTexts(HWND menu, const std::vector<std::wstring>& expected);

  std::unique_ptr<e2e::App> app_;
};

}  // namespace desk
