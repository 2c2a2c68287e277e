// The application object: reads the command line, runs the main window's start-up, and
// hands over to the window (or, without one, to the window-less run).
#pragma once

#include <functional>
#include <memory>

#include "app/WindowlessRun.h"
#include "platform/DeviceState.h"
#include "ui/MPToolDlg.h"

class CMPToolApp {
 public:
  explicit CMPToolApp(CMPToolDlg& dlg) : m_dlg(dlg) {}
  // Returns the process exit code (where start-up did not end the process already).
  int nRun(int argc, const char* const* argv);
  // What runs a window-less mode after start-up; start-up tests put their own here.
  std::function<int(CMPToolDlg&)> m_fnRunWithoutWindow = nRunWithoutWindow;
  // What runs the window after start-up in window mode (set where the window exists).
  std::function<int(CMPToolDlg&)> m_fnRunWindow;

 private:
  CMPToolDlg& m_dlg;
  // The platform's filter driver state, made here when the utility has none yet.
  std::unique_ptr<IFilterDriverStatus> m_pFilterDriver;
};
