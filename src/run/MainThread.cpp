// The run thread: one worker per selected hub, the wait for them, counting, the next
// serial number, the settings save, the rescan, the result log, pictures and bar colours.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "log/DebugLog.h"
#include "run/RunEngine.h"
#include "settings/SerialNumber.h"

namespace {
const char* L = "CMPToolDlg::MainThreadFun";

// The port path of a hub's filter device without its bus ("usb:2-1.4" gives "1.4"): the same
// for both halves of a USB 3 hub, which sit on two buses of one controller.
std::string strPortPath(const std::string& strObjectName) {
  const size_t ulDash = strObjectName.find('-');
  return ulDash == std::string::npos ? strObjectName : strObjectName.substr(ulDash + 1);
}

// The run slot of the hub a record of the rescan names: the one on the same bus and port
// path; failing that (a USB 3 hub back through its other half only), the only one on the
// same port path when no other record of either list has that path. -1: not in the run.
int nRunSlotOf(const DevRecord& d, const std::array<DevRecord, MAX_DEV_RECORDS>& run,
               const MAIN_THREAD_INFO& info, const DeviceList& now) {
  if (d.m_strHubObjectName.empty()) return -1;
  const std::string strPath = strPortPath(d.m_strHubObjectName);
  int nLoose = -1, nSamePath = 0;
  for (int i = 0; i < MAX_DEV_RECORDS; ++i) {
    if (info.ucSelected[i] != 1) continue;
    if (run[i].m_strHubObjectName == d.m_strHubObjectName) return i;
    if (strPortPath(run[i].m_strHubObjectName) == strPath) nLoose = i, ++nSamePath;
  }
  for (int s = 0; s < now.DevNums && s < MAX_DEV_RECORDS; ++s)
    if (&now.dev[s] != &d && strPortPath(now.dev[s].m_strHubObjectName) == strPath) ++nSamePath;
  return nSamePath == 1 ? nLoose : -1;
}
}  // namespace

bool CRunEngine::bHubPassed(const DevRecord& d) const {
  const DevListRunFlags& f = m_devList.flags;
  const DevResults& r = d.results;
  if (f.ucFw_enablel == 1 && r.ucUpdateResult == 0) return false;
  if (f.ucFw_reload == 1 && r.ucRelinkResult == 0) return false;
  if (f.ucFormat_enable == 1 && (r.ucPartitionResult != 1 || r.ucFormatResult != 1)) return false;
  if (f.ucWr_test_enable == 1 && r.ucWrTestResult == 0) return false;
  if (f.ucPreload_enable == 1 && r.ucPreloadResult == 0) return false;
  if (f.ucCheck_USBStatus_enable == 1 && r.ucUSBStatusResult == 0) return false;
  if (f.ucHDDCapacityCheck_enable == 1 && r.ucCapacityResult == 0) return false;
  // The descriptor check is not counted among the items, but a hub that failed it fails.
  if (f.ucConfig_Check == 1 && r.ucConfigCheckResult == 0) return false;
  return true;
}

