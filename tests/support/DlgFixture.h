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

struct DlgFixture : testing::Test {
  TempDir dir;
  CScaledClock clock{0.001};
  CUSBUtility utility{clock, [&] {
                        USBUtilityOptions o;
                        o.strAppPath = dir.str();
                        o.strProcRoot = dir.str() + "/proc";
                        o.strRunMarkerPath = dir.str() + "/run.lock";
                        return o;
                      }()};
  Ini ini;
  RecordingView view;
  CWindowThread wt;
  CMPToolDlg dlg{utility, ini, view, wt, clock};
  FixedFilterDriver driver;
  DlgFixture() {
    utility.vSetFilterDriver(&driver);
    dlg.m_strDriverBase = dir.str() + "/tmp/";
    dlg.m_strPackageFolder = std::string(MPTOOL_BIN_DIR) + "/FilterDriver";
  }
};
