// The firmware and image commands of mptool-util, as functions returning their exit code and
// the texts for standard output and standard error, so that the tests run them directly.
#pragma once

#include <string>
#include <vector>

#include "host/USBUtility.h"
#include "settings/SettingsCommands.h"

// fw-info FILE: kind, size, version, type byte, bMajorType, the firmware check's result,
// whether the file is a configuration ROM file, and the image signature its name gives with
// and without CRC. Exit 0 for a valid hub firmware (types 0..3), 1 otherwise, 2 bad
// arguments.
CommandOutput stRunFwInfo(const std::vector<std::string>& vecArgs, bool bJson);

// config-table --ini FILE --devices N [--fw FILE]: the N configuration tables built from
// that settings file (type 0 without --fw). Exit 0; 1 when the settings file does not load;
// -13 for a firmware whose type is not 0..3; 2 bad arguments.
CommandOutput stRunConfigTable(const std::vector<std::string>& vecArgs, bool bJson);

// make-config-rom --ini FILE FW: "Create Config" with those settings, under the program
// folder (options.strAppPath, else MPTOOL_HOME, else the executable's folder). Prints the
// ROM path. Exit 0; 1 when refused or not written; -13 for a firmware type outside 0..3;
// 2 bad arguments.
CommandOutput stRunMakeConfigRom(const std::vector<std::string>& vecArgs, bool bJson,
                                 const USBUtilityOptions& options = {});
