#pragma once

// The command line of zorvidctl: its options (read by QCommandLineParser), the table of
// commands, and the parsing that turns arguments into one prepared device action. Everything
// that can be checked without the display is checked here, with the device operations' own
// range checks, so that a bad argument stops the run before anything is sent. The actions check
// the display's answers (link/AnswerCheck) before they become a result.

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/Types.h"
#include "device/Zorvid.h"
#include "device/ZorvidCodec.h"
#include "link/DisplayScan.h"
#include "link/Outcome.h"
#include "tools/ctl/CtlOutput.h"

namespace zorvid::ctl {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;      // the device operation failed
inline constexpr int kExitUsage = 2;       // bad usage, argument out of range, invalid text
inline constexpr int kExitConnection = 3;  // transport not created or opened, no identification

inline constexpr char kDefaultConnection[] = "provider=TCP_CLIENT;host=127.0.0.1;port=10001";
inline constexpr std::int32_t kDefaultTimeoutMs = 1000;
inline constexpr std::int32_t kMaxTimeoutMs = 3600000;
inline constexpr std::int32_t kMaxRetries = 10;

// A command line that cannot run; the message says what and with which value.
class TUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A display that holds other values than were written and read back whole: exit 1, the
// message naming them.
class TAnswerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A step that ended otherwise than done: an answer that breaks a rule, or a procedure of several
// requests that failed in one of them. The outcome names the request, the kind and the reason.
class TOutcomeError : public std::runtime_error {
 public:
  // `note` follows the outcome's text: what the procedure had done when it failed.
  explicit TOutcomeError(TOutcome failed, const std::string& done = {})
      : std::runtime_error(failed.Text() + done), outcome(std::move(failed)), note(done) {}
  TOutcome outcome;
  std::string note;
};

// One device operation with its arguments bound, at most one request of the kind `step`;
// `run` is false when it failed, the device's last result telling why (no result at all: the
// operation refused its arguments). It raises TOutcomeError for an answer that breaks a rule.
// The device is connected: its identification is loaded.
struct TCtlStep {
  TStep step;
  std::function<bool(TZorvid& device, TCtlResult& result)> run;
  // For a write: whether the display holds what it sent, read back through the sender, which
  // settles a lost answer (link/SettleLostWrite). None: a lost answer stays unknown.
  std::function<THolds(TZorvid& device, const TStepSender& send)> holds{};
};
// A command's steps in order; the first that fails ends it. A step is the unit a run repeats
// when its request got no answer and the step's rule allows it, so that each request of a
// command has its own tries.
using TCtlAction = std::vector<TCtlStep>;

struct TCtlOptions {
  std::string connection = kDefaultConnection;
  TByte address = kZorvidDefaultAddress;
  std::int32_t timeoutMs = kDefaultTimeoutMs;
  bool json = false;
  bool trace = false;
  std::int32_t retries = 0;  // more tries for a request that got no answer
  std::string pcap{};        // the capture file; empty: none
  bool operator==(const TCtlOptions&) const = default;
};

enum class TCtlRequest { kRun, kHelp, kVersion };

struct TCtlInvocation {
  TCtlRequest request = TCtlRequest::kRun;
  TCtlOptions options;
  std::string command;  // the command's name ("get text")
  std::string line;     // the name with its arguments, for messages ("set brightness 200")
  TCtlAction action;
  // How often each request of the command may go out when its step may be repeated: 1 + retries.
  int requestTries = 1;
  // The connection reads the identification at the address first; a command for a display
  // that need not answer there (assign-address) only opens the line.
  bool identify = true;
  // The scan instead of an action: it opens the line itself, once per speed.
  std::optional<TScanOptions> scan;
};

// Options come only before the command; everything after it is an argument. The arguments
// are taken as UTF-8. Raises TUsageError. `invocation` is filled as far as parsing got, so the
// options read before an error (--json) still apply to its report.
void ParseCtlArguments(const std::vector<std::string>& args, TCtlInvocation& invocation);

// The --help text: every option and every command with its output.
std::string CtlHelpText();

}  // namespace zorvid::ctl
