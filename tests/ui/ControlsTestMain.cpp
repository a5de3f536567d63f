#include "tests/support/WidgetsTestMain.h"

int main(int argc, char** argv) {
  return zorvid::test::RunWidgetTests(argc, argv);
}
