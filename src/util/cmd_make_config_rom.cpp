// mptool-util make-config-rom: see images/ImageCommands.h.
#include <cstdio>

#include "images/ImageCommands.h"
#include "util/UtilCommand.h"

namespace {

int nRun(const UtilArgs& args) {
  CommandOutput r = stRunMakeConfigRom(args.vecArgs, args.bJson);
  std::fwrite(r.strOut.data(), 1, r.strOut.size(), stdout);
  std::fwrite(r.strErr.data(), 1, r.strErr.size(), stderr);
  return r.nExitCode;
}

CUtilCommandRegistration reg(
    "make-config-rom",
    "--ini FILE FW  write a configuration ROM file under the program folder, as Create Config does", nRun);

}  // namespace
