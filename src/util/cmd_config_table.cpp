// mptool-util config-table: see images/ImageCommands.h.
#include <cstdio>

#include "images/ImageCommands.h"
#include "util/UtilCommand.h"

namespace {

int nRun(const UtilArgs& args) {
  CommandOutput r = stRunConfigTable(args.vecArgs, args.bJson);
  std::fwrite(r.strOut.data(), 1, r.strOut.size(), stdout);
  std::fwrite(r.strErr.data(), 1, r.strErr.size(), stderr);
  return r.nExitCode;
}

CUtilCommandRegistration reg(
    "config-table", "--ini FILE --devices N [--fw FILE]  the configuration tables built from a settings file",
    nRun);

}  // namespace
