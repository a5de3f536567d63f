#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace zorvid::ctl {

// The whole zorvidctl run for the arguments after the program name: parses them, connects,
// runs the one command and disconnects. The result goes to `out`, messages and the trace to
// `err`. Returns the exit code. A transport that needs the Qt event loop (TCP) needs a
// QCoreApplication to exist. With `errIsTerminal` a scan shows its progress on `err`.
int RunZorvidCtl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                 bool errIsTerminal = false);

}  // namespace zorvid::ctl
