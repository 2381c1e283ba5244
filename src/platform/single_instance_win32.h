// One instance of the program per user, in whichever session: two would
// write the same watch list. A second start hands its number, or only a
// request to come forward, to the first and ends.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
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
// kHandOverTag) or, without one, asks it to come forward. False when no
// window was found or the message was not delivered.
bool HandOverToFirstInstance(const FirstInstanceWindow& window, const std::optional<std::string>& number);

}  // namespace quenzil