int CRunEngine::MainThreadFun(std::stop_token st) {
  const MAIN_THREAD_INFO info = m_MainInfo;
  int nResult = 1;
  m_bRunStarted = true;
  // The run mark Start took: another copy started during the run leaves this one alone.
  const bool bMarked = m_bRunMarked.exchange(false);
  try {
    // 1.
    vUnRegisterDeviceNotification();
    // A walk that began before the Start ends first (its result is not taken): it may be
    // restarting hubs.
    while (m_bWalkActive && m_clock.bSleepMs(10, st)) {
    }
    // 2.
    for (auto& d : m_devList.dev) d.results = DevResults{};
    const std::array<DevRecord, MAX_DEV_RECORDS> before = m_devList.dev;
    bOnWindow(
        [this] {
          m_table.vClearMainResultSubItemStatusTable();
          m_view.vSetRunProgress(0);
        },
        st);
    // 3.
    {
      CScopedLock l(m_threadsMutex);
      for (int i = 0; i < MAX_DEV_RECORDS; ++i) {
        CHILD_THREAD_INFO& c = m_ChildInfo[i];
        c.ucTargetNumber = static_cast<uint8_t>(i);
        c.ucDevCount = info.ucDevCount;
        c.ucReserved = 0;
        c.fProgress = 0.0f;
        if (info.ucSelected[i] == 1 && !st.stop_requested()) {
          c.ucTestItemCount = info.ucTestItemCount;
          c.ucThreadState = CHILD_THREAD_RUN;
        } else {
          c.ucTestItemCount = 0;
          c.ucThreadState = CHILD_THREAD_IDLE;
        }
      }
      // States first, workers after: a worker looks at the others' states from its start.
      for (int i = 0; i < MAX_DEV_RECORDS; ++i) {
        if (m_ChildInfo[i].ucThreadState.load() != CHILD_THREAD_RUN) continue;
        if (m_pChildThread[i].joinable()) m_pChildThread[i].join();  // a worker of the last run
        m_pChildThread[i] = std::jthread([this, i](std::stop_token cst) { ChildThreadFun(cst, i); });
      }
    }
    // 4. Wait for the workers.
    auto vStopWorkers = [this] {
      CScopedLock l(m_threadsMutex);
      for (auto& c : m_pChildThread)
        if (c.joinable()) c.request_stop();
    };
    uint8_t ucBar = 0;
    m_stateChanges.vAnnounce();  // the states of this run are set
    // Passes are counted in whole polls; a worker's state change ends a poll early, so the
    // run's end is seen when its last worker finishes, not up to a poll later.
    for (uint32_t uPass = 0;;) {
      const uint64_t ullSeen = m_stateChanges.ullGeneration();
      ucBar = ucBar >= 100 ? 0 : ucBar + 1;
      float fSum = 0;
      int nFinished = 0;
      for (int i = 0; i < MAX_DEV_RECORDS; ++i) {
        if (info.ucSelected[i] != 1) continue;
        fSum += m_ChildInfo[i].fProgress.load();
        if (m_ChildInfo[i].ucThreadState.load() == CHILD_THREAD_FINISH) ++nFinished;
      }
      int nPercent = info.ucDevCount ? static_cast<int>(fSum / static_cast<float>(info.ucDevCount)) : 0;
      char sz[16];
      snprintf(sz, sizeof sz, "%3d %%", nPercent);
      std::string strPercent = sz;
      bOnWindow(
          [this, ucBar, strPercent] {
            m_view.vSetRunProgress(ucBar);
            m_view.vSetRunProgressText(strPercent);
          },
          st);
      if (nFinished >= info.ucDevCount) break;
      if (uPass >= m_config.timings.uMainMaxPasses) {
        for (int i = 0; i < MAX_DEV_RECORDS; ++i) {
          if (info.ucSelected[i] != 1) continue;
          if (m_ChildInfo[i].ucThreadState.load() == CHILD_THREAD_FINISH) continue;
          vDEBUG_MSG_printf(L, "MainThreadFun: TerminateThread[%d] , dwErrorCode %d", i, 0);
        }
        vStopWorkers();
        vDEBUG_MSG_printf(L, "MainThreadFun: TimeOut dwErrorCode %d", 0);
        break;
      }
      const CStateChanges::EWait eWait = m_stateChanges.eWait(m_config.timings.uMainPollMs, ullSeen, st);
      if (eWait == CStateChanges::EWait::Stopped) {
        // Stopped: the workers stop at their next wait, with the results they have.
        vStopWorkers();
        break;
      }
      if (eWait == CStateChanges::EWait::Elapsed) ++uPass;
    }
    // Every worker has ended before its record is read (a stopped one ends at its wait).
    {
      std::array<std::jthread, MAX_DEV_RECORDS> done;
      {
        CScopedLock l(m_threadsMutex);
        for (int i = 0; i < MAX_DEV_RECORDS; ++i)
          if (m_pChildThread[i].joinable()) done[i] = std::move(m_pChildThread[i]);
      }
      for (auto& t : done)
        if (t.joinable()) t.join();
    }
    vFinishRun(st, before);
  } catch (...) {
    {
      CScopedLock l(m_threadsMutex);
      for (int i = 0; i < MAX_DEV_RECORDS; ++i)
        if (info.ucSelected[i] == 1 && m_pChildThread[i].joinable()) {
          m_pChildThread[i].request_stop();
          vDEBUG_ERR_printf(L, "ChildThreadFun: TerminateThread[%d] , dwErrorCode %d", i, errno);
        }
    }
    vRegisterDeviceNotification();
    vDEBUG_ERR_printf(L, "MainThreadFun: dwErrorCode %d", errno);
    const bool bFail = m_ucRunStatus.load() == 2;
    bOnWindow([this, bFail] { m_view.vSetRunProgressColour(bFail ? RUN_RGB_RED : RUN_RGB_PURE_GREEN); }, st);
    nResult = 0;
  }
  // Without a window the process ends after the run: the mark stays until it has finished
  // with the hubs (the safe removal is waited for, every thread joined).
  if (bMarked && !bWindowless()) m_utility.vEndProductionRun();
  {
    CScopedLock l(m_idleMutex);
    m_bMainRunning = false;
  }
  m_idleCv.notify_all();
  return nResult;
}

