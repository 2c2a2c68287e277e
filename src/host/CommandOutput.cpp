#include "host/CommandOutput.h"

std::string strDumpCommandJson(const nlohmann::ordered_json& j) {
  return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

CommandOutput stCommandUsageError(const std::string& strCommand, const std::string& strText, bool bJson) {
  CommandOutput r;
  r.nExitCode = 2;
  r.strErr = "mptool-util " + strCommand + ": " + strText + "\n";
  if (bJson) r.strOut = strDumpCommandJson(nlohmann::ordered_json{{"error", strText}});
  return r;
}
