// Scanning, auto mode and device-change handling.
#include <cerrno>

#include "host/IMessageView.h"
#include "log/DebugLog.h"
#include "run/CmdLineOptions.h"
#include "run/RunEngine.h"
#include "settings/SerialNumber.h"

namespace {

// What a scan brings into the device list; counters, run flags and the firmware name stay.
void vTakeScan(DeviceList& to, const DeviceList& from) {
  to.DevNums = from.DevNums;
  to.ucSkipWalk = from.ucSkipWalk;
  to.dev = from.dev;
  to.m_MaxHubDepth = from.m_MaxHubDepth;
  to.ucReMarkedDepth = from.ucReMarkedDepth;
  to.m_DriverNum = from.m_DriverNum;
  to.ucUnidentified = from.ucUnidentified;
  to.drv = from.drv;
  to.strTargetVID = from.strTargetVID;
}
}  // namespace

bool CRunEngine::bScanIdle() const {
  CScopedLock l(m_threadsMutex);
  for (const auto& s : m_scanThreads)
    if (!s.pDone->load()) return false;
  return true;
}

void CRunEngine::TriggerScanThread() {
  try {
    // 1.
    if (m_utility.m_bScanWaiting) {
      vDEBUG_MSG_printf("CMPToolDlg::TriggerScanThread",
                        "  Already waiting for criticalsection...Exit!!!, dwErrorCode =%d", 0);
      return;
    }
    // A scan rewrites the device records the workers of a run are using.
    if (m_bMainRunning) {
      vDEBUG_MSG_printf("CMPToolDlg::TriggerScanThread", "TriggerScanThread: a run is in progress, no scan");
      return;
    }
    // 2.
    bOnWindow([this] {
      m_view.vEnableStart(false);
      m_table.vResetRunProgress();
    });
    // 3.
    if (!bScanIdle()) {
      vDEBUG_MSG_printf("CMPToolDlg::TriggerScanThread",
                        "  ScanThreadFun is running...Exit!!!, dwErrorCode =%d", 0);
      m_utility.m_bScanInterrupt = true;
    }
    // 4.
    m_clock.bSleepMs(m_config.timings.uScanTriggerWaitMs);
    // 5.
    m_ucScanStatus = 1;
    std::vector<ScanThread> finished;
    {
      CScopedLock l(m_threadsMutex);
      for (auto it = m_scanThreads.begin(); it != m_scanThreads.end();) {
        if (it->pDone->load()) {
          finished.push_back(std::move(*it));
          it = m_scanThreads.erase(it);
        } else {
          ++it;
        }
      }
      ScanThread s;
      s.pDone = std::make_shared<std::atomic<bool>>(false);
      auto pDone = s.pDone;
      s.t = std::jthread([this, pDone](std::stop_token st) {
        ScanThreadFun(st);
        pDone->store(true);
      });
      m_scanThreads.push_back(std::move(s));
    }
    finished.clear();  // joins threads that have ended
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::TriggerScanThread", "TriggerScanThread: dwErrorCode %d", errno);
  }
}

void CRunEngine::vTimerFun(std::stop_token st) {
  while (m_clock.bSleepMs(m_config.timings.uScanTimerMs, st))
    if (!m_window.bSend([this] { OnTimer(2); }, st)) break;
}

void CRunEngine::OnTimer(int nTimerId) {
  if (nTimerId != 2) return;
  uint8_t uc = m_utility.ucGetProgress();
  if (uc >= 100) {
    uc = 0;
    m_utility.vSetProgress(0);
  }
  m_view.vSetScanProgress(uc);
}

