// The PD firmware commands of mptool-util, as functions returning their exit code and the
// texts for standard output and standard error, so that the tests run them directly.
#pragma once

#include <string>
#include <vector>

#include "host/CommandOutput.h"

// pd-version FILE [--pd] [--mcu]: the version text the PD dialog shows for the file (control
// bytes written as \xNN in text, as JSON escapes with --json) and the PD and MCU file type
// codes. Without --pd or --mcu the PD update counts as chosen. Exit 0 when the file is
// accepted, 1 when it is rejected ("NULL"), 2 bad arguments.
CommandOutput stRunPdVersion(const std::vector<std::string>& vecArgs, bool bJson);

// pd-load FILE --family richtek|ccg2|ccg3|ccg4 [--mcu [HEX]]: loads the file as the PD
// update would (the MCU image too with --mcu, from HEX or else from FILE) and shows the
// loader's result code, the .cyacd header, the slots, rows and MCU records loaded and the
// loader's warnings and errors. Exit 0 when the load succeeds, 1 when it fails, 2 bad
// arguments.
CommandOutput stRunPdLoad(const std::vector<std::string>& vecArgs, bool bJson);
