#pragma once

// The main window's page "Displej": the mirror of the display's segments, its text and the
// temperature. It shows what a poll read and collects what the technician sends; it does no
// I/O.
//
// Threads: user-interface thread only.

#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QPushButton>
#include <QWidget>
#include <string>

#include "core/Types.h"
#include "link/DisplayPoll.h"

class QGroupBox;

namespace zorvid {

class TDisplayPanel;

class TDisplayPage : public QWidget {
  Q_OBJECT

 public:
  explicit TDisplayPage(QWidget* parent = nullptr);

  // Segments the poll read whole are drawn; the temperature shows, or "---" when none came.
  void ShowPoll(const TPollOutcome& poll);
  void ShowNoTemperature();
  // The mirror drawn enabled only while it shows the display as it is; else in its disabled
  // colours, with the property "stale".
  void SetMirrorCurrent(bool current);
  std::string DisplayText() const;
  TByteString Segments() const;
  QList<QWidget*> TabOrder() const;

 signals:
  void writeText();
  void showInformation();
  // A segment was switched on the mirror.
  void segmentsChanged();

 private:
  void ColourText();

  TDisplayPanel* pnlDisplay;
  QGroupBox* GroupBox1;
  QLabel* Label2;
  QLineEdit* edtDisplayChars;
  QPushButton* btnDisplayCharsSet;
  QPushButton* btnShowActualInformation;
  QLabel* Label7;
  QLabel* lblTemperature;
};

}  // namespace zorvid
