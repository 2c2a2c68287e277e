// mptool-util: maintenance commands for engineers preparing a production line.
#include <cstdio>
#include <exception>
#include <string>

#include "host/CommandOutput.h"
#include "mptool_version.h"
#include "util/UtilCommand.h"

std::vector<UtilCommand>& vecUtilCommands() {
  static std::vector<UtilCommand> v;
  return v;
}

int nEmitCommandOutput(const CommandOutput& r) {
  std::fwrite(r.strOut.data(), 1, r.strOut.size(), stdout);
  std::fwrite(r.strErr.data(), 1, r.strErr.size(), stderr);
  return r.nExitCode;
}

static void vPrintUsage() {
  std::fprintf(stderr, "usage: mptool-util COMMAND [ARGS...] [--json]\n       mptool-util --version\n");
  for (const auto& c : vecUtilCommands())
    std::fprintf(stderr, "  %s %s\n", c.strName.c_str(), c.strUsage.c_str());
}

int main(int argc, char** argv) {
  UtilArgs args;
  std::string strCommand;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--json") {
      args.bJson = true;
    } else if (strCommand.empty()) {
      strCommand = a;
    } else {
      args.vecArgs.push_back(a);
    }
  }
  if (strCommand == "--version") {
    std::printf("mptool-util %s\n", MPTOOL_VERSION_STRING);
    return 0;
  }
  for (const auto& c : vecUtilCommands()) {
    if (c.strName != strCommand) continue;
    try {
      return c.pfn(args);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "mptool-util %s: %s\n", strCommand.c_str(), e.what());
      return 2;
    }
  }
  if (!strCommand.empty() && strCommand != "help" && strCommand != "--help")
    std::fprintf(stderr, "mptool-util: unknown command \"%s\"\n", strCommand.c_str());
  vPrintUsage();
  return 2;
}
