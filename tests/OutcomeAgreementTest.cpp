// One display fault, one outcome: each fault of the simulator met by zorvidctl (its JSON) and by
// the procedures the window runs on its link gives the same kind, step and address, and for an
// invalid answer the same field and value.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <functional>
#include <string>
#include <vector>

#include "link/DisplayConnection.h"
#include "link/DisplayPoll.h"
#include "link/Outcome.h"
#include "link/SettingsReads.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/SimProcess.h"
#include "transport/Transports.h"

namespace zorvid {
namespace {

using test::TSimProcess;

// What both programs must agree on.
struct TSeen {
  std::string kind;
  std::string step;
  int address = -1;
  std::string field{};  // of an invalid value, else empty
  qint64 value = 0;
  bool operator==(const TSeen&) const = default;
};

void PrintTo(const TSeen& seen, std::ostream* out) {
  *out << '{' << seen.kind << ", " << seen.step << ", " << seen.address << ", " << seen.field << ' '
       << seen.value << '}';
}

TSeen SeenIn(const TOutcome& outcome) {
  TSeen seen{std::string(KindName(outcome.kind)), std::string(RuleOf(outcome.step).name),
             outcome.address};
  if (outcome.invalid) {
    seen.field = FieldKey(outcome.invalid->field);
    seen.value = outcome.invalid->value;
  }
  return seen;
}

TSeen SeenInJson(const std::string& out) {
  const QJsonObject outcome =
      QJsonDocument::fromJson(QByteArray::fromStdString(out)).object().value("outcome").toObject();
  return {outcome.value("kind").toString().toStdString(),
          outcome.value("step").toString().toStdString(), outcome.value("address").toInt(-1),
          outcome.value("field").toString().toStdString(), outcome.value("value").toInteger()};
}

// The window's procedures, as its link runs them on a connected display.
using TWindowProcedure = std::function<TOutcome(TDisplayConnection&)>;

TOutcome ReadsBrightness(TDisplayConnection& link) {
  return ReadBrightness(link.Device(), OffersAutomaticBrightness(link.Capabilities())).outcome;
}
TOutcome ReadsParams(TDisplayConnection& link) {
  return ReadDateTimeParams(link.Device()).outcome;
}
TOutcome Polls(TDisplayConnection& link) {
  return PollDisplay(link.Device()).segmentsRead;
}
TOutcome SavesBrightness(TDisplayConnection& link) {
  return SaveBrightness(link.Device(), 5, std::nullopt).outcome;
}
// Nothing after the connect: its identification is the outcome.
TOutcome Identifies(TDisplayConnection& link) {
  return link.Identification();
}

struct TFaultCase {
  std::vector<std::string> fault;    // zorvid-sim's options
  std::vector<std::string> command;  // zorvidctl's
  TWindowProcedure window;
  TSeen expected;
};

class OutcomeAgreementTest : public ::testing::TestWithParam<TFaultCase> {};

TEST_P(OutcomeAgreementTest, ZorvidctlAndTheWindowsProceduresSeeTheSameOutcome) {
  const TFaultCase& c = GetParam();
  TSimProcess sim(c.fault);
  std::vector<std::string> args{ZORVIDCTL_PATH, "-c", sim.Connection(), "--json"};
  args.insert(args.end(), c.command.begin(), c.command.end());
  const auto ctl = test::RunProcess(args);
  EXPECT_NE(ctl.exitCode, 0) << ctl.out;
  EXPECT_EQ(SeenInJson(ctl.out), c.expected) << ctl.out;

  int argc = 1;
  char name[] = "outcome_test";
  char* argv[] = {name, nullptr};
  // The TCP transport's notifications travel through the application's event loop.
  QCoreApplication application(argc, argv);
  const TStandardTransports transports;
  TDisplayConnection link;
  link.Connect(sim.Connection(), kZorvidDefaultAddress, 1);
  EXPECT_EQ(SeenIn(c.window(link)), c.expected);
}

const TFaultCase kFaults[] = {
    {{"--silent", "0x83"},
     {"get", "brightness"},
     ReadsBrightness,
     {"no answer", "read brightness", 49}},
    {{"--ack", "0x85=5"},
     {"get", "brightness-auto"},
     ReadsBrightness,
     {"refused", "read brightness-auto", 49}},
    {{"--answer", "0x81=3F06"},
     {"get", "data"},
     Polls,
     {"invalid answer", "read data", 49, "data bytes", 2}},
    {{"--answer", "0x83=C8"},
     {"get", "brightness"},
     ReadsBrightness,
     {"invalid answer", "read brightness", 49, "brightness", 200}},
    {{"--answer", "0x85=011E0A28"},
     {"get", "brightness-auto"},
     ReadsBrightness,
     {"invalid answer", "read brightness-auto", 49, "min", 30}},
    {{"--answer", "0x77=073F030D0003"},
     {"get", "params"},
     ReadsParams,
     {"invalid answer", "read params", 49, "offset", 781}},
    {{"--ack", "0x93=5"},
     {"set", "brightness", "5"},
     SavesBrightness,
     {"refused", "write brightness", 49}},
    {{"--silent", "0x93"},
     {"set", "brightness", "5"},
     SavesBrightness,
     {"unknown whether stored", "write brightness", 49}},
    {{"--corrupt", "1"}, {"ident"}, Identifies, {"damaged answer", "identification", 49}},
};
INSTANTIATE_TEST_SUITE_P(Faults, OutcomeAgreementTest, ::testing::ValuesIn(kFaults));

}  // namespace
}  // namespace zorvid