int CRunEngine::ScanThreadFun(std::stop_token st) {
  const char* LS = "CMPToolDlg::ScanThreadFun";
  bool bLocked = false;
  try {
    // 1. One scan at a time; at most one more waits.
    m_utility.m_bScanWaiting = true;
    while (!st.stop_requested() && !(bLocked = m_utility.m_ScanCriticalSection.try_lock()))
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    m_utility.m_bScanWaiting = false;
    if (!bLocked) return 1;
    // 2.
    {
      CScopedLock l(m_timerMutex);
      m_timer = std::jthread([this](std::stop_token tst) { vTimerFun(tst); });
    }
    vDEBUG_MSG_printf(LS, " Start Scan USB Port , dwErrorCode= %d", 0);
    // 3.
    vScanUSBPort(st);
    // 4.
    {
      CScopedLock l(m_timerMutex);
      vStopThread(m_timer);
    }
    bOnWindow(
        [this] {
          m_view.vSetScanProgress(100);
          m_view.vEnableStart(true);
        },
        st);
    m_ucScanStatus = 8;
    m_utility.m_bScanInterrupt = false;
    int nDevNums = 0;
    uint8_t ucType = 0;
    bOnWindow(
        [&] {
          nDevNums = m_devList.DevNums;
          ucType = m_ini.m_pINI.ucSN_EditType;
        },
        st);
    // 5. The command-line handler belongs to the scan it answers: it keeps the lock, so a
    // scan requested meanwhile waits for it instead of walking the hubs it talks to or
    // running a second handler beside it.
    if (nDevNums != 0 && m_config.cmdLine.m_nCmdLineMode > 0 && m_config.fnCmdLineHandler &&
        !st.stop_requested())
      m_config.fnCmdLineHandler();
    m_utility.m_ScanCriticalSection.unlock();
    bLocked = false;
    // 6.
    if (nDevNums != 0 && ucType == SN_EDIT_BARCODE && !st.stop_requested()) {
      vDEBUG_MSG_printf(LS, "OpenSNAndPStringEnteringDialog: this->m_ToolsDevList.DevNums : %i", nDevNums);
      bOnWindow(
          [this] {
            if (OpenSNAndPStringEnteringDialog()) OnBnClickedButtonStart();
          },
          st);
    }
    return 1;
  } catch (...) {
    vDEBUG_ERR_printf(LS, " catch error , dwErrorCode= %d", errno);
    {
      CScopedLock l(m_timerMutex);
      vStopThread(m_timer);
    }
    m_utility.m_bScanWaiting = false;
    if (bLocked) m_utility.m_ScanCriticalSection.unlock();
    return 0;
  }
}

bool CRunEngine::vScanUSBPort(std::stop_token st, bool bRunRescan) {
  const char* LS = "CMPToolDlg::vScanUSBPort";
  try {
    // 1.
    if (m_utility.m_bRemovingUSB) return true;
    // A scan queued before a run started must not rewrite the records its workers use, nor
    // restart hubs under them.
    {
      CScopedLock w(m_walkMutex);
      if (m_bMainRunning && !bRunRescan) return true;
      m_bWalkActive = true;
    }
    struct WalkEnd {
      std::atomic<bool>& b;
      ~WalkEnd() { b = false; }
    } walkEnd{m_bWalkActive};
    // 2. The walk works on a copy; the window thread takes the result in one step, so
    // nobody ever sees a half-filled list.
    DeviceList scan;
    INISettings ini;
    if (!bOnWindow(
            [&] {
              scan = m_devList;
              ini = m_ini.m_pINI;
              scan.strTargetVID = m_screen.strVID;
            },
            st))
      return true;
    scan.ucSkipWalk = 0;
    // 3.
    m_devices.bScanUSB(scan, ini);
    // A hub entry that a failed request kept from being identified: no device event will
    // come for a hub that is already there, so look again (a few times, after a pause)
    // before the result stands.
    for (uint32_t uTry = 1; scan.ucUnidentified != 0 && uTry <= m_config.timings.uScanRetries; ++uTry) {
      vDEBUG_MSG_printf(LS, "vScanUSBPort: %d hub entries not identified, scan again [%u/%u]",
                        scan.ucUnidentified, uTry, m_config.timings.uScanRetries);
      if (!m_clock.bSleepMs(m_config.timings.uScanRetryMs, st)) return true;
      m_devices.bScanUSB(scan, ini);
    }
    m_bWalkActive = false;
    int nDevNums = 0;
    uint8_t ucAuto = 0;
    // 4. / 5.
    if (!bOnWindow(
            [&] {
              if (m_bMainRunning && !bRunRescan) return;
              vTakeScan(m_devList, scan);
              m_table.vUpdateMainResultSubItemTable(true, m_devList, m_ini.m_pINI);
              // Without a window the command line decides auto mode: the production modes
              // switch it on; every other mode switches it off, so a query never starts a
              // run beside itself (whatever the settings file says).
              if (bWindowless())
                m_ini.m_pINI.ucAuto_mp = bCmdLineRunsProduction(m_config.cmdLine.m_nCmdLineMode) ? 1 : 0;
              nDevNums = m_devList.DevNums;
              ucAuto = m_ini.m_pINI.ucAuto_mp;
            },
            st))
      return true;
    // 6.
    if (bRunRescan) return true;
    if (nDevNums != 0) {
      vDEBUG_MSG_printf(LS, "Run vTriggetAutoThread");
      bOnWindow([this] { vTriggetAutoThread(); }, st);
    } else {
      bOnWindow(
          [this, ucAuto] {
            m_view.vSetControls(ucAuto == 1 ? ERunControls::AutoMode : ERunControls::Normal);
          },
          st);
    }
    return true;
  } catch (...) {
    vDEBUG_ERR_printf(LS, "vScanUSBPort:  dwErrorCode %d", errno);
    return false;
  }
}

