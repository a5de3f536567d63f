// zorvidctl: one command to a Zorvid display per run, for people and scripts.
#include <unistd.h>

#include <QCoreApplication>
#include <iostream>
#include <string>
#include <vector>

#include "tools/ctl/ZorvidCtl.h"

int main(int argc, char** argv) {
  // Taken before Qt sees them, so that no argument is lost to Qt's own option handling.
  const std::vector<std::string> args(argv + 1, argv + argc);
  // The TCP transport's socket notifications travel through this application's event loop.
  QCoreApplication application(argc, argv);
  return zorvid::ctl::RunZorvidCtl(args, std::cout, std::cerr, isatty(STDERR_FILENO) == 1);
}
