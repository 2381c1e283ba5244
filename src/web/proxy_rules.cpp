#include "web/proxy_rules.h"

#include <vector>

namespace quenzil {

namespace {

char Lower(char character) {
  return (character >= 'A' && character <= 'Z') ? static_cast<char>(character - 'A' + 'a')
                                                 : character;
}

std::string Lowered(std::string_view text) {
  std::string lowered(text);
  for (char& character : lowered) character = Lower(character);
  return lowered;
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> SplitOn(std::string_view text, std::string_view separators) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (std::size_t at = 0; at <= text.size(); ++at) {
    if (at == text.size() || separators.find(text[at]) != std::string_view::npos) {
      const std::string_view piece = Trimmed(text.substr(start, at - start));
      if (!piece.empty()) pieces.push_back(piece);
      start = at + 1;
    }
  }
  return pieces;
}

// '*' matches any run, everything else itself (case already folded).
// Iterative with one back-tracking point, so it is linear enough for any
// setting a person writes.
bool WildcardMatch(std::string_view pattern, std::string_view text) {
  std::size_t p = 0, t = 0;
  std::size_t star = std::string_view::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// "http://host:port/" as some settings spell it: the plain "host:port".
std::string PlainHostPort(std::string_view proxy) {
  proxy = Trimmed(proxy);
  if (const std::size_t scheme_end = proxy.find("://"); scheme_end != std::string_view::npos) {
    proxy.remove_prefix(scheme_end + 3);
  }
  while (!proxy.empty() && proxy.back() == '/') proxy.remove_suffix(1);
  return std::string(Trimmed(proxy));
}

}  // namespace

std::string ProxyForScheme(std::string_view proxy_setting, std::string_view scheme) {
  const std::string wanted = Lowered(scheme);
  std::string for_all;
  for (const std::string_view entry : SplitOn(proxy_setting, ";")) {
    const std::size_t equals = entry.find('=');
    if (equals == std::string_view::npos) {
      // "host:port" for every scheme; a blank-separated list offers several.
      const std::vector<std::string_view> offered = SplitOn(entry, " \t");
      if (for_all.empty() && !offered.empty()) for_all = PlainHostPort(offered.front());
      continue;
    }
    if (Lowered(Trimmed(entry.substr(0, equals))) == wanted) return PlainHostPort(entry.substr(equals + 1));
  }
  return for_all;
}

bool BypassesProxy(std::string_view bypass_setting, std::string_view scheme,
                   std::string_view host, unsigned port) {
  const std::string lowered_host = Lowered(host);
  const std::string host_and_port = lowered_host + ":" + std::to_string(port);
  const std::string lowered_scheme = Lowered(scheme);
  for (const std::string_view raw_entry : SplitOn(bypass_setting, ";, \t")) {
    std::string entry = Lowered(raw_entry);
    if (entry == "<local>") {
      if (lowered_host.find('.') == std::string::npos && lowered_host.find(':') == std::string::npos)
        return true;
      continue;
    }
    if (const std::size_t scheme_end = entry.find("://"); scheme_end != std::string::npos) {
      if (entry.compare(0, scheme_end, lowered_scheme) != 0) continue;
      entry.erase(0, scheme_end + 3);
    }
    while (!entry.empty() && entry.back() == '/') entry.pop_back();
    // "[::1]" and "[::1]:8080" name an IPv6 host as the address spells it.
    if (!entry.empty() && entry.front() == '[') {
      const std::size_t close = entry.find(']');
      if (close == std::string::npos) continue;
      entry = entry.substr(1, close - 1) + entry.substr(close + 1);
    }
    if (WildcardMatch(entry, lowered_host) || WildcardMatch(entry, host_and_port)) return true;
  }
  return false;
}

bool SplitAddress(std::string_view url, AddressParts& parts) {
  const std::size_t scheme_end = url.find("://");
  if (scheme_end == std::string_view::npos) return false;
  parts.scheme = Lowered(url.substr(0, scheme_end));
  if (parts.scheme != "http" && parts.scheme != "https") return false;
  std::string_view rest = url.substr(scheme_end + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) rest.remove_prefix(at + 1);
  std::string_view host = rest;
  std::string_view port_text;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) return false;
    host = rest.substr(1, close - 1);
    if (close + 1 < rest.size()) {
      if (rest[close + 1] != ':') return false;
      port_text = rest.substr(close + 2);
      if (port_text.empty()) return false;
    }
  } else if (const std::size_t colon = rest.rfind(':'); colon != std::string_view::npos) {
    host = rest.substr(0, colon);
    port_text = rest.substr(colon + 1);
  }
  if (host.empty()) return false;
  parts.host = Lowered(host);
  parts.port = parts.scheme == "https" ? 443 : 80;
  if (!port_text.empty()) {
    unsigned port = 0;
    for (const char digit : port_text) {
      if (digit < '0' || digit > '9' || port > 65535) return false;
      port = port * 10 + static_cast<unsigned>(digit - '0');
    }
    if (port == 0 || port > 65535) return false;
    parts.port = port;
  }
  return true;
}

}  // namespace quenzil
