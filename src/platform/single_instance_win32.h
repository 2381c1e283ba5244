// One instance of the program per user, in whichever session: two would
// write the same watch list. A second start hands its number, or only a
// request to come forward, to the first and ends.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/handles_win32.h"

namespace quenzil {

class SingleInstance {
 public:
  // Takes the lock "Global\Dravimo.Quenzil.<user SID>" (a named mutex,
  // held while this object lives). Another instance holds it when the mutex
  // exists, also when it cannot be opened (an elevated first instance). Any
  // other failure: this start runs as the first.
  static SingleInstance Acquire();

  bool first() const { return first_; }

 private:
  SingleInstance(UniqueHandle lock, bool first) : lock_(std::move(lock)), first_(first) {}

  UniqueHandle lock_;
  bool first_ = true;
};

// How the first instance's window is found and asked to come forward.
struct FirstInstanceWindow {
  const wchar_t* class_name;
  const wchar_t* show_message;  // a registered message
};

// Waits up to two seconds for the first instance's window, lets it come to
// the foreground, and hands it the number (UTF-8, WM_COPYDATA with
// kHandOverTag) or, without one, asks it to come forward; with show_list
// (/list) it shows its 关注列表 window, and comes forward only for a number.
// False when no window was found or the message was not delivered.
bool HandOverToFirstInstance(const FirstInstanceWindow& window, const std::optional<std::string>& number,
                             bool show_list = false);

// A first instance runs (or starts, or ends): its lock exists. Never takes
// the lock itself, so a start meanwhile still comes first.
bool FirstInstanceRuns();

// Hands the bytes (WM_COPYDATA with `tag`) to the first instance's window,
// waiting up to two seconds for it, and waits for its answer: a
// WM_COPYDATA with `answer_tag` to the window named in wParam, which it
// sends while it handles the hand-over. nullopt when no window was found
// or it did not answer.
std::optional<std::string> HandOverAndAwaitAnswer(const wchar_t* class_name, std::uintptr_t tag,
                                                  std::string_view bytes, std::uintptr_t answer_tag);

}  // namespace quenzil
