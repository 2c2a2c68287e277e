// mptool-util sn-next SERIAL COUNT hex|dec: the serial number counted on by COUNT.
#include <cstdio>

#include "settings/SettingsCommands.h"
#include "util/UtilCommand.h"

namespace {

int nSNNext(const UtilArgs& args) {
  CommandOutput r = stRunSNNext(args.vecArgs, args.bJson);
  std::fwrite(r.strOut.data(), 1, r.strOut.size(), stdout);
  std::fwrite(r.strErr.data(), 1, r.strErr.size(), stderr);
  return r.nExitCode;
}

CUtilCommandRegistration reg("sn-next",
                             "SERIAL COUNT hex|dec  the serial number counted on by COUNT (0..255)", nSNNext);

}  // namespace
