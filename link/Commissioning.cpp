#include "link/Commissioning.h"

#include "protocol/KorvelStackDevice.h"
#include "transport/ConnectionString.h"
#include "transport/SerialCommunicationInterface.h"

namespace zorvid {
namespace {

// The speed of the connected line, or 0 for a line without one (TCP).
std::int32_t LineSpeed(const TDisplayConnection& connection) {
  const TRef<ISerialCommunicationInterface> serial =
      Supports<ISerialCommunicationInterface>(connection.Line());
  return serial ? serial->GetBaudRate() : 0;
}

// "address 66 (0x42) at 19200 Bd", the speed left out on a line without one.
std::string Where(TByte address, std::int32_t baud) {
  return "address " + AddressText(address) +
         (baud > 0 ? " at " + std::to_string(baud) + " Bd" : "");
}

}  // namespace

std::optional<TOutcome> CommParamsFault(const TCommParams& params, TByte asked) {
  // The operation leaves the speed alone for an answer under two bytes and makes it 0 for an
  // index beyond the table: neither says where the display listens.
  if (params.baud == 0) {
    TOutcome outcome = Done(TStep::kReadComm, asked);
    outcome.kind = TOutcomeKind::kInvalidAnswer;
    outcome.reason = "no baud rate (fewer than 2 bytes, or an index above " +
                     std::to_string(kBaudTable.size() - 1) + ")";
    return outcome;
  }
  if (const std::optional<TInvalidValue> invalid = CheckOwnAddress(params.address))
    return InvalidAnswer(TStep::kReadComm, asked, *invalid);
  return std::nullopt;
}

TCommParamsRead ReadCommParams(TDisplayConnection& connection) {
  TCommParamsRead result;
  result.lineHasSpeed = LineSpeed(connection) > 0;
  TZorvid& device = connection.Device();
  const TByte asked = device.GetAddress();
  TCommParams params;
  result.outcome = SendStep(device, TStep::kReadComm, 1,
                            [&] { return device.ReadCommParams(params.address, params.baud); });
  if (!result.outcome.Ok()) return result;
  if (const std::optional<TOutcome> fault = CommParamsFault(params, asked)) {
    result.outcome = *fault;
    return result;
  }
  result.read = true;
  result.params = params;
  return result;
}

TOutcome SendCommParams(TZorvid& device, const TCommParams& wanted) {
  const TOutcome enabled = SendStep(device, TStep::kEnableConfiguration, 1,
                                    [&] { return device.EnableConfiguration(); });
  if (!enabled.Ok()) return enabled;
  return SendStep(device, TStep::kWriteComm, 1,
                  [&] { return device.SendCommParams(wanted.address, wanted.baud); });
}

TCommissioning Commission(TDisplayConnection& connection, const std::string& connectionString,
                          TByte address, const TCommParams& wanted, int identificationTries) {
  TCommissioning outcome{TCommissionStep::kDone,   {}, {}, connectionString, address, true,
                         connection.Capabilities()};
  TZorvid& device = connection.Device();
  const std::int32_t oldSpeed = LineSpeed(connection);
  const TOutcome sent = SendCommParams(device, wanted);
  if (!sent.Ok()) {
    outcome.failedStep = sent.step == TStep::kEnableConfiguration ? TCommissionStep::kEnable
                                                                  : TCommissionStep::kWrite;
    outcome.outcome = sent;
    outcome.failure = std::string(RuleOf(sent.step).name) + " at " + Where(sent.address, oldSpeed) +
                      ": " + sent.Text(false);
    return outcome;
  }

  // The display has answered at its old values and listens at the new ones from now on.
  const std::int32_t newSpeed = oldSpeed > 0 ? wanted.baud : 0;
  const std::string moved =
      newSpeed > 0 ? ConnectionAtSpeed(connectionString, newSpeed) : connectionString;
  if (connection.Connect(moved, wanted.address, identificationTries)) {
    outcome.connectionString = moved;
    outcome.address = wanted.address;
    outcome.capabilities = connection.Capabilities();
    return outcome;
  }
  outcome.failedStep = TCommissionStep::kReconnect;
  outcome.failure = "reconnect to " + Where(wanted.address, newSpeed) + ": " +
                    connection.FailureReason() + "; back to " + Where(address, oldSpeed);
  outcome.connected = connection.Connect(connectionString, address, identificationTries);
  if (outcome.connected)
    outcome.capabilities = connection.Capabilities();
  else
    outcome.failure += ": " + connection.FailureReason();
  return outcome;
}

}  // namespace zorvid
