// mptool-util make-config-rom: see images/ImageCommands.h.
#include <cstdio>

#include "images/ImageCommands.h"
#include "util/UtilCommand.h"

namespace {

int nRun(const UtilArgs& args) {
  return nEmitCommandOutput(stRunMakeConfigRom(args.vecArgs, args.bJson));
}

CUtilCommandRegistration reg(
    "make-config-rom",
    "--ini FILE FW  write a configuration ROM file under the program folder, as Create Config does", nRun);

}  // namespace
