// Fetching a web address as text: the parts every build shares.
#pragma once

#include <chrono>
#include <cstddef>
#include <stdexcept>
#include <string>

namespace quenzil {

struct FetchLimits {
  std::chrono::milliseconds connect{15000};
  std::chrono::milliseconds send{15000};
  std::chrono::milliseconds receive{15000};
  // The whole request, however the server drips its answer.
  std::chrono::milliseconds total{30000};
  std::size_t max_body_bytes = 16u * 1024u * 1024u;
};

// Limits of the start-up update check: it must never hold up the window long.
inline FetchLimits UpdateCheckLimits() {
  using std::chrono::milliseconds;
  return FetchLimits{milliseconds{3000}, milliseconds{3000}, milliseconds{3000},
                     milliseconds{4000}, 64u * 1024u};
}

enum class FetchFailure {
  kBadAddress,
  kNameNotResolved,
  kCannotConnect,
  kTimedOut,
  kConnectionLost,
  kTooLarge,
  kTooManyRedirects,
  kOther,
};

// A transfer that did not deliver a whole body. user_message is Chinese and
// meant for a message box; cause is the technical detail (API and code).
class FetchError : public std::runtime_error {
 public:
  FetchError(FetchFailure kind, std::string cause);
  FetchFailure kind() const { return kind_; }
  const std::string& user_message() const { return user_message_; }
  const std::string& cause() const { return cause_; }

 private:
  FetchFailure kind_;
  std::string user_message_;
  std::string cause_;
};

// The Chinese sentence shown for each kind of failure.
std::string FetchFailureMessage(FetchFailure kind);

// FetchText as the handlers see it, so their logic runs against a fake.
class Fetcher {
 public:
  virtual ~Fetcher() = default;
  // The decoded body of a GET, whatever the HTTP status. Throws FetchError.
  // Window events keep running while it waits.
  virtual std::string FetchText(const std::string& url, const FetchLimits& limits) = 0;
};

}  // namespace quenzil
