#include "ui/ProgramWindows.h"

namespace zorvid {

TProgramWindows::TProgramWindows(TRecentConnections* recent) {
  log_.setAttribute(Qt::WA_QuitOnClose, false);
  dialog_.setAttribute(Qt::WA_QuitOnClose, false);
  main_.SetCommunicationLog(&log_);
  main_.SetConnectionDialog(&dialog_);
  main_.SetRecentConnections(recent);
  dialog_.SetRecentConnections(recent);
}

}  // namespace zorvid
