#pragma once

// Finding a window's controls by their object names, as the tests drive them.
#include <gtest/gtest.h>

#include <QWidget>

namespace zorvid::test {

// The window's descendant of that name and class; a test failure (and null) when there is none.
template <class TChild = QWidget>
TChild* Child(QWidget* window, const char* name) {
  auto* child = window->findChild<TChild*>(name);
  EXPECT_NE(child, nullptr) << name;
  return child;
}

}  // namespace zorvid::test
