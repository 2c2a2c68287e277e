// The window-less production run ("/S", "/S:"): the first scan that finds the hubs starts
// auto mode, auto mode presses Start, the run ends the process with 0 (every hub passed),
// -1 (any failed), -3 (Start refused) or -4 (another number of hubs than auto_mp_DevNum).
#pragma once

#include "ui/MPToolDlg.h"

// Runs the whole production after the window's start-up (settings loaded, command line
// read) and returns the exit code. With MPTOOL_SIM set the simulated bench of that file is
// the hardware.
int nRunProductionWithoutWindow(CMPToolDlg& dlg);