void CRunEngine::vTriggetAutoThread() {
  const char* LA = "CMPToolDlg::vTriggetAutoThread";
  const INISettings& ini = m_ini.m_pINI;
  try {
    const bool bRD = m_view.bRDMode();
    if (!bAutoThreadExists() && ini.ucAuto_mp == 1 && !bRD && ini.ucSN_EditType != SN_EDIT_BARCODE) {
      bDeleteAllThread();
      CScopedLock l(m_threadsMutex);
      m_pAutoThread = std::jthread([this](std::stop_token st) { AutoThreadFun(st); });
    } else {
      vDEBUG_MSG_printf(
          LA, " ucAuto_mp[%d] , RDMode[%d] , pIni.m_pINI.ucSN_EditType= %d exit vTriggetAutoThread()!!!!",
          ini.ucAuto_mp, bRD ? 1 : 0, ini.ucSN_EditType);
    }
  } catch (...) {
    vDEBUG_ERR_printf(LA, "vTriggetAutoThread: ucAuto_mp[%d] , RDMode[%d] , dwErrorCode %d", ini.ucAuto_mp, 0,
                      errno);
  }
}

int CRunEngine::AutoThreadFun(std::stop_token st) {
  const char* LA = "CMPToolDlg::AutoThreadFun";
  try {
    while (!st.stop_requested()) {
      int nDevNums = 0;
      uint8_t ucWant = 0, ucAuto = 0;
      if (!bOnWindow(
              [&] {
                nDevNums = m_devList.DevNums;
                ucWant = m_ini.m_pINI.ucAuto_mp_DevNum;
                ucAuto = m_ini.m_pINI.ucAuto_mp;
              },
              st))
        break;
      // A window-less process makes one run; its end ends the process.
      const bool bRunStarted = bRunThreadExists() || (bWindowless() && m_bRunStarted);
      if (nDevNums != 0 && nDevNums == ucWant) {
        if (!bRunStarted) {
          bOnWindow([this] { OnBnClickedButtonStart(); }, st);
          if (!m_clock.bSleepMs(m_config.timings.uAutoPollMs, st)) break;
          if (!m_clock.bSleepMs(m_config.timings.uAutoPollMs, st)) break;
        } else if (m_bMainRunning) {
          if (!m_clock.bSleepMs(m_config.timings.uAutoPollMs, st)) break;
        } else {
          vDEBUG_MSG_printf(
              LA,
              "AutoThreadFun: Not Running dwThreadExitCode : %d , DevNums[%d]  ,  ucAuto_mp[%d] , "
              "dwErrorCode %d",
              1, nDevNums, ucAuto, 0);
          if (!m_clock.bSleepMs(m_config.timings.uAutoPollMs, st)) break;
        }
        continue;
      }
      // The count decides a run before its Start only. A scan during or after a run (its
      // own rescan, hubs still on their way back from their resets) neither stops a run
      // in progress nor ends a window-less process whose run has started: that run ends
      // the process itself with its own result.
      if (m_bMainRunning || (bWindowless() && bRunStarted)) {
        if (!m_clock.bSleepMs(m_config.timings.uAutoPollMs, st)) break;
        continue;
      }
      if (bWindowless()) {
        m_utility.ShowProgramMSG("None of Velnor device was found!!", MSG_TYPE_WARNING, MB_OK, true);
        vExit(EXIT_HUB_COUNT);
        break;
      }
      if (bRunStarted) {
        // Stops the run (its workers end at their next wait), so that the next matching
        // set of hubs starts a new one.
        bOnWindow(
            [this] {
              std::jthread t, children[MAX_DEV_RECORDS];
              {
                CScopedLock l(m_threadsMutex);
                for (auto& c : m_pChildThread)
                  if (c.joinable()) c.request_stop();
                m_pMainThread.request_stop();
                t = std::move(m_pMainThread);
              }
              vStopThread(t);
              vDEBUG_MSG_printf("CMPToolDlg::AutoThreadFun",
                                "AutoThreadFun: TerminateThread m_pMainThread , dwErrorCode %d", 0);
            },
            st);
      }
      vDEBUG_MSG_printf(LA, "AutoThreadFun: DevNums[%d] > ucAuto_mp[%d] , dwErrorCode %d", nDevNums, ucWant,
                        0);
      if (!m_clock.bSleepMs(m_config.timings.uAutoPollMs, st)) break;
    }
    return 1;
  } catch (...) {
    vDEBUG_ERR_printf(LA, "AutoThreadFun: ucAuto_mp:%d , dwErrorCode %d", m_ini.m_pINI.ucAuto_mp, errno);
    return 0;
  }
}

