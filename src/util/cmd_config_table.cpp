// mptool-util config-table: see images/ImageCommands.h.
#include <cstdio>

#include "images/ImageCommands.h"
#include "util/UtilCommand.h"

namespace {

int nRun(const UtilArgs& args) {
  return nEmitCommandOutput(stRunConfigTable(args.vecArgs, args.bJson));
}

CUtilCommandRegistration reg(
    "config-table", "--ini FILE --devices N [--fw FILE]  the configuration tables built from a settings file",
    nRun);

}  // namespace
