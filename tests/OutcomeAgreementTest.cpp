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
    // The request itself lost: read back, the display does not hold the value sent.
    {{"--silent", "0x93"},
     {"set", "brightness", "5"},
     SavesBrightness,
     {"no answer", "write brightness", 49}},
    {{"--corrupt", "1"}, {"ident"}, Identifies, {"damaged answer", "identification", 49}},
};
INSTANTIATE_TEST_SUITE_P(Faults, OutcomeAgreementTest, ::testing::ValuesIn(kFaults));

// A write carried out whose answer was lost is settled by reading the value back: stored, and a
// two-step save goes on to its second step; zorvidctl's restore and the window's save alike.
TEST(LostWriteAnswerTest, AWriteCarriedOutWhoseAnswerWasLostCountsAsStored) {
  const auto ctl = [](const TSimProcess& sim, std::vector<std::string> args) {
    args.insert(args.begin(), {ZORVIDCTL_PATH, "-c", sim.Connection()});
    return test::RunProcess(args);
  };
  const std::string file = ::testing::TempDir() + "/lost-answer.json";
  {
    TSimProcess source;
    ASSERT_EQ(ctl(source, {"set", "params", "offset=120"}).exitCode, 0);
    ASSERT_EQ(ctl(source, {"backup", file}).exitCode, 0);
  }
  TSimProcess sim({"--lose-answer", "0x76", "--lose-answer", "0x93"});
  const auto restored = ctl(sim, {"restore", file});
  EXPECT_EQ(restored.exitCode, 0) << restored.err;
  EXPECT_NE(restored.out.find("params.offset from=0 to=120"), std::string::npos) << restored.out;
  const auto set = ctl(sim, {"set", "brightness", "5"});
  EXPECT_EQ(set.exitCode, 0) << set.err;

  // The window's two-step save goes on to its second step once the first is found stored.
  TSimProcess window({"--lose-answer", "0x76"});
  int argc = 1;
  char name[] = "outcome_test";
  char* argv[] = {name, nullptr};
  QCoreApplication application(argc, argv);
  const TStandardTransports transports;
  TDisplayConnection link;
  ASSERT_TRUE(link.Connect(window.Connection(), kZorvidDefaultAddress, 1));
  TDateTimeParams params;
  params.offset = 60;
  const TDateTimeParamsSave saved = SaveDateTimeParams(link.Device(), params, 30);
  EXPECT_TRUE(saved.paramsWritten && saved.expirationWritten) << saved.outcome.Text();
  EXPECT_TRUE(saved.outcome.Ok()) << saved.outcome.Text();
}

}  // namespace
}  // namespace zorvid
