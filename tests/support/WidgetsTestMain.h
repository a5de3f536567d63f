#pragma once

// The main of a GUI test program: the windows run on Qt's offscreen platform (unless the
// environment asks for another, such as xcb under Xvfb), in one application object of type
// TApplication.
#include <gtest/gtest.h>

#include <QApplication>

namespace zorvid::test {

template <class TApplication = QApplication>
int RunWidgetTests(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

}  // namespace zorvid::test
