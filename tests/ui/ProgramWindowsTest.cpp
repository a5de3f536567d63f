// The program's windows together: closing the main window ends the event loop of the program.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include "ui/ProgramWindows.h"

namespace zorvid {
namespace {

TEST(ProgramWindowsTest, ClosingTheMainWindowEndsTheProgramWithTheLogWindowOpen) {
  ASSERT_TRUE(QApplication::quitOnLastWindowClosed());
  TProgramWindows windows;
  windows.Main().show();
  windows.Log().ShowLog(QString());  // as after the service gesture
  ASSERT_TRUE(windows.Log().isVisible());

  QTimer close;
  close.setSingleShot(true);
  QObject::connect(&close, &QTimer::timeout, [&windows] { windows.Main().close(); });
  close.start(0);
  // Should the program keep running, this ends the loop with another status.
  QTimer stillRunning;
  stillRunning.setSingleShot(true);
  QObject::connect(&stillRunning, &QTimer::timeout, [] { QCoreApplication::exit(1); });
  stillRunning.start(2000);

  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_FALSE(windows.Main().isVisible());
}

}  // namespace
}  // namespace zorvid
