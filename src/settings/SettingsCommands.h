// The settings commands of mptool-util, as functions that return their exit code and the
// texts for standard output and standard error, so the tests can run them directly.
#pragma once

#include <string>
#include <vector>

#include "host/CommandOutput.h"

// check-ini FILE: loads FILE as MPTool does and reports every operator message, every field
// and whether the load succeeded (exit 0) or failed (exit 1). Bad arguments: exit 2.
CommandOutput stRunCheckIni(const std::vector<std::string>& vecArgs, bool bJson);

// sn-next SERIAL COUNT hex|dec: the counted serial number alone on its line. Bad
// arguments: exit 2.
CommandOutput stRunSNNext(const std::vector<std::string>& vecArgs, bool bJson);
