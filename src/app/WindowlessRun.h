// The window-less command-line modes: after the window's start-up (settings loaded, command
// line read) the engine scans; the first scan that finds target hubs carries out the mode.
//   "/S", "/S:"  auto mode presses Start; the run ends the process with 0 (every hub passed),
//                -1 (any failed), -3 (Start refused) or -4 (another number of hubs than
//                auto_mp_DevNum).
//   other modes  the command-line handler answers on the scan thread and ends the process
//                with its code (run/CmdLineHandler.h).
// Until a scan finds a target hub nothing happens: the process waits for a hub to arrive.
#pragma once

#include "ui/MPToolDlg.h"

// Runs the mode and returns the process exit code. The platform is chosen by PlatformSet:
// the simulated bench of MPTOOL_SIM, else this machine.
int nRunWithoutWindow(CMPToolDlg& dlg);
