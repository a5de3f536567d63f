#pragma once

// The one interface through which every client uses a transport. It lives in core/ so that
// the protocol layer talks to any transport through it without depending on transport/.

#include <cstdint>
#include <string>
#include <vector>

#include "core/Eventer.h"
#include "core/Handler.h"
#include "core/MyInterfacedObject.h"
#include "core/Types.h"

namespace zorvid {

class ICommunicationInterface;
using TCiRef = TRef<ICommunicationInterface>;

// Values that explain a failed operation in an error report, as text.
using TErrorArgs = std::vector<std::string>;

// Which thread calls a handler. No handler is called with the transport's lock held, so a
// handler may use the line (and take its lock) itself.
//   DataRcv: the serial transport calls it on the thread that made it (the main thread or a
//     line's own thread with an event loop), the TCP transport on the main thread, the USB
//     transport on its reader thread; a client must be ready for any thread.
//   Open, Close: the thread that called Open or Close; a close the other side made (or the
//     system reported) comes on the main thread.
//   Error: the thread of the operation that failed.
//   ChangeSignal: the serial transport calls it on the thread that made it.
using TCiNotifyHandler = THandler<TCiRef>;
using TCiChangeSignalHandler = THandler<TCiRef, std::int32_t, bool>;
using TCiErrorHandler = THandler<TCiRef, const std::string&, const TErrorArgs&, std::int32_t>;
// Decides from the text collected so far whether Query keeps waiting for more.
using TQueryGoOn = bool (*)(const TByteString& text);

class TEventerCiNotify final : public TTypedEventer<TCiRef> {};
class TEventerCiNotifyChangeEvent final : public TTypedEventer<TCiRef, std::int32_t, bool> {};

// What a pure data consumer needs.
class ICommunicationInterfaceCore : public virtual IInterface {
 public:
  // Received data, on the thread that made the transport (serial), the main thread (TCP) or the
  // transport's reader thread (USB).
  virtual void SetOnDataRcv(const TCiNotifyHandler& handler) = 0;
  virtual TCiNotifyHandler GetOnDataRcv() = 0;
  virtual TEventerCiNotify& GetDataRcvEventer() = 0;
};

class ICommunicationInterface : public virtual ICommunicationInterfaceCore {
 public:
  virtual bool GetActive() = 0;
  virtual bool SetActive(bool value) = 0;
  virtual bool GetPortEnabled() = 0;
  virtual void SetPortEnabled(bool value) = 0;
  virtual std::string GetConfiguration() = 0;
  virtual void SetConfiguration(const std::string& text) = 0;

  // Open and close: on the thread that called Open or Close; a remote close on the main thread.
  virtual TCiNotifyHandler GetOnOpen() = 0;
  virtual void SetOnOpen(const TCiNotifyHandler& handler) = 0;
  virtual TEventerCiNotify& GetOpenEventer() = 0;
  virtual TCiNotifyHandler GetOnClose() = 0;
  virtual void SetOnClose(const TCiNotifyHandler& handler) = 0;
  virtual TEventerCiNotify& GetCloseEventer() = 0;
  // On the thread that changed the configuration.
  virtual TEventerCiNotify& GetConfigChangedEventer() = 0;
  // On the thread of the operation that failed.
  virtual TCiErrorHandler GetOnError() = 0;
  virtual void SetOnError(const TCiErrorHandler& handler) = 0;
  // Modem lines: the serial transport raises them on the thread that made it.
  virtual TEventerCiNotifyChangeEvent& GetChangeSignalEventer() = 0;
  virtual TCiChangeSignalHandler GetOnChangeSignal() = 0;
  virtual void SetOnChangeSignal(const TCiChangeSignalHandler& handler) = 0;

  virtual bool Open() = 0;
  virtual bool Close(bool force) = 0;
  virtual std::string GetConnectionName() = 0;
  // Writes all bytes; returns how many were taken.
  virtual std::int32_t Write(const TByteString& data) = 0;
  // Takes every byte received so far (possibly none).
  virtual TByteString Read() = 0;
  virtual std::int32_t InBuffUsed() = 0;
  // Waits until bytes are receivable or `timeoutMs` has passed, whichever comes first; true
  // when bytes are receivable. Runs on the calling thread and hands nothing to the receive
  // path, so a blocking request may wait with it while it holds the line. A line that cannot
  // wait for bytes (it is closed or failed) may return false early.
  virtual bool WaitForData(std::int32_t timeoutMs) = 0;
  // True when nothing more can arrive until the line is opened again: it is closed, or the
  // other side has gone (a hangup, a connection closed by the peer, a failed bridge) and the
  // close has not come through yet. GetFailureReason then says why.
  virtual bool IsLineClosed() = 0;
  virtual void PurgeInput() = 0;
  virtual void PurgeOutput() = 0;

  // Sends `data` and collects the reply: the wait for the first byte is the transmit time
  // plus `timeoutMs`, later gaps may last `interCharTimeout` character times, the whole
  // exchange the transmit time plus `totalTimeoutMs`; `goOn` (if set) ends it early.
  virtual TByteString Query(const TByteString& data, std::int32_t timeoutMs,
                            std::int32_t interCharTimeout, std::int32_t totalTimeoutMs,
                            bool purgeInputFirst, bool purgeOutputFirst, TQueryGoOn goOn,
                            const TByteString& prefix) = 0;
  TByteString QuerySimple(const TByteString& data, std::int32_t timeoutMs, TQueryGoOn goOn) {
    return Query(data, timeoutMs, 50, 2 * timeoutMs, false, false, goOn, "");
  }
  // Milliseconds per transmitted character.
  virtual double GetCharTime() = 0;

  virtual void Lock() = 0;
  virtual void Unlock() = 0;
  virtual void LockRead() = 0;
  virtual void UnlockRead() = 0;

  virtual bool Setup() = 0;
  virtual bool HasSetup() = 0;
  virtual std::string GetDescription() = 0;

  // Why the last failed operation of this line failed, naming the cause and its value: the
  // system's error text with its number and the device path, the socket's error with host and
  // port, the bridge library's status by name, the library names tried. Empty after a success
  // of Open, Close or SetConfiguration; any thread may ask.
  virtual std::string GetFailureReason() = 0;
};

inline constexpr TInterfaceId IID_ICommunicationInterfaceCore =
    MakeInterfaceId<ICommunicationInterfaceCore>("{76A7FD53-30E9-4F5A-9B92-90AC61E19EA0}");
inline constexpr TInterfaceId IID_ICommunicationInterface =
    MakeInterfaceId<ICommunicationInterface>("{A08B3416-51DC-4315-940D-D6110F114164}");

}  // namespace zorvid
