#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "transport/CommunicationInterfaceDataSpy.h"
#include "transport/ConnectionString.h"

namespace zorvid {

// Stop bits and parity as every transport over a UART-style line takes them. Values outside the
// lists may reach a setter (a caller's cast); the transports refuse them.
enum class TStopBits : std::uint8_t { One, OneAndHalf, Two };
enum class TParity : std::uint8_t { None, Odd, Even, Mark, Space };

// The input lines as DoChangeSignal numbers them.
inline constexpr std::int32_t kSignalCarrierDetect = 0;
inline constexpr std::int32_t kSignalCTS = 1;
inline constexpr std::int32_t kSignalDSR = 3;
inline constexpr std::int32_t kSignalRing = 4;

// The line settings of a transport over a UART-style line (serial port, USB bridge). Through
// this interface the setters are the notifying ones: they report a refused value through
// OnError and announce an accepted one as a configuration change.
class ISerialCommunicationInterface : public virtual ICommunicationInterface {
 public:
  virtual std::int32_t GetBaudRate() = 0;
  virtual void SetBaudRate(std::int32_t value) = 0;
  virtual bool GetRTS() = 0;
  virtual void SetRTS(bool value) = 0;
  virtual bool GetDTR() = 0;
  virtual void SetDTR(bool value) = 0;
  // The input lines as the peer drives them now; false while the line is closed.
  virtual bool ReadCTS() = 0;
  virtual bool ReadDSR() = 0;
  virtual TStopBits GetStopBits() = 0;
  virtual void SetStopBits(TStopBits value) = 0;
  virtual TParity GetParity() = 0;
  virtual void SetParity(TParity value) = 0;
  virtual std::uint8_t GetDatabits() = 0;
  virtual void SetDatabits(std::uint8_t value) = 0;
  // The driver's queue sizes in bytes.
  virtual std::int32_t GetOutBufSize() = 0;
  virtual void SetOutBufSize(std::int32_t value) = 0;
  virtual std::int32_t GetInBufSize() = 0;
  virtual void SetInBufSize(std::int32_t value) = 0;
};

inline constexpr TInterfaceId IID_ISerialCommunicationInterface =
    MakeInterfaceId<ISerialCommunicationInterface>("{783E5941-B8D8-4FB6-B8B5-F43D41E6DB42}");

// The written names of the settings ("One", "OneAndHalf", "Two"; "None" ... "Space"), and the
// number in decimal for a value outside the list.
std::string StopBitsName(TStopBits value);
std::string ParityName(TParity value);

// The base of the line transports: the settings' text in the connection string, their parsing,
// the notifying setters on top of the raw ones, and the character time of the line speed.
//
// Threads and locks: the raw setters and the applying of a connection string run under the
// node's exclusive lock, the getters and GetConfiguration under its shared lock (the lock is
// re-entrant, so a raw setter may run inside either). The settings themselves live in the
// concrete transport, guarded there by the same lock; the character time is atomic in the
// base of every transport.
class TSerialCommunicationInterface : public TCommunicationInterfaceDataSpy,
                                      public virtual ISerialCommunicationInterface {
 public:
  // Raw setters: apply one setting without notifying anybody; false when it was refused.
  // ApplyBaudRate here records the character time of an accepted rate; a transport calls it
  // after its own work succeeded.
  virtual bool ApplyBaudRate(std::int32_t value);
  virtual bool ApplyParity(TParity value) = 0;
  virtual bool ApplyStopBits(TStopBits value) = 0;
  virtual bool ApplyDatabits(std::uint8_t value) = 0;
  virtual bool ApplyDTR(bool value) = 0;
  virtual bool ApplyRTS(bool value) = 0;

  void SetBaudRate(std::int32_t value) override;
  void SetParity(TParity value) override;
  void SetStopBits(TStopBits value) override;
  void SetDatabits(std::uint8_t value) override;
  void SetDTR(bool value) override;
  void SetRTS(bool value) override;

  // "baudrate=...;databits=...;stopbits=...;parity=...;dtr=...;rts=..." after what the base
  // writes.
  std::string GetConfiguration() override;

  // What a line can carry at all; the raw setters refuse anything else before it reaches a
  // driver's tables.
  static bool ValidBaudRate(std::int32_t value) { return value > 0; }
  static bool ValidDatabits(std::uint8_t value) { return value >= 4 && value <= 8; }
  static bool ValidParity(TParity value) { return value <= TParity::Space; }
  static bool ValidStopBits(TStopBits value) { return value <= TStopBits::Two; }
  // The connection-string keys of the line settings, "active" included, for the factory's
  // registration.
  static std::vector<std::string> LineKeys();

 protected:
  using TCommunicationInterfaceDataSpy::TCommunicationInterfaceDataSpy;

  bool ApplyConfiguration(const std::string& text) override;
  // Raises EConvertError naming the key and the value when a line key's value is malformed or
  // one no line can carry (baud rate 0, nine data bits, parity "Q"); called before any key of
  // a connection string is applied.
  static void CheckLineSettings(const TConnectionSettings& settings);
  // Checks, then applies the line keys of `settings` through the raw setters, under the
  // exclusive lock (a value the driver refuses is not reported), then opens when "active" says
  // so, after the lock is released.
  void ApplyLineSettings(const TConnectionSettings& settings);

 private:
  // The notifying setters' one body: the raw setter, then a configuration change, or a report
  // under `operation` with the refused value as text and a reason naming `key` and the value.
  template <class TValue>
  void ChangeSetting(const char* operation, const char* key,
                     bool (TSerialCommunicationInterface::*apply)(TValue), TValue value);
};

}  // namespace zorvid
