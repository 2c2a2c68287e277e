// mptool-util pd-version: see pd/PDFirmwareCommands.h.
#include "pd/PDFirmwareCommands.h"
#include "util/UtilCommand.h"

namespace {

int nRun(const UtilArgs& args) {
  return nEmitCommandOutput(stRunPdVersion(args.vecArgs, args.bJson));
}

CUtilCommandRegistration reg(
    "pd-version", "FILE [--pd] [--mcu]  version text and file type codes of a PD/MCU firmware file", nRun);

}  // namespace
