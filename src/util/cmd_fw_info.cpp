// mptool-util fw-info: see images/ImageCommands.h.
#include <cstdio>

#include "images/ImageCommands.h"
#include "util/UtilCommand.h"

namespace {

int nRun(const UtilArgs& args) {
  CommandOutput r = stRunFwInfo(args.vecArgs, args.bJson);
  std::fwrite(r.strOut.data(), 1, r.strOut.size(), stdout);
  std::fwrite(r.strErr.data(), 1, r.strErr.size(), stderr);
  return r.nExitCode;
}

CUtilCommandRegistration reg("fw-info",
                             "FILE  kind, size, version, type and signatures of a hub firmware file", nRun);

}  // namespace