void CRunEngine::vFinishRun(std::stop_token st, const std::array<DevRecord, MAX_DEV_RECORDS>& before) {
  const MAIN_THREAD_INFO info = m_MainInfo;
  INISettings& ini = m_ini.m_pINI;
  // 5.
  bOnWindow(
      [this, &ini] {
        m_view.vSetRunProgress(100);
        m_view.vSetControls(ini.ucAuto_mp == 1 ? ERunControls::AutoMode : ERunControls::Normal);
      },
      st);
  // 6. The serial number moved on at Start (bTakeRunSerialNumbers).
  // 7. Counting, on the window thread, where Clear also works on the counters.
  bOnWindow(
      [this, &info] {
        m_ucRunStatus = 1;
        for (int i = 0; i < MAX_DEV_RECORDS; ++i) {
          if (info.ucSelected[i] != 1) continue;
          if (bHubPassed(m_devList.dev[i])) {
            ++m_devList.m_dwPassCount;
          } else {
            ++m_devList.m_dwFailCount;
            m_ucRunStatus = 2;
          }
          ++m_devList.m_dwTotalCount;
          m_table.vShowCounters(m_devList);
        }
      },
      st);
  // 8. Rescan so that the log shows the hubs' new serial numbers, and the identity a hub
  // that was reset reports now. What is logged for each hub of the run is its own record;
  // the rescan only brings a new identity to a hub found again on the same port path.
  std::array<DevRecord, MAX_DEV_RECORDS> logged = m_devList.dev;
  bool bRescan = false;
  if (m_screen.strSerialNumber != "00000000000000000000")
    for (int i = 0; i < m_devList.DevNums && i < MAX_DEV_RECORDS; ++i)
      if (m_devList.dev[i].strSerialNumber == "00000000000000000000") bRescan = true;
  for (int i = 0; i < MAX_DEV_RECORDS; ++i)
    if (info.ucSelected[i] == 1 && m_devList.flags.ucFw_reload == 1 &&
        m_devList.dev[i].results.ucRelinkResult == 1)
      bRescan = true;
  if (bRescan) {
    vScanUSBPort(st, true);
    m_clock.bSleepMs(m_config.timings.uRescanWaitMs, st);
    bOnWindow([this, &info, &logged] { vRestoreRunResults(info, logged); }, st);
  }
  // 9. One log line per hub, in slot order. A run whose result is not on record fails.
  DeviceList logList;
  logList.dev = logged;
  int nLogError = 0;
  for (int i = 0; i < MAX_DEV_RECORDS; ++i)
    if (info.ucSelected[i] == 1 &&
        !m_ini.vLogMPResult(static_cast<uint8_t>(i), logList, m_utility.m_szAppPath))
      nLogError = m_ini.nLastFileError() ? m_ini.nLastFileError() : EIO;
  if (nLogError != 0) {
    const std::tm tmNow = m_ini.m_fnLocalTime ? m_ini.m_fnLocalTime() : std::tm{};
    const std::string strWhy = "MP result log " + Ini::strMPResultLogPath(m_utility.m_szAppPath, tmNow) +
                               " could not be written (" + std::strerror(nLogError) + "): the run fails";
    vDEBUG_ERR_printf(L, "%s", strWhy.c_str());
    m_ucRunStatus = 2;
    bOnWindow([this, strWhy] { m_utility.ShowProgramMSG(strWhy, MSG_TYPE_ERROR, MB_OK, bWindowless()); }, st);
  }
  // Line mode: the run's rows, beside the log.
  if (m_config.pLine != nullptr) vRecordLineRun(info, before, logged, m_ucRunStatus.load() == 2);
  // 10.
  m_clock.bSleepMs(m_config.timings.uNotifyWaitMs, st);
  vRegisterDeviceNotification();
  // 11.
  const bool bFail = m_ucRunStatus.load() == 2;
  bOnWindow(
      [this, bFail] {
        m_view.vShowPicture(bFail ? ERunPicture::Fail : ERunPicture::Pass, true);
        m_view.vSetRunProgressColour(bFail ? RUN_RGB_RED : RUN_RGB_PURE_GREEN);
      },
      st);
  // 12.
  if (ini.ucAuto_Safe_Remove == 1 && !st.stop_requested()) {
    if (m_clock.bSleepMs(static_cast<uint64_t>(std::max(0, ini.uiRemove_after_finish)) * 1000, st) &&
        m_config.fnSafelyRemove)
      bOnWindow(m_config.fnSafelyRemove, st);
  }
  // 13.
  if (bWindowless() && !st.stop_requested()) vExit(bFail ? EXIT_RUN_FAILED : EXIT_RUN_PASSED);
}

