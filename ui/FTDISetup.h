#pragma once

#include <QDialog>
#include <cstdint>

class QLabel;
class QPushButton;

namespace zorvid {

// The USB settings window of the USB bridge transport: it shows the line's baud rate. None of
// its three buttons confirms it, so it only ever closes unconfirmed (close box or Escape) and
// changes nothing.
class TfFTDIdialog : public QDialog {
  Q_OBJECT

 public:
  explicit TfFTDIdialog(QWidget* owner = nullptr);

  // Puts the baud rate in decimal into the label.
  void ShowBaudRate(std::int32_t baudRate);

 private:
  QLabel* lblBaudRate;
  QPushButton* Button1;
  QPushButton* Button2;
  QPushButton* Button3;
};

// Shows the USB settings window modally over `owner` with `baudRate`; true when confirmed.
bool ExecuteUsbDialog(QWidget* owner, std::int32_t baudRate);

}  // namespace zorvid
