#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <optional>

#include "transport/serial/ComPort.h"

class QComboBox;
class QPushButton;

namespace zorvid {

// What the port settings dialog lets the user choose: the line settings this platform can
// honour (5 to 8 data bits; flow control none, software or RTS/CTS).
struct TSerialLineChoice {
  std::int32_t baudRate = 9600;
  std::uint8_t dataBits = 8;
  TComParity parity = paNone;
  TComStopbits stopBits = sbOne;
  TComFlowControl flowControl = fwNone;
  friend bool operator==(const TSerialLineChoice&, const TSerialLineChoice&) = default;
};

TSerialLineChoice LineChoiceOf(const TComSettings& settings);
// Writes the choice into `settings`; the fields the dialog does not show stay as they were.
void ApplyLineChoice(const TSerialLineChoice& choice, TComSettings& settings);
// The baud rate of the text the user typed: a positive decimal number, else none.
std::optional<std::int32_t> ParseBaudRate(const QString& text);

// The port settings dialog of the serial transport. It does no I/O: it returns the choice.
class TfSerialSetupDialog : public QDialog {
  Q_OBJECT

 public:
  TfSerialSetupDialog(const QString& portName, QWidget* owner = nullptr);

  void SetChoice(const TSerialLineChoice& choice);
  // The choice shown; call only while the baud rate is valid (OK is disabled otherwise).
  TSerialLineChoice Choice() const;

 private:
  void UpdateOk();

  QComboBox* cbBaudRate;
  QComboBox* cbDataBits;
  QComboBox* cbParity;
  QComboBox* cbStopBits;
  QComboBox* cbFlowControl;
  QPushButton* btnOk;
  QPushButton* btnCancel;
};

// Shows the dialog modally over `owner` for `portName` ("COM3") with `settings`; true when
// confirmed, with the choice written into `settings`.
bool ExecuteSerialSetupDialog(QWidget* owner, const QString& portName, TComSettings& settings);

}  // namespace zorvid
