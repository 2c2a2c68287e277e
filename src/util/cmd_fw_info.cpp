// mptool-util fw-info: see images/ImageCommands.h.
#include <cstdio>

#include "images/ImageCommands.h"
#include "util/UtilCommand.h"

namespace {

int nRun(const UtilArgs& args) {
  return nEmitCommandOutput(stRunFwInfo(args.vecArgs, args.bJson));
}

CUtilCommandRegistration reg("fw-info",
                             "FILE  kind, size, version, type and signatures of a hub firmware file", nRun);

}  // namespace
