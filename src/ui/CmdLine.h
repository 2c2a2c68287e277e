// Reading the command line: joining, normalising, the "/DBG" option, the classification of
// the other options into a command-line mode, and the usage text. Pure functions; the main
// window's start-up applies their results.
#pragma once

#include <array>
#include <optional>
#include <string>

// The arguments after the program name joined by single blanks.
std::string strJoinArguments(int argc, const char* const* argv);
// Deletes every underscore, tab and newline; blanks stay.
std::string strNormaliseCmdLine(const std::string& strRaw);
std::string strTrimBlanks(const std::string& s);

// "/DBG" on the upper-cased command line: the text of the option (from the first "/DBG"
// up to the next option) is deleted from the command line, and what stands after "/DBG"
// is the level in hexadecimal.
struct DebugOption {
  std::string strCmdLine;    // the command line without the option
  std::string strLevelText;  // trimmed text after "/DBG"; empty gives level 0
};
DebugOption stSplitDebugOption(const std::string& strUpperCmdLine);

// Which option matched and what it carries.
enum class ECmdOption { None, Usage, CheckFW, RunSN, Run, LED, Speed, Protocol, CC, Chip };
struct CmdLineClass {
  ECmdOption eOption = ECmdOption::None;
  int nMode = -1;        // command-line mode; -1 when nothing matched
  std::string strValue;  // the option's trimmed value ("/C:", "/S:", "/LED:")
  std::array<int, 2> nLED{0, 0};
  bool bHideWindow = false;
  bool bShowUsage = false;
  std::optional<int> nExitCode;  // the process ends with this code
};
// Classifies a non-empty normalised, upper-cased command line.
CmdLineClass stClassifyCmdLine(const std::string& cmd);

// The usage text, after the version string and one blank.
std::string strUsageText(const std::string& strVersion);
