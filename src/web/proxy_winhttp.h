// Which proxy the user's Internet Options give for an address. A proxy
// script or automatic detection may take long or never answer, so those
// lookups run on one thread of their own, one at a time, and their answers
// are kept a minute per origin; a transfer waits for one only as long as it
// may.
#pragma once

#include <windows.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "web/proxy_rules.h"

namespace quenzil {

struct ProxyLookups;

// Waits for `event` until `deadline`: true once it is set, false once
// `cancel` is. Throws FetchError: timed out (with `timed_out` as the cause)
// at the deadline, or the wait's own failure.
bool WaitOrCancel(HANDLE event, HANDLE cancel, std::chrono::steady_clock::time_point deadline,
                  const std::string& timed_out);

class ProxyFinder {
 public:
  ProxyFinder();
  // Returns at once; a lookup under way finishes on its own thread.
  ~ProxyFinder();
  ProxyFinder(const ProxyFinder&) = delete;
  ProxyFinder& operator=(const ProxyFinder&) = delete;

  // The proxy ("host:port") for the address, empty to go direct; nullopt
  // once `cancel` is set. Throws FetchError (timed out) at the deadline.
  // Thread-safe.
  std::optional<std::wstring> ProxyFor(const AddressParts& address, HANDLE cancel,
                                       std::chrono::steady_clock::time_point deadline);

 private:
  std::shared_ptr<ProxyLookups> lookups_;
};

}  // namespace quenzil
