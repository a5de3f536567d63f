#include "tests/support/WidgetsTestMain.h"
#include "ui/Application.h"

int main(int argc, char** argv) {
  return zorvid::test::RunWidgetTests<zorvid::TZorvidApplication>(argc, argv);
}
