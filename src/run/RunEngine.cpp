#include "run/RunEngine.h"

#include <cerrno>
#include <chrono>

#include "log/DebugLog.h"

CRunEngine::CRunEngine(CUSBUtility& utility, Ini& ini, DeviceList& devList, IRunDevices& devices,
                       IRunView& view, IWindowThread& window, IClock& clock)
    : m_utility(utility),
      m_ini(ini),
      m_devList(devList),
      m_devices(devices),
      m_view(view),
      m_window(window),
      m_clock(clock),
      m_table(view),
      m_stateChanges(clock) {}

CRunEngine::~CRunEngine() {
  m_bDevNotify = false;
  bDeleteAllThread();
  std::vector<ScanThread> scans;
  {
    CScopedLock l(m_threadsMutex);
    for (auto& s : m_scanThreads) s.t.request_stop();
    scans.swap(m_scanThreads);
  }
  scans.clear();  // joins
  CScopedLock l(m_timerMutex);
  vStopThread(m_timer);
}

bool CRunEngine::bConfigure(RunEngineConfig config) {
  bool bEventsStarted;
  {
    CScopedLock l(m_eventsMutex);
    bEventsStarted = m_bEventsStarted;
  }
  // The threads read the configuration without a lock: it changes only while none runs.
  if (bEventsStarted || m_bMainRunning || bAutoThreadExists() || !bScanIdle()) {
    vDEBUG_ERR_printf("CRunEngine::bConfigure",
                      "bConfigure: the engine's threads run, configuration not changed");
    return false;
  }
  m_config = std::move(config);
  return true;
}

bool CRunEngine::bOnWindow(std::function<void()> fn, std::stop_token st) {
  return m_window.bSend(std::move(fn), st);
}

void CRunEngine::vCell(int nSlot, int nColumn, const std::string& strText, uint8_t ucColour,
                       std::stop_token st) {
  bOnWindow(
      [this, nSlot, nColumn, strText, ucColour] {
        m_table.vUpdateMainResultItemTable(m_table.nRowOfSlot(m_devList, m_ini.m_pINI, nSlot), nColumn,
                                           strText, ucColour);
      },
      st);
}

void CRunEngine::vExit(int nCode) {
  vDEBUG_MSG_printf("CMPToolDlg::vExitProcess", "exit code %d", nCode);
  if (m_config.fnExitProcess)
    m_config.fnExitProcess(nCode);
  else
    m_window.vRequestExit(nCode);
}

void CRunEngine::OnBnClickedButtonClearcount() {
  m_table.OnBnClickedButtonClearcount(m_devList);
}

void CRunEngine::vStopThread(std::jthread& t) {
  if (!t.joinable()) return;
  t.request_stop();
  if (t.get_id() == std::this_thread::get_id())
    t.detach();  // a thread never waits for itself; it is ending anyway
  else
    t.join();
}

void CRunEngine::vSetThreadState(int nSlot, uint8_t ucState) {
  m_ChildInfo[nSlot].ucThreadState = ucState;
  m_stateChanges.vAnnounce();
}

bool CRunEngine::bRunThreadExists() const {
  CScopedLock l(m_threadsMutex);
  return m_pMainThread.joinable();
}

bool CRunEngine::bAutoThreadExists() const {
  CScopedLock l(m_threadsMutex);
  return m_pAutoThread.joinable();
}

bool CRunEngine::bDeleteAllThread() {
  try {
    std::jthread autoThread, mainThread;
    std::array<bool, MAX_DEV_RECORDS> bHadChild{};
    {
      // Stop requests first, under the lock, so that a run thread about to start its
      // workers sees the request; the waits follow outside the lock. The workers stay
      // where they are: a run thread joins them itself before it reads their records.
      CScopedLock l(m_threadsMutex);
      if (m_pAutoThread.joinable()) m_pAutoThread.request_stop();
      for (int i = 0; i < MAX_DEV_RECORDS; ++i) {
        bHadChild[i] = m_pChildThread[i].joinable();
        if (bHadChild[i]) m_pChildThread[i].request_stop();
      }
      if (m_pMainThread.joinable()) m_pMainThread.request_stop();
      autoThread = std::move(m_pAutoThread);
      mainThread = std::move(m_pMainThread);
    }
    if (autoThread.joinable()) {
      vStopThread(autoThread);
      vDEBUG_MSG_printf("CMPToolDlg::bDeleteAllThread", "bDeleteAllThread: m_pAutoThread , dwErrorCode %d",
                        0);
    }
    const bool bHadMain = mainThread.joinable();
    if (bHadMain) vStopThread(mainThread);
    // Workers the run thread did not join (none was running, or it ended first).
    std::array<std::jthread, MAX_DEV_RECORDS> children;
    {
      CScopedLock l(m_threadsMutex);
      children = std::move(m_pChildThread);
    }
    for (int i = 0; i < MAX_DEV_RECORDS; ++i) {
      const bool bLeft = children[i].joinable();
      vStopThread(children[i]);
      if (!bHadChild[i] && !bLeft) continue;
      vDEBUG_MSG_printf("CMPToolDlg::bDeleteAllThread",
                        "bDeleteAllThread: TerminateThread[%d] , dwErrorCode %d", i, 0);
    }
    if (bHadMain)
      vDEBUG_MSG_printf("CMPToolDlg::bDeleteAllThread",
                        "bDeleteAllThread: TerminateThread m_pMainThread , dwErrorCode %d", 0);
    return true;
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::bDeleteAllThread",
                      "bDeleteAllThread: ucWr_test_enable : %d , dwErrorCode %d",
                      m_ini.m_pINI.ucWr_test_enable, errno);
    return false;
  }
}

void CRunEngine::vInitialPrivateData() {
  try {
    bDeleteAllThread();
    m_devList = DeviceList{};
    for (auto& d : m_devList.dev) d.vFree();
    for (auto& c : m_ChildInfo) {
      c.ucTargetNumber = c.ucDevCount = c.ucReserved = c.ucTestItemCount = 0;
      c.fProgress = 0.0f;
      c.ucThreadState = CHILD_THREAD_IDLE;
    }
    m_MainInfo = MAIN_THREAD_INFO{};
    m_ucRunStatus = 0;
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::vInitialPrivateData",
                      "vInitialPrivateData: m_pDevList : %p , dwErrorCode %d", static_cast<void*>(&m_devList),
                      errno);
  }
}

bool CRunEngine::bWaitRunIdle(uint64_t ullRealMs) {
  CScopedLock l(m_idleMutex);
  return m_idleCv.wait_for(m_idleMutex, std::chrono::milliseconds(ullRealMs),
                           [&] { return !m_bMainRunning.load(); });
}
