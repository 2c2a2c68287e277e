// mptool-util sn-next SERIAL COUNT hex|dec: the serial number counted on by COUNT.
#include <cstdio>

#include "settings/SettingsCommands.h"
#include "util/UtilCommand.h"

namespace {

int nSNNext(const UtilArgs& args) {
  return nEmitCommandOutput(stRunSNNext(args.vecArgs, args.bJson));
}

CUtilCommandRegistration reg(
    "sn-next", "SERIAL COUNT hex|dec  the serial number counted on by COUNT (0..15 hex, 0..9 dec)", nSNNext);

}  // namespace
