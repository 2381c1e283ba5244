// Regular-expression extraction (Module2).
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quenzil {

struct Match {
  // Texts of the capture groups; item 0 is the first group.
  std::vector<std::string> SubMatches;
};

// The engine refused the pattern or gave up on a pathological text.
class PatternError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Every non-overlapping match of the pattern in the text, in text order.
// Perl syntax, case-sensitive, "." does not match line breaks.
std::vector<Match> MatchAll(std::string_view pattern, std::string_view text);

}  // namespace quenzil