bool CRunEngine::OpenSNAndPStringEnteringDialog() {
  m_bSNDialogOpen = true;
  std::string strSN;
  bool bOk = m_view.bRunSNDialog(strSN);
  m_screen.strSerialNumber = strSN;
  m_view.vSetSerialNumberBox(strSN);
  m_bSNDialogOpen = false;
  return bOk;
}

void CRunEngine::vRegisterDeviceNotification() {
  try {
    {
      CScopedLock l(m_eventsMutex);
      if (m_config.pEvents && !m_bEventsStarted) {
        // Events arrive on the source's thread; they are handed to the window thread without
        // waiting, since the window thread may be busy stopping that very source.
        m_bEventsStarted = m_config.pEvents->bStart([this](const DeviceEvent& ev) {
          m_window.vPost([this, ev] {
            if (m_bDevNotify) OnUSBDeviceChange(ev);
          });
        });
        if (!m_bEventsStarted)
          vDEBUG_ERR_printf("CMPToolDlg::vRegisterDeviceNotification",
                            "vRegisterDeviceNotification: RegisterDeviceNotification Fail:%d ", errno);
      }
    }
    m_bDevNotify = true;
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::vRegisterDeviceNotification",
                      "vRegisterDeviceNotification , dwErrorCode %d", errno);
  }
}

void CRunEngine::vUnRegisterDeviceNotification() {
  m_bDevNotify = false;
}

int CRunEngine::OnUSBDeviceChange(const DeviceEvent& ev) {
  const char* LD = "CMPToolDlg::OnUSBDeviceChange";
  try {
    if (m_bSNDialogOpen) return 0;
    const INISettings& ini = m_ini.m_pINI;
    if (ev.eAction == EDeviceAction::Arrival) {
      vDEBUG_MSG_printf(LD, "OnUSBDeviceChange: DBT_DEVICEARRIVAL , dbcc_name:%s dbcc_classguid:%s  ",
                        ev.strName.c_str(), pszDeviceClassName(ev.eClass));
      if (m_utility.m_bRemovingUSB) return 0;
      if (ev.eClass == EDeviceClass::Volume && ini.ucCd_rom_mode == 0) return 0;
      if (!bRunThreadExists()) {
        TriggerScanThread();
      } else if (m_bMainRunning) {
        return 0;
      } else {
        TriggerScanThread();
        if (m_devList.DevNums != 0 && ini.ucSN_EditType == SN_EDIT_BARCODE) {
          vDEBUG_MSG_printf(LD, "OpenSNAndPStringEnteringDialog: this->m_ToolsDevList.DevNums : %i",
                            m_devList.DevNums);
          if (OpenSNAndPStringEnteringDialog()) OnBnClickedButtonStart();
        }
      }
    } else {
      vDEBUG_MSG_printf(LD, "OnUSBDeviceChange: DBT_DEVICEREMOVECOMPLETE , dbcc_name:%s dbcc_classguid:%s  ",
                        ev.strName.c_str(), pszDeviceClassName(ev.eClass));
      if (m_utility.m_bRemovingUSB) return 0;
      if (bRunThreadExists()) {
        m_view.vShowPicture(ERunPicture::Pass, false);
        m_view.vShowPicture(ERunPicture::Fail, false);
        if (m_bMainRunning) return 0;
      }
      TriggerScanThread();
    }
  } catch (...) {
    vDEBUG_ERR_printf(LD, "OnUSBDeviceChange , dwErrorCode %d", errno);
  }
  return 0;
}
