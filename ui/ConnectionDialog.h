#pragma once

#include <QDialog>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Types.h"
#include "link/DisplayScan.h"
#include "transport/FTDICore.h"
#include "transport/serial/SerialPortNames.h"
#include "ui/ComPortScanner.h"
#include "ui/RecentConnections.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace zorvid {

class TComPortStringList;
class TIntEdit;

// What a connection string asks the dialog to show: the line and the values of each section.
// Values the string does not give are the dialog's defaults.
struct TConnectionChoice {
  enum TLine { lnSerial, lnUsb, lnTcp } line = lnSerial;
  std::int32_t comPort = 1;
  std::string device;  // a serial port given by its path; empty: by its number
  std::int32_t comBaudRate = 9600;
  std::string serialNumber;
  std::int32_t usbBaudRate = 115200;
  std::string host;
  std::int32_t tcpPort = 10001;
  // The speed the line is opened at; none for a TCP line, whose speed is its converter's.
  std::optional<std::int32_t> Speed() const;
};

// Reads a connection string as the dialog loads it: the provider (any case; anything else
// than FTD_USB or TCP_CLIENT, also none, is the serial line) and the keys of that line only.
// A value that is not an integer takes the key's default.
TConnectionChoice ChoiceOfConnection(const std::string& connection);

// How the list "Nedávná připojení" names a connection: its line, port or host, and address.
QString RecentConnectionText(const TRecentConnection& recent);

// The connection dialog: serial port, USB bridge or TCP client, with the transport's values
// and the display's address, and the recent connections to choose from. It is made once and
// keeps its state between runs; it does no I/O of a line, only the COM port scan and the USB
// bridge enumeration that fill its lists.
//
// Threads: user-interface thread only; the scanner's results reach the port list there.
class TfConnectionDialog : public QDialog {
  Q_OBJECT

 public:
  // `probe` decides each port's state in a scan; the default is the real one. The ports' names
  // are read from the system under `roots`.
  explicit TfConnectionDialog(QWidget* owner = nullptr, TComPortProbe probe = {},
                              TDeviceRoots roots = {});
  // Stops the scan (its threads end) before the scanner and the list go.
  ~TfConnectionDialog() override;

  // Loads the controls from `connection`, selects `address` and shows the dialog modally.
  // True on "Ok", with the built connection string and the selected address written back;
  // "Zrušit" and the close box leave both unchanged.
  bool Execute(std::string& connection, TByte& address);

  // What Execute does before the dialog opens: the controls loaded from `connection`,
  // `address` selected, the recent connections listed (none chosen), the dialog centred on its
  // screen. For showing it without blocking.
  void Load(const std::string& connection, TByte address);

  // A display the search found: its address selected, its speed set for the line.
  void ApplyFoundDisplay(const TFoundDisplay& found);

  // The string the controls describe now.
  std::string BuildConnectionString() const;

  // The connections "Nedávná připojení" offers, read at every Load; none without it. The list
  // must outlive the dialog or be unset first.
  void SetRecentConnections(const TRecentConnections* recent);

 private:
  void BuildControls();
  QWidget* BuildRecentSection();
  QWidget* BuildAddressSection();
  QWidget* BuildSerialSection();
  QWidget* BuildUsbSection();
  QWidget* BuildTcpSection();
  QWidget* BuildButtons();

  // The controls as `connection` and `address` describe them.
  void LoadConnection(const std::string& connection, TByte address);
  void LoadFrom(const std::string& connection);
  void FillRecentConnections();
  void ChooseRecentConnection(int index);
  // Checks `chosen` (when given) and unchecks the others, fills an empty list of the checked
  // line and enables the controls of the checked line only.
  void ApplyRadioRule(QRadioButton* chosen);
  // The port is either chosen from the list or given by its path, never both.
  void ApplyDeviceRule();
  void ChooseDeviceByPath();
  void ApplyExpertMode();
  // "Najít displeje…": searches the line the dialog describes; a display chosen there sets
  // the address and the line's speed.
  void FindDisplays();
  void RefreshComPorts();
  void RefreshUsbDevices();
  void ChooseDevice();
  std::int32_t SelectedComPort() const;

  QGroupBox* gbMain;
  QWidget* pRecent;
  QLabel* lRecent;
  QComboBox* cbRecent;
  QWidget* pADR;
  QLabel* Label1;
  QComboBox* cbbADR;
  QWidget* pCOM;
  QRadioButton* rbCOM;
  QLabel* lCOM;
  QComboBox* cbCOM;
  QPushButton* bCOMRefresh;
  QCheckBox* chbDevice;
  QLineEdit* eDevice;
  QLabel* lCOMBaudrate;
  QComboBox* cbCOMBaudrate;
  QWidget* pUSB;
  QRadioButton* rbUSB;
  QLabel* lDeviceName;
  QComboBox* cbDeviceName;
  QLabel* lSerialNumber;
  QLineEdit* eSerialNumber;
  QPushButton* bUSBRefresh;
  QLabel* lUSBBaudRate;
  QComboBox* cbUSBBaudRate;
  QWidget* pTCP;
  QRadioButton* rbTCP;
  QLabel* lIP;
  QLineEdit* eIP;
  QLabel* lPort;
  TIntEdit* iePort;
  QPushButton* sbExpertMode;
  QPushButton* bFindDisplays;
  QPushButton* bOK;
  QPushButton* bCancel;

  std::unique_ptr<TComPortStringList> FComPorts;
  std::unique_ptr<TComPortScanner> FScanner;
  TUsbDeviceList FUsbDevices;  // what cbDeviceName lists, in its order
  const TRecentConnections* FRecent = nullptr;
  std::vector<TRecentConnection> FRecentShown;  // what cbRecent lists, in its order
};

}  // namespace zorvid
