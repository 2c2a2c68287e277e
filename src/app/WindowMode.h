// Window mode: MPTool without an option, or with "/DBG", opens the operator's window (Qt 6
// Widgets) and runs the production engine behind it until the window closes.
#pragma once

#include <string>

#include "ui/MPToolDlg.h"

class CQtMainView;

// The process ends with this code when the window cannot open for want of a display.
constexpr int EXIT_NO_DISPLAY = -30;

// True when the command line (joined and normalised) opens the window: it is empty, or it
// holds "/DBG" in any case (then the other options are ignored).
bool bCmdLineOpensWindow(const std::string& strNormalisedCmdLine);
// Why no window can open with this environment (Qt platform, X and Wayland display
// variables), or empty when a display is named. A variable that is unset is passed null.
std::string strMissingDisplay(const char* pszPlatform, const char* pszDisplay, const char* pszWaylandDisplay);

// The whole window-mode process: checks for a display, starts Qt, puts the window's view
// under the main window's logic, runs start-up and the window. Returns the exit code.
int nRunWindowProcess(class CMPToolApp& app, CMPToolDlg& dlg, int argc, char** argv);

// Wires the engine behind the window's view and runs the window until it closes (the GUI
// thread is the calling thread, with a QApplication). Returns the exit code.
int nRunWindow(CMPToolDlg& dlg, CQtMainView& view);
