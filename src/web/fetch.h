// Fetching a web address as text: the parts every build shares. A transfer
// never blocks its caller: it is started, runs elsewhere, and its outcome is
// handed back later.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

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
  kSecureChannel,  // TLS: unknown issuer, wrong host name, broken handshake
  kBadStatus,      // an answer whose HTTP status the caller does not take (a proxy's 407, a 5xx page)
  kOther,
};

// The Chinese sentence shown for each kind of failure.
std::string FetchFailureMessage(FetchFailure kind);

// True for failures that say the network or the server is out of reach
// (as opposed to an answer that came but was refused).
bool IsUnreachable(FetchFailure kind);

// A transfer that did not deliver a whole body: its kind, and what() holds
// the technical detail (API and code).
class FetchError : public std::runtime_error {
 public:
  FetchError(FetchFailure kind, const std::string& cause) : std::runtime_error(cause), kind_(kind) {}
  FetchFailure kind() const { return kind_; }

 private:
  FetchFailure kind_;
};

// How the body's bytes become text.
enum class BodyText {
  kSniffed,  // IsUtf8 decides: UTF-8 or code page 936 (the old tracking answer, the update flag)
  kUtf8,     // always UTF-8 (JSON answers)
};

struct FetchRequest {
  std::string url;  // http:// or https://, already percent-encoded
  std::string method = "GET";
  std::string content_type;  // sent with a body
  std::string body;
  // Further request headers (name, value): an account's token, say. Never
  // shown anywhere.
  std::vector<std::pair<std::string, std::string>> headers;
  // Response headers the caller reads (a gateway's reason for a refusal).
  std::vector<std::string> wanted_headers;
  BodyText decoding = BodyText::kSniffed;
  FetchLimits limits;
  // The service charges the user for this request: it is counted once it
  // has gone out (CountingTransfers), for the account named here.
  bool billable = false;
  std::string billed_to;
  // Called once the request has gone out whole (the server has it, whatever
  // comes back), on the transfer's own thread; never for one that was
  // cancelled before or could not be sent. Must not throw.
  std::function<void()> on_sent;
};

struct FetchOutcome {
  bool ok = false;
  std::string text;  // the decoded body (UTF-8), whatever the HTTP status
  unsigned status = 0;
  FetchFailure failure = FetchFailure::kOther;
  std::string cause;  // technical detail of a failure; never holds the address
  // The wanted response headers that came, (name as asked, value).
  std::vector<std::pair<std::string, std::string>> headers;

  static FetchOutcome Failed(FetchFailure kind, std::string cause) {
    FetchOutcome outcome;
    outcome.failure = kind;
    outcome.cause = std::move(cause);
    return outcome;
  }
  static FetchOutcome Answered(std::string text, unsigned status = 200) {
    FetchOutcome outcome;
    outcome.ok = true;
    outcome.text = std::move(text);
    outcome.status = status;
    return outcome;
  }
};

using TransferId = std::uint64_t;

// Starts transfers for the handlers. Start returns at once; the outcome
// arrives later on the window's thread, tagged with the id, through the
// owner's own route (a posted message in the program, a direct call in
// tests). The outcome of a cancelled transfer may still arrive and is then
// to be ignored.
class Transfers {
 public:
  virtual ~Transfers() = default;
  virtual TransferId Start(FetchRequest request) = 0;
  virtual void Cancel(TransferId id) = 0;
};

}  // namespace quenzil
