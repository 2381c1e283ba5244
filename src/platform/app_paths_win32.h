// Where the program keeps its files: %APPDATA%\Quenzil.
#pragma once

#include <string>
#include <string_view>

namespace quenzil {

// The UTF-8 path of a file in the program's folder under the roaming
// application data; empty when the folder cannot be told.
std::string AppDataFile(std::string_view name);

}  // namespace quenzil
