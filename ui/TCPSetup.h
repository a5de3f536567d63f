#pragma once

#include <QDialog>
#include <cstdint>
#include <string>

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QWidget;

namespace zorvid {

// The TCP settings dialog: the remote host and port of the TCP transport. Its local-port page
// exists but its tab is hidden, and its value is not returned. The dialog does no I/O: it
// returns what the user chose.
class TfTCPIPDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TfTCPIPDialog(QWidget* owner = nullptr);

  // Prepares one run: the captions, the window caption, host and port, "Apply" disabled and
  // nothing accepted yet.
  void Prepare(const QString& caption, const QString& host, std::uint16_t port);

  // True once "OK" or "Apply" stored the values; "Cancel" after "Apply" keeps them.
  bool Accepted() const { return FAccepted; }
  QString Host() const { return FHost; }
  std::uint16_t Port() const { return FPort; }
  // 0 = automatic.
  std::uint16_t LocalPort() const { return FLocalPort; }

 private:
  void BuildControls();
  void SetCaptions();
  void Store();
  void Apply();
  void Confirm();

  QTabWidget* pcPage;
  QWidget* tsClient;
  QGroupBox* gbHost;
  QLineEdit* txtHost;
  QGroupBox* gbPort;
  QSpinBox* sePort;
  QWidget* tsServer;
  QGroupBox* gbLocPort;
  QSpinBox* seListenPort;
  QCheckBox* chLocalPort;
  QPushButton* cmdOK;
  QPushButton* cmdCancel;
  QPushButton* cmdAply;

  bool FAccepted = false;
  QString FHost;
  std::uint16_t FPort = 0;
  std::uint16_t FLocalPort = 0;
};

// Shows the TCP settings dialog modally over `owner` with `caption`, `host` and `port`. True
// when the user accepted values ("OK", or "Apply" before closing), which are then written to
// `host` and `port`; false leaves both unchanged.
bool ExecuteTcpDialog(QWidget* owner, const QString& caption, std::string& host,
                      std::uint16_t& port);

}  // namespace zorvid
