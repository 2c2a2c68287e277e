// mptool-util pd-load: see pd/PDFirmwareCommands.h.
#include "pd/PDFirmwareCommands.h"
#include "util/UtilCommand.h"

namespace {

int nRun(const UtilArgs& args) {
  return nEmitCommandOutput(stRunPdLoad(args.vecArgs, args.bJson));
}

CUtilCommandRegistration reg(
    "pd-load",
    "FILE --family richtek|ccg2|ccg3|ccg4 [--mcu [HEX]]  loads a PD (and MCU) firmware file as "
    "the update would",
    nRun);

}  // namespace
