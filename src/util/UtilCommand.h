// mptool-util's command table. Each command file registers one command with a static
// CUtilCommandRegistration; main() finds it by name.
#pragma once

#include <string>
#include <vector>

struct UtilArgs {
  std::vector<std::string> vecArgs;  // the command's arguments, "--json" removed
  bool bJson = false;                // one JSON object on standard output, nothing else
};

using UtilCommandFn = int (*)(const UtilArgs& args);

struct UtilCommand {
  std::string strName;
  std::string strUsage;  // one line: arguments and what it does
  UtilCommandFn pfn;
};

std::vector<UtilCommand>& vecUtilCommands();

// Prints a command's texts and gives its exit code.
int nEmitCommandOutput(const struct CommandOutput& r);

struct CUtilCommandRegistration {
  CUtilCommandRegistration(std::string strName, std::string strUsage, UtilCommandFn pfn) {
    vecUtilCommands().push_back({std::move(strName), std::move(strUsage), pfn});
  }
};
