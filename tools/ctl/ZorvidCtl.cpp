#include "tools/ctl/ZorvidCtl.h"

#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>

#include "core/EchoText.h"
#include "link/DisplayConnection.h"
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

  int Fail(int exitCode, const std::string& message) {
    err_ << "zorvidctl: " << message << '\n';
    if (exitCode == kExitUsage) err_ << "Try 'zorvidctl --help'.\n";
    if (invocation_.options.json) out_ << FormatJsonFailure(invocation_.command, exitCode, message);
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

// Nothing when connected; otherwise why not, with the value concerned.
std::optional<std::string> Connect(TDisplayConnection& connection, const TCtlOptions& options) {
  connection.Device().SetTimeout(options.timeoutMs);
  try {
    if (connection.Connect(options.connection, options.address, 1 + options.retries))
      return std::nullopt;
    return connection.FailureReason();
  } catch (const std::exception& error) {
    return std::string(error.what()) + " (connection " + Quoted(options.connection) + ")";
  }
}

int RunAction(const TCtlInvocation& invocation, TZorvid& device, TReporter& reporter) {
  TCtlResult result;
  const std::string line = EchoedText(invocation.line);
  try {
    for (const TCtlStep& step : invocation.action) {
      int tried = 0;
      if (TryRequest(
              device, invocation.requestTries, [&] { return step(device, result); }, tried))
        continue;
      return reporter.Fail(FailureExitCode(device),
                           line + TriesText(tried) + ": " + LastResultText(device));
    }
    return reporter.Succeed(result);
  } catch (const TProcedureError& error) {
    return reporter.Fail(FailureExitCode(device), line + ": " + error.what());
  } catch (const std::exception& error) {
    return reporter.Fail(kExitFailed, line + ": " + error.what());
  }
}

// Connects, runs the command and disconnects: no traffic goes on once it returns.
int Exchange(const TCtlInvocation& invocation, TReporter& reporter, std::ostream& err) {
  TDisplayConnection connection;
  const TCtlOptions& options = invocation.options;
  // The transport goes on without them, as it would in any program: the user is told.
  for (const std::string& warning : ConnectionStringWarnings(options.connection))
    err << "zorvidctl: warning: connection string: " << warning << '\n';
  if (const auto failure = Connect(connection, options))
    return reporter.Fail(kExitConnection, "connection failed: " + *failure);
  const int exitCode = RunAction(invocation, connection.Device(), reporter);
  connection.Disconnect();
  return exitCode;
}

int Run(const TCtlInvocation& invocation, TReporter& reporter, std::ostream& err) {
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
  const int exitCode = Exchange(invocation, reporter, err);
  // The command's outcome stands; the user learns that its capture is not whole.
  if (capture)
    if (const std::string failure = capture->Finish(); !failure.empty())
      err << "zorvidctl: " << failure << '\n';
  return exitCode;
}

}  // namespace

int RunZorvidCtl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
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
  return Run(invocation, reporter, err);
}

}  // namespace zorvid::ctl
