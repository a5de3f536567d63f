#include "tools/ctl/ZorvidCtl.h"

#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/EchoText.h"
#include "link/DisplayConnection.h"
#include "link/DisplayScan.h"
#include "tools/ctl/CtlCapture.h"
#include "tools/ctl/CtlCommands.h"
#include "tools/ctl/CtlConnection.h"
#include "tools/ctl/CtlTrace.h"
#include "transport/ConnectionString.h"
#include "transport/Transports.h"

#ifndef ZORVID_VERSION
#error "ZORVID_VERSION must be defined by the build"
#endif

namespace zorvid::ctl {
namespace {

// Prints the outcome of a run in the form the options ask for.
class TReporter {
 public:
  TReporter(const TCtlInvocation& invocation, std::ostream& out, std::ostream& err)
      : invocation_(invocation), out_(out), err_(err) {}

  int Fail(int exitCode, const std::string& message, const std::optional<TOutcome>& outcome = {}) {
    err_ << "zorvidctl: " << message << '\n';
    if (exitCode == kExitUsage && !outcome) err_ << "Try 'zorvidctl --help'.\n";
    if (invocation_.options.json)
      out_ << FormatJsonFailure(invocation_.command, exitCode, message, outcome);
    return exitCode;
  }

  int Succeed(const TCtlResult& result) {
    out_ << (invocation_.options.json ? FormatJson(invocation_.command, result)
                                      : FormatText(result));
    return result.exitCode;
  }

 private:
  const TCtlInvocation& invocation_;
  std::ostream& out_;
  std::ostream& err_;
};

// A malformed number in the connection string, as a connection failure says it.
std::string ConnectionStringError(const std::exception& error, const TCtlOptions& options) {
  return std::string(error.what()) + " (connection " + Quoted(options.connection) + ")";
}

// Nothing when connected; otherwise why not, with the value concerned.
std::optional<std::string> Connect(TDisplayConnection& connection,
                                   const TCtlInvocation& invocation) {
  const TCtlOptions& options = invocation.options;
  connection.Device().SetTimeout(options.timeoutMs);
  try {
    const int identificationTries = invocation.identify ? 1 + options.retries : 0;
    if (connection.Connect(options.connection, options.address, identificationTries))
      return std::nullopt;
    return connection.FailureReason();
  } catch (const std::exception& error) {
    return ConnectionStringError(error, options);
  }
}

// "set brightness 200 in 2 tries: unknown whether stored: no answer"; the step is named where
// the command has several or a procedure failed inside one.
int ReportOutcome(const std::string& line, const TOutcome& outcome, bool namesStep,
                  const std::string& note, TReporter& reporter) {
  const std::string text =
      namesStep ? ": " + outcome.Text() : TriesText(outcome.tries) + ": " + outcome.Text(false);
  return reporter.Fail(ExitCodeOf(outcome), line + text + note, outcome);
}

int RunAction(const TCtlInvocation& invocation, TZorvid& device, TReporter& reporter) {
  TCtlResult result;
  const std::string line = EchoedText(invocation.line);
  const bool severalSteps = invocation.action.size() > 1;
  for (const TCtlStep& step : invocation.action) {
    try {
      TOutcome outcome = SendStep(device, step.step, invocation.requestTries,
                                  [&] { return step.run(device, result); });
      if (step.holds)
        outcome = SettleLostWrite(outcome,
                                  step.holds(device, SenderFor(device, invocation.requestTries)));
      if (!outcome.Ok()) return ReportOutcome(line, outcome, severalSteps, {}, reporter);
    } catch (const TOutcomeError& error) {
      TOutcome outcome = error.outcome;
      const bool ownStep = outcome.step == TStep::kNone;  // an answer this step checked
      if (ownStep) {
        outcome.step = step.step;
        outcome.address = device.GetAddress();
      }
      return ReportOutcome(line, outcome, severalSteps || !ownStep, error.note, reporter);
    } catch (const std::exception& error) {
      return reporter.Fail(kExitFailed, line + ": " + error.what());
    }
  }
  return reporter.Succeed(result);
}

// Connects, runs the command and disconnects: no traffic goes on once it returns.
int Exchange(const TCtlInvocation& invocation, TReporter& reporter) {
  TDisplayConnection connection;
  if (const auto failure = Connect(connection, invocation)) {
    // The display's own part in it, where the line opened and the identification went out.
    const TOutcome& identification = connection.Identification();
    const bool asked =
        identification.kind != TOutcomeKind::kDone && identification.kind != TOutcomeKind::kNotSent;
    return reporter.Fail(kExitConnection, "connection failed: " + *failure,
                         asked ? std::optional(identification) : std::nullopt);
  }
  const int exitCode = RunAction(invocation, connection.Device(), reporter);
  connection.Disconnect();
  return exitCode;
}

// The scan's progress as one line that rewrites itself on a terminal.
class TScanProgressLine {
 public:
  explicit TScanProgressLine(std::ostream& err) : err_(err) {}
  ~TScanProgressLine() { err_ << "\r\033[K" << std::flush; }
  TScanProgressLine(const TScanProgressLine&) = delete;
  TScanProgressLine& operator=(const TScanProgressLine&) = delete;

