// What a maintenance command produces: its exit code and the texts for standard output and
// standard error. Commands return it instead of printing, so tests run them directly.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

struct CommandOutput {
  int nExitCode = 0;
  std::string strOut;  // standard output
  std::string strErr;  // standard error
};

// One JSON object as the commands print it. Texts of the tool are single-byte, not
// necessarily UTF-8: invalid bytes are replaced.
std::string strDumpCommandJson(const nlohmann::ordered_json& j);

// Bad arguments: exit 2, the reason on standard error and, with --json, {"error": reason}
// on standard output, so standard output is always one JSON object.
CommandOutput stCommandUsageError(const std::string& strCommand, const std::string& strText, bool bJson);
