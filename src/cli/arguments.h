// The console companion's command line: what it is asked to do. Portable;
// the arguments come as UTF-8, without the program's name.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/settings.h"

namespace quenzil::cli {

struct Command {
  enum class Kind { kQuery, kWatched, kHelp, kGuess, kWatch, kImport, kExport };
  Kind kind = Kind::kQuery;
  std::string number;   // kQuery, kGuess, kWatch: without the blanks around it, never empty
  std::string courier;  // kQuery, kWatch: the service's code; empty: found with the key, or guessed
  std::string phone;    // kQuery, kWatch: the phone's last four digits, or empty
  bool json = false;
  std::string service;  // kQuery: only this service is asked (its key); empty: the accounts' order
  std::string note;     // kWatch: the user's words, or empty
  std::string file;     // kImport, kExport: the sheet's path as given
  bool events = false;  // kExport: a row per event
  bool operator==(const Command&) const = default;
};

struct ParsedArguments {
  std::optional<Command> command;
  std::string error;  // a short Chinese sentence when there is no command
};

// A help word anywhere wins; every option may be given once, in any order
// around the number. --courier takes a code or any name of the courier
// table (or a code of the service the table does not hold).
ParsedArguments ParseArguments(const std::vector<std::string>& arguments);

// What only the stored accounts decide: without any the courier must be
// named, and be one of the ten of the old public address; --service needs
// that service's account. Empty when the query may go, else why not.
std::string CheckQuery(const Command& command, const Accounts& accounts);

}  // namespace quenzil::cli
