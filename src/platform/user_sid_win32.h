// The current user's security identifier, for names of objects that every
// process of the user shares whatever its session.
#pragma once

#include <string>

namespace quenzil {

// The SID as text ("S-1-5-21-..."); empty if it cannot be read.
std::string CurrentUserSid();

}  // namespace quenzil
