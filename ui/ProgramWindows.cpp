#include "ui/ProgramWindows.h"

namespace zorvid {

TProgramWindows::TProgramWindows() {
  log_.setAttribute(Qt::WA_QuitOnClose, false);
  dialog_.setAttribute(Qt::WA_QuitOnClose, false);
  main_.SetCommunicationLog(&log_);
  main_.SetConnectionDialog(&dialog_);
}

}  // namespace zorvid
