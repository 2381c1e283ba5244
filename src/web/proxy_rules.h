// The proxy settings people make in Internet Options, read as text: which
// proxy serves an address, and which addresses bypass it. Portable.
#pragma once

#include <string>
#include <string_view>

namespace quenzil {

// The proxy for a scheme ("http" or "https") out of the setting's text:
// "host:port" serves every scheme; "http=h:p;https=h2:p2" names them one by
// one. Empty when the setting names none for that scheme.
std::string ProxyForScheme(std::string_view proxy_setting, std::string_view scheme);

// True when the host is on the bypass list: entries separated by ';', ','
// or blanks, '*' matching any run of characters, compared without regard
// to case against the host and against "host:port"; "<local>" matches any
// host name without a dot. An entry may carry a scheme ("http://…"),
// which must then match.
bool BypassesProxy(std::string_view bypass_setting, std::string_view scheme,
                   std::string_view host, unsigned port);

// The parts of an http(s) address that proxy rules look at.
struct AddressParts {
  std::string scheme;  // lower case
  std::string host;    // lower case, without brackets
  unsigned port = 0;
};
// False when the text is no http or https address.
bool SplitAddress(std::string_view url, AddressParts& parts);

}  // namespace quenzil
