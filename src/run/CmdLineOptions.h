// What the command line asked for, as the main window's start-up reads it into its
// command-line fields: the mode, whether a window shows, and the values of "/C:", "/S:" and
// "/LED:". Set during start-up and read-only afterwards; the window, the run engine and the
// command-line handler all go by this one value rather than by copies of its fields.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// Command-line modes (m_nCmdLineMode).
constexpr int32_t CMDLINE_CHECK_FW = 1;
constexpr int32_t CMDLINE_RUN = 2;
constexpr int32_t CMDLINE_RUN_SN = 3;
constexpr int32_t CMDLINE_LED = 4;
constexpr int32_t CMDLINE_SPEED = 5;
constexpr int32_t CMDLINE_PROTOCOL = 6;
constexpr int32_t CMDLINE_CC = 7;
constexpr int32_t CMDLINE_CHIP = 8;

// The production modes: the only ones that switch auto mode on.
inline bool bCmdLineRunsProduction(int32_t nMode) {
  return nMode == CMDLINE_RUN || nMode == CMDLINE_RUN_SN;
}

struct CmdLineOptions {
  int32_t m_nCmdLineMode = -1;                  // -1 window mode, 0 usage shown, above 0 a window-less mode
  int32_t m_bShowGUI = 1;                       // 0 in every mode given on the command line
  std::string m_strCmdLineFW;                   // "/C:" version, upper case
  std::string m_strCmdLineSN;                   // "/S:" serial number
  std::array<int32_t, 2> m_ucCmdLineLED{0, 0};  // "/LED:" values, each 0 or 1
};
