#pragma once

// The service gesture of the main window: Ctrl and a double click on its bottom panel, below
// the separator line at its top. It opens what a technician in the field needs and a user
// does not: the communication log and the service fields.
//
// Threads: user-interface thread only.

#include <QObject>

namespace zorvid {

class TServiceGesture : public QObject {
  Q_OBJECT

 public:
  // Watches `panel`, whose top `separatorHeight` rows are no part of the gesture.
  TServiceGesture(QWidget* panel, int separatorHeight);

 signals:
  void triggered();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* panel_;
  int separatorHeight_;
};

}  // namespace zorvid
