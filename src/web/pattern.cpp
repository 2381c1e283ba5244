#include "web/pattern.h"

#include <boost/regex.hpp>

#include <string>

namespace quenzil {

namespace {

// The C++ locale traits in both builds: the Windows default would classify
// bytes by the system code page, so the two builds could disagree.
using Regex = boost::basic_regex<char, boost::cpp_regex_traits<char>>;
using MatchIterator = boost::regex_iterator<const char*, char, boost::cpp_regex_traits<char>>;

// Perl syntax, case-sensitive. no_mod_s keeps "." off line breaks (\n, \r,
// \f for narrow text; bytes such as 0x85 inside UTF-8 stay ordinary), and
// no_mod_m anchors ^ and $ at the ends of the text only.
constexpr auto kSyntax = boost::regex::perl | boost::regex::no_mod_s | boost::regex::no_mod_m;

Regex Compile(std::string_view pattern) {
  try {
    return Regex(pattern.data(), pattern.data() + pattern.size(), kSyntax);
  } catch (const boost::regex_error& error) {
    throw PatternError("invalid pattern \"" + std::string(pattern) + "\": " + error.what());
  }
}

}  // namespace

std::vector<Match> MatchAll(std::string_view pattern, std::string_view text) {
  const Regex expression = Compile(pattern);
  std::vector<Match> matches;
  const char* const begin = text.data();
  const char* const end = text.data() + text.size();
  try {
    // The iterator resumes each search at the end of the previous match and
    // steps past an empty match, so matches never overlap or repeat.
    for (MatchIterator it(begin, end, expression), last; it != last; ++it) {
      const boost::cmatch& found = *it;
      Match match;
      match.SubMatches.reserve(found.size() > 0 ? found.size() - 1 : 0);
      for (std::size_t group = 1; group < found.size(); ++group)
        match.SubMatches.emplace_back(found[group].matched ? found[group].str() : std::string());
      matches.push_back(std::move(match));
    }
  } catch (const std::runtime_error& error) {
    // Boost gives up with regex_error (complexity or stack limits) on
    // pathological text rather than running on without end.
    throw PatternError("pattern \"" + std::string(pattern) + "\" gave up on a text of " +
                       std::to_string(text.size()) + " bytes: " + error.what());
  }
  return matches;
}

}  // namespace quenzil
