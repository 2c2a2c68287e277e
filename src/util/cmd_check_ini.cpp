// mptool-util check-ini FILE: loads a settings file as MPTool would and reports it.
#include <cstdio>

#include "settings/SettingsCommands.h"
#include "util/UtilCommand.h"

namespace {

int nCheckIni(const UtilArgs& args) {
  return nEmitCommandOutput(stRunCheckIni(args.vecArgs, args.bJson));
}

CUtilCommandRegistration reg("check-ini",
                             "FILE  load a settings file as MPTool would: messages, fields, result",
                             nCheckIni);

}  // namespace
