// One request/answer exchange of the display device (a brightness read) with a display that
// answers at once, over each kind of line: the in-memory pair, loopback TCP, a pseudo-terminal
// and the stand-in USB bridge library. The simulated display serves TCP and the
// pseudo-terminal on a thread of its own; the USB case needs the stand-in on the library path
// (scripts/bench sets it) and is skipped without it.
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <QCoreApplication>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "device/Zorvid.h"
#include "protocol/KorvelStack.h"
#include "tests/support/MemoryTransport.h"
#include "tests/support/ScriptedPeer.h"
#include "tools/sim/SimDisplay.h"
#include "tools/sim/SimLines.h"
#include "tools/sim/SimResponder.h"
#include "transport/ConnectionString.h"
#include "transport/FTDICore.h"
#include "transport/Transports.h"

namespace zorvid {
namespace {

// The speed of the serial and USB lines, which the simulated display listens at.
constexpr std::int32_t kLineBaud = 115200;

sim::TSimDisplayConfig DisplayAtLineSpeed() {
  sim::TSimDisplayConfig config;
  config.baud = kLineBaud;
  return config;
}

// The simulated display on 127.0.0.1 (any free port) and a pseudo-terminal, served by its poll
// loop on a thread of its own for the whole run.
class TSimulatedDisplay {
 public:
  TSimulatedDisplay()
      : display_(DisplayAtLineSpeed()),
        responder_(display_, sim::TSimFaults{}, 1),
        lines_(responder_, sim::TSimLinesConfig{sim::TTcpEndpoint{"127.0.0.1", 0}, "", 0, 0, false},
               announcements_) {
    lines_.Open();
    loop_ = std::thread([this] { lines_.Run(); });
  }
  ~TSimulatedDisplay() {
    const char stop = 's';
    [[maybe_unused]] const ssize_t written = write(lines_.StopFd(), &stop, 1);
    loop_.join();
  }
  std::string TcpConnection() const {
    return "provider=TCP_CLIENT;host=127.0.0.1;port=" + std::to_string(lines_.TcpPort());
  }
  std::string SerialConnection() const {
    return "provider=SERIAL_PORT;device=" + lines_.PtyPath() +
           ";baudrate=" + std::to_string(kLineBaud);
  }
  const std::string& PtyPath() const { return lines_.PtyPath(); }

 private:
  std::ostringstream announcements_;
  sim::TSimDisplay display_;
  sim::TSimResponder responder_;
  sim::TSimLines lines_;
  std::thread loop_;
};

TSimulatedDisplay& Simulator() {
  static TSimulatedDisplay simulator;
  return simulator;
}

// The display device on a stack on `line`, as the programs connect it.
class TClient {
 public:
  explicit TClient(TCiRef line) : line_(std::move(line)) {
    if (!line_ || !line_->Open()) throw std::runtime_error("the line did not open");
    device_ = New<TZorvid>(TByte{0x31});
    stack_ = New<TKorvelStack>();
    stack_->AddDevice(device_);
    stack_->SetCommunicationInterface(line_);
  }
  ~TClient() {
    stack_->SetCommunicationInterface({});
    line_->Close(false);
    stack_->RemoveDevice(device_);
  }
  TZorvid& Device() { return *device_; }

 private:
  TCiRef line_;
  TRef<TKorvelStack> stack_;
  TRef<TZorvid> device_;
};

TCiRef LineFrom(const std::string& connection) {
  TCiRef line;
  if (!CreateTransport(connection, line))
    throw std::runtime_error("no transport for " + connection);
  return line;
}

void MeasureExchanges(benchmark::State& state, TClient& client) {
  std::int32_t brightness = 0;
  for (auto _ : state) {
    if (!client.Device().GetDisplayBrightness(brightness)) {
      state.SkipWithError("the display did not answer");
      break;
    }
    state.PauseTiming();
    // Between exchanges the program's event loop runs, as it does between a window's polls.
    QCoreApplication::processEvents();
    state.ResumeTiming();
  }
}

void BM_ExchangeMemoryPair(benchmark::State& state) {
  auto [line, deviceEnd] = test::TMemoryTransport::CreatePair();
  deviceEnd->Open();
  test::TScriptedPeer display(deviceEnd, [](const TKorvelFormat97& request) {
    return BuildPacket97(request.Adr, request.Sig, 0, TByteString(1, '\x05'));
  });
  TClient client(line);
  MeasureExchanges(state, client);
}

void BM_ExchangeLoopbackTcp(benchmark::State& state) {
  TClient client(LineFrom(Simulator().TcpConnection()));
  MeasureExchanges(state, client);
}

void BM_ExchangePseudoTerminal(benchmark::State& state) {
  TClient client(LineFrom(Simulator().SerialConnection()));
  MeasureExchanges(state, client);
}

void BM_ExchangeUsbStandIn(benchmark::State& state) {
  if (!Ftd2xx().Available()) {
    state.SkipWithError("no USB bridge library on the library path (run through scripts/bench)");
    return;
  }
  setenv("ZORVID_FTDI_BENCH1", ("pty:" + Simulator().PtyPath()).c_str(), 1);
  TClient client(
      LineFrom("provider=FTD_USB;serial_number=BENCH1;baudrate=" + std::to_string(kLineBaud)));
  MeasureExchanges(state, client);
}

BENCHMARK(BM_ExchangeMemoryPair)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_ExchangeLoopbackTcp)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_ExchangePseudoTerminal)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_ExchangeUsbStandIn)->Unit(benchmark::kMillisecond)->Repetitions(3);

}  // namespace
}  // namespace zorvid

int main(int argc, char** argv) {
  // The TCP and serial transports deliver their notifications through the event loop.
  QCoreApplication application(argc, argv);
  zorvid::RegisterStandardTransports();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
