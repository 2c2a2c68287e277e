// A fresh set of process-wide objects around the main window, over a temporary program
// folder and an empty (fake) process list, so no real process is ever looked at or ended.
#pragma once

#include <gtest/gtest.h>

#include "host/USBUtility.h"
#include "host/WindowThread.h"
#include "platform/Clock.h"
#include "settings/Ini.h"
#include "support/FixedFilterDriver.h"
#include "support/RecordingView.h"
#include "support/TempDir.h"
#include "ui/MPToolDlg.h"

// The utility's folders for a test: the program folder, the process list and the run mark,
// all inside dir.
inline USBUtilityOptions stTestUtilityOptions(const TempDir& dir) {
  USBUtilityOptions o;
  o.strAppPath = dir.str();
  o.strProcRoot = dir.str() + "/proc";
  o.strRunMarkerPath = dir.str() + "/run.lock";
  return o;
}

// A driver the test sets, and the driver package's folders of the window inside dir, so the
// start-up check and the exit sequence never touch the machine's own.
inline void vUseTestDriver(CUSBUtility& utility, CMPToolDlg& dlg, FixedFilterDriver& driver,
                           const TempDir& dir) {
  utility.vSetFilterDriver(&driver);
  dlg.m_strDriverBase = dir.str() + "/tmp/";
  dlg.m_strPackageFolder = std::string(MPTOOL_BIN_DIR) + "/FilterDriver";
}

struct DlgFixture : testing::Test {
  TempDir dir;
  CScaledClock clock{0.001};
  CUSBUtility utility{clock, stTestUtilityOptions(dir)};
  Ini ini;
  RecordingView view;
  CWindowThread wt;
  CMPToolDlg dlg{utility, ini, view, wt, clock};
  FixedFilterDriver driver;
  DlgFixture() { vUseTestDriver(utility, dlg, driver, dir); }
};
