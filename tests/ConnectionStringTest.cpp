#include "transport/ConnectionString.h"

#include <gtest/gtest.h>

#include "core/Errors.h"
#include "tests/support/MemoryTransport.h"

namespace zorvid {
namespace {

using test::TMemoryTransport;

TEST(ConnectionSettings, Grammar) {
  const TConnectionSettings settings("Host=a=b;junk;HOST=second;port=;\r\nBaudRate=9600");
  EXPECT_EQ(settings.Find("host"), "a=b") << "the value runs from the first '='";
  EXPECT_EQ(settings.Find("port"), "");
  EXPECT_EQ(settings.Int("baudrate"), 9600) << "line breaks separate settings too";
  EXPECT_FALSE(settings.Has("junk")) << "a setting without '=' is ignored";
  EXPECT_FALSE(settings.Int("missing").has_value());
}

TEST(ConnectionSettings, MalformedNumberNamesKeyAndValue) {
  const TConnectionSettings settings("comport=4x;baudrate=;port=99999999999");
  for (const char* key : {"comport", "baudrate", "port"}) {
    try {
      settings.Int(key);
      ADD_FAILURE() << key << " was accepted";
    } catch (const EConvertError& error) {
      EXPECT_NE(std::string(error.what()).find(key), std::string::npos) << error.what();
      EXPECT_NE(std::string(error.what()).find(*settings.Find(key)), std::string::npos);
    }
  }
}

TEST(ConnectionSettings, BooleanRules) {
  for (const char* yes : {"TRUE", "true", "True", "1"})
    EXPECT_EQ(TConnectionSettings(std::string("active=") + yes).Active("active"), true) << yes;
  for (const char* no : {"yes", "0", "", "-1", "on"})
    EXPECT_EQ(TConnectionSettings(std::string("active=") + no).Active("active"), false) << no;

  const TConnectionSettings lines("dtr=-1;rts=0;a=TRUE;b=false;c=7;d=yes");
  EXPECT_EQ(lines.LineLevel("dtr"), true);
  EXPECT_EQ(lines.LineLevel("rts"), false);
  EXPECT_EQ(lines.LineLevel("a"), true);
  EXPECT_EQ(lines.LineLevel("b"), false);
  EXPECT_EQ(lines.LineLevel("c"), true);
  EXPECT_THROW(lines.LineLevel("d"), EConvertError);
}

TEST(ConnectionAtSpeed, ReplacesEverySpeedAndKeepsTheRestAsWritten) {
  EXPECT_EQ(ConnectionAtSpeed("provider=SERIAL_PORT;Baud Rate=9600;dtr=1;baudrate=4800", 19200),
            "provider=SERIAL_PORT;Baud Rate=19200;dtr=1;baudrate=19200");
  EXPECT_EQ(ConnectionAtSpeed("provider=FTDI_DIRECT\r\nbaudrate=9600\r\n", 115200),
            "provider=FTDI_DIRECT\r\nbaudrate=115200\r\n");
  EXPECT_EQ(ConnectionAtSpeed("provider=SERIAL_PORT;device=/dev/a=b;baud=1", 38400),
            "provider=SERIAL_PORT;device=/dev/a=b;baud=1;baudrate=38400")
      << "a line without a speed gets one; other names ending alike are not it";
  EXPECT_EQ(ConnectionAtSpeed("provider=SERIAL_PORT;", 9600), "provider=SERIAL_PORT;baudrate=9600");
  EXPECT_EQ(TConnectionSettings(ConnectionAtSpeed("baudrate=x", 300)).Int("baudrate"), 300);
}

TEST(ConnectionLookup, PlainSubstringSearch) {
  const std::string serial = "provider=SERIAL_PORT;comport=4;baudrate=9600";
  EXPECT_EQ(GetConnectionValue(serial, "port", "none"), "4") << "found inside comport=";
  EXPECT_EQ(GetConnectionValue(serial, "BAUDRATE", ""), "9600");
  EXPECT_EQ(GetConnectionValue(serial, "host", "none"), "none");
  EXPECT_EQ(GetConnectionInt("provider=TCP_CLIENT;host=h", "port", 10001), 10001);
  EXPECT_EQ(GetConnectionInt("port=12ab", "port", 7), 7);
  EXPECT_EQ(GetConnectionInt("Port=2101;x=1", "port", 7), 2101);
}

class TransportFactoryTest : public ::testing::Test {
 protected:
  void SetUp() override { TMemoryTransport::Register(); }
  void TearDown() override { TMemoryTransport::Unregister(); }
};

TEST_F(TransportFactoryTest, Registry) {
  TTransportClass found = nullptr;
  EXPECT_TRUE(FindTransport("memory", found));
  EXPECT_EQ(found, &ConstructTransport<TMemoryTransport>);
  EXPECT_FALSE(FindTransport("SERIAL", found));
  EXPECT_TRUE(UnregisterTransport(&ConstructTransport<TMemoryTransport>));
  EXPECT_FALSE(UnregisterTransport(&ConstructTransport<TMemoryTransport>));
  EXPECT_FALSE(FindTransport("MEMORY", found));
  TMemoryTransport::Register();  // for TearDown
}

TEST_F(TransportFactoryTest, SpacesAndLetterCasesDoNotMatter) {
  TCiRef canonical, sloppy;
  ASSERT_TRUE(CreateTransport("provider=MEMORY;name=one;chunk=3", canonical));
  ASSERT_TRUE(CreateTransport(" Provider = memory ; NAME = o n e ;\r\n Chunk = 3 ; ", sloppy));
  EXPECT_EQ(sloppy->GetConfiguration(), canonical->GetConfiguration());
  EXPECT_EQ(sloppy->GetConfiguration(), "provider=MEMORY;name=one;chunk=3");
  EXPECT_FALSE(sloppy == canonical) << "every call creates a new transport";
}

TEST_F(TransportFactoryTest, FirstOccurrenceWinsAndActiveOpens) {
  TCiRef transport;
  ASSERT_TRUE(CreateTransport("provider=MEMORY;name=first;name=second;active=TRUE", transport));
  EXPECT_EQ(transport->GetConnectionName(), "MEMORY first");
  EXPECT_TRUE(transport->GetActive());
}

TCiRef ConstructKeyed(const std::string& connectionString) {
  return ConstructTransport<TMemoryTransport>(connectionString);
}

// The user meant something else: a misspelt key, a key given twice.
TEST_F(TransportFactoryTest, WarningsNameUnknownAndRepeatedKeys) {
  RegisterTransport(&ConstructKeyed, "KEYED", {"name", "chunk", "active"});
  EXPECT_EQ(
      ConnectionStringWarnings("provider=keyed; nmae=x;name=a;NAME=b;chunk=1;Active=1"),
      (std::vector<std::string>{"unknown key \"nmae\" ignored (KEYED reads name, chunk, active)",
                                "key \"NAME\" given again: the first value \"a\" counts"}));
  EXPECT_EQ(ConnectionStringWarnings("provider=KEYED;name=a;chunk=1"), std::vector<std::string>{});
  EXPECT_EQ(ConnectionStringWarnings("provider=MEMORY;nmae=x"), std::vector<std::string>{})
      << "a transport registered without its keys is not judged";
  EXPECT_EQ(ConnectionStringWarnings("provider=NOPE;nmae=x"), std::vector<std::string>{});
  // A setting without "=" counts for nothing whatever the provider; empty ones are no settings.
  EXPECT_EQ(ConnectionStringWarnings("provider=NOPE;;chunk;name=a;\x1B[2J;"),
            (std::vector<std::string>{"setting \"chunk\" without \"=\" ignored",
                                      "setting \"\\x1B[2J\" without \"=\" ignored"}));
  EXPECT_TRUE(UnregisterTransport(&ConstructKeyed));
}

TEST_F(TransportFactoryTest, UnknownOrMissingProviderCreatesNothing) {
  TCiRef transport;
  EXPECT_FALSE(CreateTransport("provider=NOPE;name=x", transport));
  EXPECT_FALSE(CreateTransport("name=x", transport));
  EXPECT_FALSE(CreateTransport("", transport));
  EXPECT_FALSE(transport);
}

// The half-built transport goes with the error: the address sanitizer's leak check and the
// node-destroyed notification show it.
TEST_F(TransportFactoryTest, MalformedNumberRaisesAndDestroysTheTransport) {
  struct TCounter {
    int destroyed = 0;
    void OnDestroyed(TRef<INodedInterface>) { ++destroyed; }
  } counter;
  NodeDestroyedEventer().Add({&counter, &TCounter::OnDestroyed});
  TCiRef transport;
  try {
    CreateTransport("provider=MEMORY;chunk=many", transport);
    ADD_FAILURE() << "a malformed number was accepted";
  } catch (const EConvertError& error) {
    EXPECT_NE(std::string(error.what()).find("chunk"), std::string::npos) << error.what();
    EXPECT_NE(std::string(error.what()).find("many"), std::string::npos) << error.what();
  }
  NodeDestroyedEventer().Remove({&counter, &TCounter::OnDestroyed});
  EXPECT_FALSE(transport);
  EXPECT_EQ(counter.destroyed, 1);
}

}  // namespace
}  // namespace zorvid
