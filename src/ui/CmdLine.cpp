#include "ui/CmdLine.h"

#include "run/CmdLineHandler.h"
#include "ui/MPToolDlg.h"

std::string strJoinArguments(int argc, const char* const* argv) {
  std::string s;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) s += ' ';
    s += argv[i];
  }
  return s;
}

std::string strNormaliseCmdLine(const std::string& strRaw) {
  std::string s;
  s.reserve(strRaw.size());
  for (char c : strRaw)
    if (c != '_' && c != '\t' && c != '\n') s += c;
  return s;
}

std::string strTrimBlanks(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

namespace {
void vEraseAll(std::string& s, const std::string& what) {
  if (what.empty()) return;
  for (size_t p; (p = s.find(what)) != std::string::npos;) s.erase(p, what.size());
}
}  // namespace

DebugOption stSplitDebugOption(const std::string& strUpperCmdLine) {
  DebugOption d;
  d.strCmdLine = strUpperCmdLine;
  size_t p = strUpperCmdLine.find("/DBG");
  if (p == std::string::npos) return d;
  std::string strTail = strUpperCmdLine.substr(p);
  size_t nLastSlash = strTail.rfind('/');
  if (nLastSlash != std::string::npos && nLastSlash > 0) strTail.resize(nLastSlash);
  vEraseAll(d.strCmdLine, strTail);
  vEraseAll(strTail, "/DBG");
  d.strLevelText = strTrimBlanks(strTail);
  return d;
}

CmdLineClass stClassifyCmdLine(const std::string& cmd) {
  CmdLineClass r;
  const size_t n = cmd.size();
  auto has = [&](const char* k) { return cmd.find(k) != std::string::npos; };
  auto after = [&](const char* k, size_t nKey) { return cmd.substr(cmd.find(k) + nKey); };
  if (has("/?") && n == 2) {
    r.eOption = ECmdOption::Usage;
    r.nMode = CMDLINE_MODE_USAGE;
    r.bShowUsage = true;
    r.nExitCode = 0;
  } else if (has("/C:") && n == 15) {
    r.eOption = ECmdOption::CheckFW;
    r.strValue = strTrimBlanks(after("/C:", 3).substr(0, 12));
    if (r.strValue.empty())
      r.nExitCode = -10;
    else
      r.nMode = CMDLINE_CHECK_FW;
  } else if (has("/S:") && n >= 11 && n <= 23) {
    r.eOption = ECmdOption::RunSN;
    r.bHideWindow = true;
    r.strValue = strTrimBlanks(after("/S:", 3));
    if (r.strValue.size() > 20)
      r.nExitCode = -10;
    else
      r.nMode = CMDLINE_RUN_SN;
  } else if (has("/S") && n == 2) {
    r.eOption = ECmdOption::Run;
    r.bHideWindow = true;
    r.nMode = CMDLINE_RUN;
  } else if (has("/LED:") && n == 7) {
    r.eOption = ECmdOption::LED;
    r.bHideWindow = true;
    r.strValue = strTrimBlanks(after("/LED:", 5));
    const std::string& v = r.strValue;
    if (v.size() != 2 || (v[0] != '0' && v[0] != '1') || (v[1] != '0' && v[1] != '1')) {
      r.nExitCode = -10;
    } else {
      r.nLED = {v[0] - '0', v[1] - '0'};
      r.nMode = CMDLINE_LED;
    }
  } else if (has("/SPD") && n == 4) {
    r.eOption = ECmdOption::Speed;
    r.nMode = CMDLINE_SPEED;
  } else if (has("/PROT") && n == 5) {
    r.eOption = ECmdOption::Protocol;
    r.nMode = CMDLINE_PROTOCOL;
  } else if (has("/CC") && n == 3) {
    r.eOption = ECmdOption::CC;
    r.nMode = CMDLINE_CC;
  } else if (has("/IC") && n == 3) {
    r.eOption = ECmdOption::Chip;
    r.nMode = CMDLINE_CHIP;
  } else {
    r.bShowUsage = true;
    r.nExitCode = -10;
  }
  return r;
}

std::string strUsageText(const std::string& strVersion) {
  return strVersion + " " +
         "command line usage: VLN725xMPTool [ /?, /DBG, /S, /S:SN, /C:FW, /LED:xx, /SPD, "
         "/PROT, /CC, /IC ] \r\n"
         "OPTIONS:\r\n"
         " /DBG\tSet Debug Message Level (0-4)\r\n"
         " /S\tExecute the MP tool without GUI\r\n"
         " /S:SN\tExecute the MP tool without GUI, and update SN\r\n"
         " /C:FW\tCheck FW version if equal input FW\r\n"
         " /LED:xx\tSet LED status\r\n"
         " /SPD\tGet USB speed\r\n"
         " /PROT\tGet USB protocol\r\n"
         " /CC\tGet USB CC orientation\r\n"
         " /IC\tGet chip name\r\n";
}
