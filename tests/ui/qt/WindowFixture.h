// A main window over the real widgets with a fresh set of process-wide objects around it,
// in a temporary program folder with an empty (fake) process list.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QWidget>
#include <functional>

#include "host/USBUtility.h"
#include "host/WindowThread.h"
#include "platform/Clock.h"
#include "settings/Ini.h"
#include "support/DlgFixture.h"
#include "support/TempDir.h"
#include "ui/ControlIds.h"
#include "ui/MPToolDlg.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/QtMainView.h"

struct WindowFixture : testing::Test {
  TempDir dir;
  CScaledClock clock{0.0005};
  CUSBUtility utility{clock, stTestUtilityOptions(dir)};
  Ini ini;
  CWindowThread wt;
  CQtMainView view{wt};
  CMPToolDlg dlg{utility, ini, view, wt, clock};
  FixedFilterDriver driver;
  WindowFixture() { vUseTestDriver(utility, dlg, driver, dir); }

  QWidget* w(int nId) { return view.pControl(nId); }
  bool bEnabled(int nId) { return w(nId) && w(nId)->isEnabled(); }
  // Runs the event loop until the condition holds or the real-time limit passes.
  static bool bWaitFor(const std::function<bool()>& fnDone, int nLimitMs = 20000) {
    QElapsedTimer t;
    t.start();
    while (!fnDone()) {
      if (t.elapsed() > nLimitMs) return false;
      QTest::qWait(5);
    }
    return true;
  }
};
