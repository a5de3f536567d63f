// The serial platform layer on Linux: termios, poll and ioctl behind SerialPlatform.h.
#include <fcntl.h>
#include <linux/major.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "transport/serial/DeviceAccessLinux.h"
#include "transport/serial/SerialBaudLinux.h"
#include "transport/serial/SerialPlatform.h"

namespace zorvid {

using TClock = std::chrono::steady_clock;

// Lets the platform's waits reach the descriptor behind a signal.
struct TSignalAccess {
  static int Handle(const TSignal& signal) { return signal.handle_; }
};

namespace {

// Modem lines and unread input are watched by polling at this pace: TIOCMIWAIT would block
// the event thread in a wait that only a process signal can break, and a library must not
// take over a process signal. The interrupt counters polled instead count every edge, so a
// pulse shorter than the pace is not lost.
constexpr auto kLinePollSlice = std::chrono::milliseconds(20);

bool IsAbsentDeviceError(int error) {
  return error == ENOENT || error == ENOTDIR || error == ENXIO || error == ENODEV || error == EIO;
}

bool IsHangup(short events) {
  return (events & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

struct TDefaultDeviceRange {
  int firstPort;
  int lastPort;
  const char* prefix;
};
constexpr std::array<TDefaultDeviceRange, 4> kDefaultDevices{{
    {1, 32, "/dev/ttyS"},
    {33, 96, "/dev/ttyUSB"},
    {97, 160, "/dev/ttyACM"},
    {161, 192, "/dev/ttyAMA"},
}};

struct TStandardSpeed {
  std::int32_t rate;
  speed_t code;
};
constexpr std::array<TStandardSpeed, 30> kStandardSpeeds{{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

std::optional<speed_t> StandardSpeedCode(std::int32_t rate) {
  const auto* found =
      std::find_if(kStandardSpeeds.begin(), kStandardSpeeds.end(),
                   [rate](const TStandardSpeed& speed) { return speed.rate == rate; });
  if (found == kStandardSpeeds.end()) return std::nullopt;
  return found->code;
}

// What of the record is beyond what a UART takes (five to eight data bits, one and a half stop
// bits only with five data bits, two only with more); empty when it is within.
std::string UnsupportedSettingText(const TComSettings& settings) {
  const auto number = [](int value) { return std::to_string(value); };
  if (settings.baudRate <= 0) return "baud rate " + number(settings.baudRate) + " is not positive";
  if (settings.byteSize < 5 || settings.byteSize > 8)
    return number(settings.byteSize) + " data bits are not supported (5 to 8)";
  if (settings.parity > 4) return "parity " + number(settings.parity) + " is unknown (0 to 4)";
  if (settings.stopBits > 2)
    return "stop bits " + number(settings.stopBits) + " are unknown (0 to 2)";
  if (settings.stopBits == 1 && settings.byteSize != 5)
    return "1.5 stop bits need 5 data bits, not " + number(settings.byteSize);
  if (settings.stopBits == 2 && settings.byteSize == 5) return "2 stop bits need 6 to 8 data bits";
  return {};
}

// What a path that is no terminal leads to.
const char* FileKindText(int handle) {
  struct stat status {};
  if (fstat(handle, &status) != 0) return "unknown kind";
  if (S_ISREG(status.st_mode)) return "a regular file";
  if (S_ISFIFO(status.st_mode)) return "a FIFO";
  if (S_ISSOCK(status.st_mode)) return "a socket";
  if (S_ISBLK(status.st_mode)) return "a block device";
  if (S_ISCHR(status.st_mode)) return "a character device that is no terminal";
  return "unknown kind";
}

tcflag_t CharacterSizeFlag(std::uint8_t byteSize) {
  switch (byteSize) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

std::uint8_t ByteSizeOf(tcflag_t flags) {
  switch (flags & CSIZE) {
    case CS5:
      return 5;
    case CS6:
      return 6;
    case CS7:
      return 7;
    default:
      return 8;
  }
}

tcflag_t ParityFlags(std::uint8_t parity) {
  switch (parity) {
    case 1:
      return PARENB | PARODD;
    case 2:
      return PARENB;
    case 3:
      return PARENB | CMSPAR | PARODD;
    case 4:
      return PARENB | CMSPAR;
    default:
      return 0;
  }
}

std::uint8_t ParityOf(tcflag_t flags) {
  if (!(flags & PARENB)) return 0;
  if (flags & CMSPAR) return (flags & PARODD) ? 3 : 4;
  return (flags & PARODD) ? 1 : 2;
}

// Raw, binary line. What the record asks and Linux cannot do is left out: flow control by
// DTR/DSR, DSR sensitivity, continuing after XOFF, stripping zero bytes and the XON/XOFF
// thresholds (the kernel sizes and watches its buffers itself). A byte received with a parity
// or framing error reads as 0 while checking is on, whether or not the record asks for the
// replacement: the kernel cannot check and keep the byte.
void FillTermios(termios& terminal, const TComSettings& settings) {
  terminal.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                             ICRNL | IXON | IXOFF | IXANY | INPCK | IGNPAR);
  if (settings.outX) terminal.c_iflag |= IXON;
  if (settings.inX) terminal.c_iflag |= IXOFF;
  if (settings.parityCheck) terminal.c_iflag |= INPCK;
  terminal.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  terminal.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  terminal.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  terminal.c_cflag |=
      CREAD | CLOCAL | CharacterSizeFlag(settings.byteSize) | ParityFlags(settings.parity);
  if (settings.stopBits != 0) terminal.c_cflag |= CSTOPB;
  if (settings.outxCtsFlow || settings.rtsControl == TRtsControl::Handshake)
    terminal.c_cflag |= CRTSCTS;
  terminal.c_cc[VSTART] = static_cast<cc_t>(settings.xonChar);
  terminal.c_cc[VSTOP] = static_cast<cc_t>(settings.xoffChar);
  terminal.c_cc[VMIN] = 0;
  terminal.c_cc[VTIME] = 0;
}

TComSettings DecodeTermios(const termios& terminal) {
  TComSettings settings;
  settings.byteSize = ByteSizeOf(terminal.c_cflag);
  settings.parity = ParityOf(terminal.c_cflag);
  if (terminal.c_cflag & CSTOPB) settings.stopBits = settings.byteSize == 5 ? 1 : 2;
  settings.parityCheck = (terminal.c_iflag & INPCK) != 0;
  settings.outX = (terminal.c_iflag & IXON) != 0;
  settings.inX = (terminal.c_iflag & IXOFF) != 0;
  const bool hardwareFlow = (terminal.c_cflag & CRTSCTS) != 0;
  settings.outxCtsFlow = hardwareFlow;
  settings.rtsControl = hardwareFlow ? TRtsControl::Handshake : TRtsControl::Enable;
  settings.xonChar = static_cast<char>(terminal.c_cc[VSTART]);
  settings.xoffChar = static_cast<char>(terminal.c_cc[VSTOP]);
  return settings;
}

// What one poll found: a consumed signal, the port's events, or neither (time-out).

struct TPollOutcome {
  int signal = -1;
  short portEvents = 0;
};

// Consumes a set signal; false when another waiter took it first.
bool ConsumeSignal(int handle) {
  eventfd_t value = 0;
  return eventfd_read(handle, &value) == 0;
}

// Polls the signals and, when `port` is not negative, the port for `portEvents` (hangups are
// always reported) until `deadline` (none: for ever). Signals win over the port, earlier
// signals over later ones.
TPollOutcome PollSignalsAndPort(std::initializer_list<TSignal*> wakers, int port, short portEvents,
                                std::optional<TClock::time_point> deadline) {
  std::vector<pollfd> watched;
  watched.reserve(wakers.size() + 1);
  for (TSignal* signal : wakers)
    watched.push_back({TSignalAccess::Handle(*signal), POLLIN, 0});
  watched.push_back({port, portEvents, 0});
  for (;;) {
    int waitMs = -1;
    if (deadline) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - TClock::now());
      waitMs = static_cast<int>(std::max<std::int64_t>(0, left.count()));
    }
    const int ready = poll(watched.data(), watched.size(), waitMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return {};
    for (std::size_t index = 0; index < wakers.size(); ++index) {
      if ((watched[index].revents & POLLIN) && ConsumeSignal(watched[index].fd))
        return {static_cast<int>(index), 0};
    }
    if (watched.back().revents != 0) return {-1, watched.back().revents};
  }
}

std::optional<TClock::time_point> DeadlineAfter(std::optional<std::chrono::milliseconds> timeout) {
  if (!timeout) return std::nullopt;
  return TClock::now() + *timeout;
}

std::uint32_t ModemStatusBits(int lines) {
  std::uint32_t status = 0;
  if (lines & TIOCM_CTS) status |= kMsCtsOn;
  if (lines & TIOCM_DSR) status |= kMsDsrOn;
  if (lines & TIOCM_RNG) status |= kMsRingOn;
  if (lines & TIOCM_CAR) status |= kMsRlsdOn;
  return status;
}

}  // namespace

std::string SystemErrorText(int error) {
  return std::string(std::strerror(error)) + " (errno " + std::to_string(error) + ")";
}

void SetCurrentThreadPriority(TThreadPriority priority) {
  // Nice values of the thread alone (Linux schedules threads one by one).
  constexpr std::array<int, 7> kNiceValues{19, 10, 5, 0, -5, -10, -15};
  if (priority > tpTimeCritical) return;
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kNiceValues[priority]);
}

std::string DevicePathForPort(int portNumber) {
  const std::string variable = "ZORVID_COM" + std::to_string(portNumber);
  if (const char* mapped = std::getenv(variable.c_str()); mapped && *mapped) return mapped;
  for (const TDefaultDeviceRange& range : kDefaultDevices) {
    if (portNumber >= range.firstPort && portNumber <= range.lastPort)
      return range.prefix + std::to_string(portNumber - range.firstPort);
  }
  return {};
}

std::string NoDeviceForPortText(int portNumber) {
  return "no device for this number; ZORVID_COM" + std::to_string(portNumber) + " can name one";
}

bool DeviceExists(const std::string& path) {
  struct stat status {};
  return !path.empty() && stat(path.c_str(), &status) == 0;
}

TSignal::TSignal() : handle_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (handle_ < 0)
    throw std::runtime_error("cannot make a signal: eventfd: " + SystemErrorText(errno));
}

TSignal::~TSignal() {
  close(handle_);
}

void TSignal::Set() {
  eventfd_write(handle_, 1);
}

void TSignal::Reset() {
  ConsumeSignal(handle_);
}

bool TSignal::Wait(std::chrono::milliseconds timeout) {
  return WaitForSignals({this}, timeout) == 0;
}

int WaitForSignals(std::initializer_list<TSignal*> wakers,
                   std::optional<std::chrono::milliseconds> timeout) {
  return PollSignalsAndPort(wakers, -1, 0, DeadlineAfter(timeout)).signal;
}

TSerialDevice::~TSerialDevice() {
  Close();
}

TOpenOutcome TSerialDevice::Open(const std::string& path) {
  Close();
  failure_.clear();
  path_ = path;
  // One port, one lock: a by-id link and its target must find each other busy.
  std::array<char, PATH_MAX> canonical{};
  if (!realpath(path.c_str(), canonical.data())) return OpenFailed(errno);
  path_ = canonical.data();
  const int handle = open(canonical.data(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (handle < 0) return OpenFailed(errno);
  if (!isatty(handle)) return NotSerialDevice(handle);
  // TIOCEXCL refuses nobody who runs as root; the lock is what keeps a second opener out.
  const bool locked = flock(handle, LOCK_EX | LOCK_NB) == 0;
  if (!locked || ioctl(handle, TIOCEXCL) != 0) {
    const int error = errno;
    close(handle);
    failure_ = path_ + " is busy: held by another program (" +
               (locked ? "exclusive use: " : "lock: ") + SystemErrorText(error) + ")";
    return TOpenOutcome::Refused;
  }
  handle_ = handle;
  hungUp_ = false;
  hangupReported_ = false;
  readSinceCheck_ = 0;
  statusCounters_ = ReadCounters().value_or(TLineCounters{});
  return TOpenOutcome::Opened;
}

TOpenOutcome TSerialDevice::OpenFailed(int error) {
  failure_ = "cannot open " + path_ + ": " + SystemErrorText(error);
  if (error == EACCES || error == EPERM) {
    const std::string why = ModeRefusalText(path_);
    if (!why.empty()) failure_ += ": " + why;
  }
  return IsAbsentDeviceError(error) ? TOpenOutcome::NoDevice : TOpenOutcome::Refused;
}

// Called right after isatty refused the open `handle`, which it closes.
TOpenOutcome TSerialDevice::NotSerialDevice(int handle) {
  const int error = errno;
  failure_ = "cannot open " + path_ + ": not a serial device (" + FileKindText(handle) +
             "): " + SystemErrorText(error);
  close(handle);
  return TOpenOutcome::NotSerialDevice;
}

bool TSerialDevice::Fail(const std::string& reason) {
  failure_ = path_ + ": " + reason;
  return false;
}

bool TSerialDevice::FailWithSystemError() {
  return Fail(SystemErrorText(errno));
}

void TSerialDevice::Close() {
  if (handle_ < 0) return;
  // Exclusive use is a flag of the terminal, which outlives this descriptor (a pseudo-terminal
  // lives as long as its master): leave it as it was found.
  ioctl(handle_, TIOCNXCL);
  close(handle_);
  handle_ = -1;
}

bool TSerialDevice::IsEmptyLegacySlot() const {
  // Only the ttyS devices (major 4 from minor 64 up) are such slots; other drivers fill the
  // port type as they please, some leave it unknown for a working port.
  constexpr unsigned kFirstTtySMinor = 64;
  struct stat status {};
  if (fstat(handle_, &status) != 0 || !S_ISCHR(status.st_mode)) return false;
  if (major(status.st_rdev) != TTY_MAJOR || minor(status.st_rdev) < kFirstTtySMinor) return false;
  serial_struct serial{};
  return ioctl(handle_, TIOCGSERIAL, &serial) == 0 && serial.type == PORT_UNKNOWN;
}

bool TSerialDevice::MakeReadsImmediate() {
  termios terminal{};
  if (tcgetattr(handle_, &terminal) != 0) return FailWithSystemError();
  terminal.c_cc[VMIN] = 0;
  terminal.c_cc[VTIME] = 0;
  return tcsetattr(handle_, TCSANOW, &terminal) == 0 || FailWithSystemError();
}

bool TSerialDevice::Apply(const TComSettings& settings) {
  if (const std::string unsupported = UnsupportedSettingText(settings); !unsupported.empty())
    return Fail(unsupported);
  termios terminal{};
  if (tcgetattr(handle_, &terminal) != 0) return FailWithSystemError();
  FillTermios(terminal, settings);
  const std::optional<speed_t> standard = StandardSpeedCode(settings.baudRate);
  const speed_t code = standard.value_or(B38400);  // replaced through termios2 below
  if (cfsetispeed(&terminal, code) != 0 || cfsetospeed(&terminal, code) != 0 ||
      tcsetattr(handle_, TCSANOW, &terminal) != 0)
    return FailWithSystemError();
  if (!standard && !SetAnyBaudRate(handle_, settings.baudRate))
    return Fail("baud rate " + std::to_string(settings.baudRate) + ": " + SystemErrorText(errno));
  if (settings.dtrControl != TDtrControl::Disable) SetLine(TOutputLine::DTR, true);
  if (settings.dtrControl == TDtrControl::Disable) SetLine(TOutputLine::DTR, false);
  // With handshake the kernel drives RTS itself.
  if (settings.rtsControl != TRtsControl::Handshake)
    SetLine(TOutputLine::RTS, settings.rtsControl == TRtsControl::Enable);
  return true;
}

std::optional<TComSettings> TSerialDevice::ReadBack() const {
  termios terminal{};
  if (tcgetattr(handle_, &terminal) != 0) return std::nullopt;
  TComSettings settings = DecodeTermios(terminal);
  if (const auto rate = ReadBaudRate(handle_)) settings.baudRate = *rate;
  return settings;
}

std::optional<TSerialDevice::TLineCounters> TSerialDevice::ReadCounters() const {
  serial_icounter_struct counters{};
  if (ioctl(handle_, TIOCGICOUNT, &counters) != 0) return std::nullopt;
  const auto count = [](int value) { return static_cast<std::uint32_t>(value); };
  return TLineCounters{count(counters.cts),    count(counters.dsr),   count(counters.rng),
                       count(counters.dcd),    count(counters.frame), count(counters.overrun),
                       count(counters.parity), count(counters.brk),   count(counters.buf_overrun)};
}

std::int32_t TSerialDevice::InputCount() const {
  int count = 0;
  return ioctl(handle_, FIONREAD, &count) == 0 ? count : 0;
}

bool TSerialDevice::StartLineEvents() {
  int count = 0;
  if (ioctl(handle_, FIONREAD, &count) != 0) return FailWithSystemError();
  // Bytes that wait already are no event; the poll of the event thread announces them.
  reportedInput_ = count;
  readSinceCheck_ = 0;
  int lines = 0;
  if (const auto counters = ReadCounters()) {
    modemWatch_ = TModemWatch::Counters;
    eventCounters_ = *counters;
  } else if (ioctl(handle_, TIOCMGET, &lines) == 0) {
    modemWatch_ = TModemWatch::States;
    lastModemStatus_ = ModemStatusBits(lines);
  } else {
    modemWatch_ = TModemWatch::None;  // a pseudo-terminal: no modem lines at all
  }
  return true;
}

bool TSerialDevice::NeedsPolling() const {
  return !hangupReported_ && (modemWatch_ != TModemWatch::None || reportedInput_ > 0);
}

TLineWaitResult TSerialDevice::WaitLineEvents(std::initializer_list<TSignal*> wakers,
                                              std::chrono::milliseconds timeout) {
  const auto deadline = TClock::now() + timeout;
  for (;;) {
    if (const std::uint32_t mask = CollectLineEvents())
      return {TLineWaitResult::LineEvents, -1, mask};
    const auto now = TClock::now();
    if (now >= deadline) return {};
    const auto until = NeedsPolling() ? std::min(deadline, now + kLinePollSlice) : deadline;
    // Unread bytes keep a terminal readable: while some wait, new ones are found by counting.
    const short portEvents = reportedInput_ == 0 ? POLLIN : 0;
    const TPollOutcome outcome =
        PollSignalsAndPort(wakers, hangupReported_ ? -1 : handle_, portEvents, until);
    if (outcome.signal >= 0) return {TLineWaitResult::Signalled, outcome.signal, 0};
    if (IsHangup(outcome.portEvents)) {
      // The other side is gone for good: said once, never polled again.
      hungUp_ = true;
      hangupReported_ = true;
      return {TLineWaitResult::LineEvents, -1, kEvRlsd};
    }
  }
}

std::uint32_t TSerialDevice::CollectLineEvents() {
  if (hangupReported_) return 0;
  return InputEvents() | ModemEvents();
}

std::uint32_t TSerialDevice::InputEvents() {
  // Taken before counting: a read that slips in after the count is settled next time.
  const std::int32_t consumed = readSinceCheck_.exchange(0);
  const std::int32_t known = std::max(0, reportedInput_ - consumed);
  reportedInput_ = InputCount();
  return reportedInput_ > known ? kEvRxChar : 0;
}

std::uint32_t TSerialDevice::ModemEvents() {
  std::uint32_t mask = 0;
  if (modemWatch_ == TModemWatch::Counters) {
    const auto counters = ReadCounters();
    if (!counters) return 0;
    const TLineCounters& was = eventCounters_;
    if (counters->cts != was.cts) mask |= kEvCts;
    if (counters->dsr != was.dsr) mask |= kEvDsr;
    if (counters->carrier != was.carrier) mask |= kEvRlsd;
    if (counters->ring != was.ring) mask |= kEvRing;
    if (counters->frame != was.frame || counters->overrun != was.overrun ||
        counters->parity != was.parity || counters->bufferOverrun != was.bufferOverrun)
      mask |= kEvErr;
    eventCounters_ = *counters;
  } else if (modemWatch_ == TModemWatch::States) {
    const std::uint32_t status = ModemStatus();
    const std::uint32_t changed = status ^ lastModemStatus_;
    if (changed & kMsCtsOn) mask |= kEvCts;
    if (changed & kMsDsrOn) mask |= kEvDsr;
    if (changed & kMsRlsdOn) mask |= kEvRlsd;
    if (changed & status & kMsRingOn) mask |= kEvRing;
    lastModemStatus_ = status;
  }
  return mask;
}

TPortStatus TSerialDevice::QueryStatus() {
  TPortStatus status;
  if (const auto counters = ReadCounters()) {
    const TLineCounters& was = statusCounters_;
    if (counters->bufferOverrun != was.bufferOverrun) status.errors |= kCeRxOver;
    if (counters->overrun != was.overrun) status.errors |= kCeOverrun;
    if (counters->parity != was.parity) status.errors |= kCeRxParity;
    if (counters->frame != was.frame) status.errors |= kCeFrame;
    if (counters->brk != was.brk) status.errors |= kCeBreak;
    statusCounters_ = *counters;
  }
  status.inputCount = InputCount();
  int output = 0;
  if (ioctl(handle_, TIOCOUTQ, &output) == 0) status.outputCount = output;
  return status;
}

std::int32_t TSerialDevice::Read(char* buffer, std::int32_t count) {
  std::int32_t total = 0;
  while (total < count) {
    const ssize_t got = read(handle_, buffer + total, static_cast<std::size_t>(count - total));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // nothing more waits, or the line is gone
    total += static_cast<std::int32_t>(got);
  }
  readSinceCheck_ += total;
  return total;
}

std::ptrdiff_t TSerialDevice::Write(const char* data, std::size_t count) {
  for (;;) {
    const ssize_t written = write(handle_, data, count);
    if (written >= 0) return written;
    if (errno == EINTR) continue;
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
  }
}

bool TSerialDevice::WaitReadable(std::chrono::milliseconds timeout) {
  if (hungUp_ || handle_ < 0) return false;
  const TPollOutcome outcome = PollSignalsAndPort({}, handle_, POLLIN, DeadlineAfter(timeout));
  // A terminal whose other side has gone stays "readable" for ever: the hangup comes first.
  // Bytes that came before it are counted by the caller before it waits.
  if (IsHangup(outcome.portEvents)) {
    hungUp_ = true;
    return false;
  }
  return (outcome.portEvents & POLLIN) != 0;
}

int TSerialDevice::WaitWritable(std::initializer_list<TSignal*> wakers) {
  // A hung-up line is "writable": the write fails at once and its bytes are dropped.
  if (hungUp_) return -1;
  return PollSignalsAndPort(wakers, handle_, POLLOUT, std::nullopt).signal;
}

void TSerialDevice::Purge(bool input, bool output) {
  if (input && output)
    tcflush(handle_, TCIOFLUSH);
  else if (input)
    tcflush(handle_, TCIFLUSH);
  else if (output)
    tcflush(handle_, TCOFLUSH);
}

void TSerialDevice::SetLine(TOutputLine line, bool asserted) {
  int bits = line == TOutputLine::DTR ? TIOCM_DTR : TIOCM_RTS;
  // A device without modem lines refuses; it has nothing to set.
  ioctl(handle_, asserted ? TIOCMBIS : TIOCMBIC, &bits);
}

std::uint32_t TSerialDevice::ModemStatus() {
  int lines = 0;
  if (ioctl(handle_, TIOCMGET, &lines) != 0) return 0;
  return ModemStatusBits(lines);
}

}  // namespace zorvid