void CRunEngine::vRestoreRunResults(const MAIN_THREAD_INFO& info,
                                    std::array<DevRecord, MAX_DEV_RECORDS>& logged) {
  // logged holds the run's records on entry; a hub the rescan found again takes its results
  // with it, into the new list and into what is logged for it.
  const std::array<DevRecord, MAX_DEV_RECORDS> run = logged;
  std::array<bool, RESULT_ROWS> bRan{};
  for (int s = 0; s < m_devList.DevNums && s < MAX_DEV_RECORDS; ++s) {
    DevRecord& d = m_devList.dev[s];
    d.results = DevResults{};
    const int i = nRunSlotOf(d, run, info, m_devList);
    if (i < 0) continue;
    d.results = run[i].results;
    logged[i] = d;
    bRan[s] = true;
  }
  m_table.vRepaintSavedResults(CResultTable::stSaveResults(m_devList), m_devList, m_ini.m_pINI, bRan);
}

bool CRunEngine::bTakeRunSerialNumbers(uint8_t ucDevCount, std::string& strWhy) {
  INISettings& ini = m_ini.m_pINI;
  if (!bRunAdvancesSN(ini, m_utility.m_strFWFilePath)) return true;
  const std::string strRecordBefore = ini.ucSerial_number;
  const std::string strNext = strSerialNumberAfter(ini, m_screen.strSerialNumber, ucDevCount);
  ini.ucSerial_number = strNext.substr(0, INI_TEXT_MAX);
  // A command-line serial number belongs to that run alone: the settings file keeps its own.
  if (m_config.cmdLine.m_strCmdLineSN.empty()) {
    const std::string strPath = Ini::strDefaultINIPath(m_utility.m_szAppPath);
    if (!m_ini.vStoreINIFile(strPath)) {
      const int nErr = m_ini.nLastFileError();
      vDEBUG_MSG_printf(L, "vStoreINIFile FAIL , strSaveINIFilePath[%s] %d", strPath.c_str(), nErr);
      ini.ucSerial_number = strRecordBefore;
      strWhy = "The next serial number [" + strNext + "] could not be saved to " + strPath + " (" +
               std::strerror(nErr) + "): no hub was written";
      return false;
    }
  }
  m_screen.strSerialNumber = strNext;
  m_view.vSetSerialNumberBox(strNext);
  return true;
}
