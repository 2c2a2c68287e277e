// mptool-util check-ini FILE: loads a settings file as MPTool would and reports it.
#include <cstdio>

#include "settings/SettingsCommands.h"
#include "util/UtilCommand.h"

namespace {

int nCheckIni(const UtilArgs& args) {
  CommandOutput r = stRunCheckIni(args.vecArgs, args.bJson);
  std::fwrite(r.strOut.data(), 1, r.strOut.size(), stdout);
  std::fwrite(r.strErr.data(), 1, r.strErr.size(), stderr);
  return r.nExitCode;
}

CUtilCommandRegistration reg("check-ini",
                             "FILE  load a settings file as MPTool would: messages, fields, result",
                             nCheckIni);

}  // namespace