  void Show(TByte address, std::int32_t baud, int done, int total) {
    err_ << "\rscan: " << (baud > 0 ? std::to_string(baud) + " Bd, " : "") << "address "
         << (address == kBroadcastAddress ? std::string("all") : AddressText(address)) << ", "
         << done << "/" << total << ", found " << found_ << "\033[K" << std::flush;
  }
  void Count() { ++found_; }

 private:
  std::ostream& err_;
  int found_ = 0;
};

TCtlField ScanRow(const TFoundDisplay& display) {
  return RecordField("display",
                     {AddressField("address", display.address), IntegerField("baud", display.baud),
                      TextField("ident", display.identification)});
}

// Exit 0 with the displays found, 1 when none answered, 3 when the line could not be made or
// opened.
int Scan(const TCtlInvocation& invocation, TReporter& reporter, std::ostream& err,
         bool showProgress) {
  std::optional<TScanProgressLine> progress;
  if (showProgress) progress.emplace(err);
  TDisplayScan scan(
      *invocation.scan,
      [&progress](TByte address, std::int32_t baud, int done, int total) {
        if (progress) progress->Show(address, baud, done, total);
      },
      [&progress](const TFoundDisplay&) {
        if (progress) progress->Count();
      });
  TScanResult result;
  try {
    result = scan.Run();
  } catch (const std::exception& error) {
    result.failure = ConnectionStringError(error, invocation.options);
  }
  progress.reset();
  if (!result.failure.empty())
    return reporter.Fail(kExitConnection, "connection failed: " + result.failure);
  std::vector<TCtlField> rows;
  for (const TFoundDisplay& display : result.found)
    rows.push_back(ScanRow(display));
  if (rows.empty()) err << "zorvidctl: scan: no display answered\n";
  return reporter.Succeed({TLayout::kList,
                           {ListField("displays", std::move(rows))},
                           result.found.empty() ? kExitFailed : kExitOk});
}

int Run(const TCtlInvocation& invocation, TReporter& reporter, std::ostream& err,
        bool errIsTerminal) {
  const TStandardTransports transports;
  std::unique_ptr<TTraceToStream> trace;
  if (invocation.options.trace) trace = std::make_unique<TTraceToStream>(err);
  std::unique_ptr<TCaptureToFile> capture;
  try {
    if (!invocation.options.pcap.empty())
      capture = std::make_unique<TCaptureToFile>(invocation.options.pcap);
  } catch (const std::runtime_error& error) {
    return reporter.Fail(kExitUsage, error.what());
  }
  // The transport goes on without them, as it would in any program: the user is told.
  for (const std::string& warning : ConnectionStringWarnings(invocation.options.connection))
    err << "zorvidctl: warning: connection string: " << warning << '\n';
  // The trace has stderr to itself.
  const int exitCode = invocation.scan ? Scan(invocation, reporter, err, errIsTerminal && !trace)
                                       : Exchange(invocation, reporter);
  // What the display did stands; a run asked for a capture that is not whole did not succeed.
  if (capture)
    if (const std::string failure = capture->Finish(); !failure.empty()) {
      err << "zorvidctl: " << failure << '\n';
      if (exitCode == kExitOk) return kExitFailed;
    }
  return exitCode;
}

}  // namespace

int RunZorvidCtl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                 bool errIsTerminal) {
  TCtlInvocation invocation;
  TReporter reporter(invocation, out, err);
  try {
    ParseCtlArguments(args, invocation);
  } catch (const TUsageError& error) {
    return reporter.Fail(kExitUsage, error.what());
  }
  switch (invocation.request) {
    case TCtlRequest::kHelp:
      out << CtlHelpText();
      return kExitOk;
    case TCtlRequest::kVersion:
      out << "zorvidctl " << ZORVID_VERSION << '\n';
      return kExitOk;
    case TCtlRequest::kRun:
      break;
  }
  return Run(invocation, reporter, err, errIsTerminal);
}

}  // namespace zorvid::ctl
