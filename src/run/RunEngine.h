// The production-run engine of the main window: the Start handler and its pre-checks, the
// run thread, the per-hub workers, scanning, auto mode, device-change handling and the
// result table. The main window (CMPToolDlg) owns one and forwards its handlers to it; the
// window-less production run drives it the same way.
//
// Threads are std::jthread. Stopping a thread means a stop request: every wait of the
// engine is a stop-aware wait on the injected clock, so a stopped thread ends at its next
// wait with the results it has; nothing is killed while it holds the reset lock or is in the
// middle of a flash write. Thread objects are created and stopped on the window thread (or
// under m_threadsMutex where a run thread starts its workers).
#pragma once

#include <array>
#include <condition_variable>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/DeviceList.h"
#include "host/USBUtility.h"
#include "platform/Clock.h"
#include "platform/DeviceEvents.h"
#include "run/IRunDevices.h"
#include "run/IRunView.h"
#include "run/ResultTable.h"
#include "settings/Ini.h"

// Worker states.
constexpr uint8_t CHILD_THREAD_IDLE = 0;
constexpr uint8_t CHILD_THREAD_RUN = 1;
constexpr uint8_t CHILD_THREAD_RST_READY = 4;
constexpr uint8_t CHILD_THREAD_RST_DONE = 5;
constexpr uint8_t CHILD_THREAD_FINISH = 8;

// Per device slot; the run thread fills it, the worker updates its own entry, everybody
// reads the states without a lock (hence atomics).
struct CHILD_THREAD_INFO {
  uint8_t ucTargetNumber = 0;
  uint8_t ucDevCount = 0;
  uint8_t ucReserved = 0;
  std::atomic<float> fProgress{0.0f};
  uint8_t ucTestItemCount = 0;
  std::atomic<uint8_t> ucThreadState{CHILD_THREAD_IDLE};
};

struct MAIN_THREAD_INFO {
  std::array<uint8_t, MAX_DEV_RECORDS> ucSelected{};
  uint8_t ucDevCount = 0;
  uint8_t ucReserved = 0;
  uint8_t ucTestItemCount = 0;
};

// Exit codes the engine ends a window-less run with.
constexpr int EXIT_RUN_PASSED = 0;
constexpr int EXIT_RUN_FAILED = -1;
constexpr int EXIT_START_REFUSED = -3;
constexpr int EXIT_HUB_COUNT = -4;

// What a Start came to.
enum class EStartResult {
  Started,
  Refused,         // the run did not start (window mode, or nothing to exit for)
  ExitRequested,   // command-line mode: the reason went to "ProgramMSG.txt", exit -3 asked
};

// Timings of the engine, in tool milliseconds (scaled by the clock).
struct RunTimings {
  uint32_t uMainPollMs = 500;         // run thread's pass
  uint32_t uMainMaxPasses = 65536;    // run thread's overall time-out, in passes
  uint32_t uResetPollMs = 500;        // worker: wait before looking at the others
  uint32_t uResetRetryMs = 300;       // worker: wait before looking again
  uint32_t uResetReadyTimeoutMs = 40000;  // worker: no progress of the others for this long
  uint32_t uResetHoldMs = 2000;       // reset lock held after the reset request
  uint32_t uDepthWaitMs = 250;        // per depth after the reset
  uint32_t uReturnTimeoutMs = 20000;  // hub back on its port after the reset
  uint32_t uReturnPollMs = 100;
  uint32_t uRescanWaitMs = 500;
  uint32_t uScanRetryMs = 500;  // pause before a scan that could not identify a hub looks again
  uint32_t uScanRetries = 3;    // that many times at most
  uint32_t uNotifyWaitMs = 1000;
  uint32_t uAutoPollMs = 500;
  uint32_t uScanTriggerWaitMs = 500;
  uint32_t uScanTimerMs = 80;
  uint32_t uRunMarkWaitMs = 2000;  // Start: wait for the run mark another copy holds briefly
};

class CRunEngine {
 public:
  CRunEngine(CUSBUtility& utility, Ini& ini, DeviceList& devList, IRunDevices& devices, IRunView& view,
             IWindowThread& window, IClock& clock);
  ~CRunEngine();
  CRunEngine(const CRunEngine&) = delete;
  CRunEngine& operator=(const CRunEngine&) = delete;

  // ---- wiring (before the first scan) ----
  int32_t m_bShowGUI = 1;
  int32_t m_nCmdLineMode = -1;   // above 0: a command-line mode
  std::string m_strCmdLineSN;
  RunScreen m_screen;            // the window's fields the run reads and writes
  RunTimings m_timings;
  // Ends the process with a code (command-line modes). Default: the window thread's exit.
  std::function<void(int)> m_fnExitProcess;
  // Carries out the command-line mode after a scan that found hubs (modes other than runs).
  std::function<void()> m_fnCmdLineHandler;
  // The Safely Remove command, sent after a run with automatic safe removal.
  std::function<void()> m_fnSafelyRemove;
  // Source of device-change events; registration starts it on first use. Not owned.
  void vSetDeviceEvents(IDeviceEvents* pEvents) { m_pEvents = pEvents; }

  // ---- result table (window thread) ----
  CResultTable& table() { return m_table; }
  void vSetMainResultItemTable() { m_table.vSetMainResultItemTable(); }
  void OnBnClickedButtonClearcount();

  // ---- run ----
  EStartResult OnBnClickedButtonStart();
  bool bDeleteAllThread();
  void vInitialPrivateData();
  bool bRunThreadExists() const;
  bool bRunThreadRunning() const { return m_bMainRunning.load(); }
  uint8_t ucRunStatus() const { return m_ucRunStatus.load(); }
  const CHILD_THREAD_INFO& childInfo(int i) const { return m_ChildInfo[i]; }
  // Waits (real time, for tests and the window-less run) until no run thread runs.
  bool bWaitRunIdle(uint64_t ullRealMs);

  // ---- scanning, auto mode, device changes ----
  void TriggerScanThread();
  // bRunRescan: the run's own rescan before its log, which starts no auto thread.
  bool vScanUSBPort(std::stop_token st = {}, bool bRunRescan = false);
  void OnTimer(int nTimerId);
  int OnUSBDeviceChange(const DeviceEvent& ev);
  void vTriggetAutoThread();
  bool OpenSNAndPStringEnteringDialog();
  void vRegisterDeviceNotification();
  void vUnRegisterDeviceNotification();
  bool bNotificationsOn() const { return m_bDevNotify.load(); }
  bool bScanIdle() const;
  bool bAutoThreadExists() const;

  // Thread bodies (public for tests that drive one directly).
  int MainThreadFun(std::stop_token st);
  int ChildThreadFun(std::stop_token st, int nSlot);
  int ScanThreadFun(std::stop_token st);
  int AutoThreadFun(std::stop_token st);

 private:
  // Calls on the window thread, waiting; dropped when st asks the caller to stop.
  bool bOnWindow(std::function<void()> fn, std::stop_token st = {});
  void vCell(int nSlot, int nColumn, const std::string& strText, uint8_t ucColour, std::stop_token st);
  void vExit(int nCode);
  EStartResult eRefuse(const std::string& strWhy, int nExitCode = EXIT_START_REFUSED);
  // Takes the run mark for the run Start prepares; on failure the operator is told why.
  bool bTakeRunMark(std::string& strWhy);
  void vDropRunMark();
  bool bStartPreChecks(uint8_t& ucTestItemCount, uint8_t& ucFwType);
  uint8_t ucCountTestItems() const;
  bool bHubPassed(const DevRecord& d) const;
  bool bEnterResetLock(std::stop_token st);
  bool bResetTurn(int nSlot) const;
  int nSettledCount() const;
  // True when the hub answers on its port path again within the return time-out.
  bool bWaitHubBack(std::stop_token st, int nSlot, HubIdentity& id);
  bool bDescriptorCheck(std::stop_token st, int nSlot);
  void vStopThread(std::jthread& t);
  // Worker states change through here (and a released reset lock is announced here), so
  // that waiting workers and the run thread look again at once rather than at their next
  // poll; the poll intervals stay as the longest a look can be late.
  void vSetThreadState(int nSlot, uint8_t ucState);
  void vAnnounceStateChange();
  uint64_t ullStateGeneration() const;
  // Waits up to ullMs of tool time, or less when the states changed after ullSeen (a value
  // of ullStateGeneration). The result says which, or that st asked to stop.
  enum class EWait { Stopped, Changed, Elapsed };
  EWait eWaitStateChange(uint64_t ullMs, uint64_t ullSeen, std::stop_token st);
  void vFinishRun(std::stop_token st);
  // After the run's rescan (window thread): results back onto the hubs they belong to.
  void vRestoreRunResults(const MAIN_THREAD_INFO& info, std::array<DevRecord, MAX_DEV_RECORDS>& logged);
  // Moves the serial number on by the run's hub count and saves it (window thread, at
  // Start). False, with the reason, when the settings file could not be written.
  bool bTakeRunSerialNumbers(uint8_t ucDevCount, std::string& strWhy);
  void vTimerFun(std::stop_token st);

  CUSBUtility& m_utility;
  Ini& m_ini;
  DeviceList& m_devList;
  IRunDevices& m_devices;
  IRunView& m_view;
  IWindowThread& m_window;
  IClock& m_clock;
  IDeviceEvents* m_pEvents = nullptr;
  bool m_bEventsStarted = false;

  CResultTable m_table;
  std::array<CHILD_THREAD_INFO, MAX_DEV_RECORDS> m_ChildInfo;
  MAIN_THREAD_INFO m_MainInfo;
  std::atomic<uint8_t> m_ucRunStatus{0};
  // Run-wide copies taken at Start, read by the workers.
  std::string m_strRunSN;
  // Start took the run mark; the run thread takes it over.
  std::atomic<bool> m_bRunMarked{false};

  mutable std::mutex m_threadsMutex;
  std::jthread m_pMainThread;
  std::array<std::jthread, MAX_DEV_RECORDS> m_pChildThread;
  std::jthread m_pAutoThread;
  struct ScanThread {
    std::jthread t;
    std::shared_ptr<std::atomic<bool>> pDone;
  };
  std::vector<ScanThread> m_scanThreads;
  std::jthread m_timer;
  std::mutex m_timerMutex;

  mutable std::mutex m_stateMutex;
  uint64_t m_ullStateGen = 0;
  std::vector<std::stop_source*> m_stateWaiters;

  std::atomic<bool> m_bMainRunning{false};
  std::atomic<bool> m_bRunStarted{false};  // a run thread has run in this process
  // A walk of the USB tree is under way; a run waits for it before its workers start.
  std::atomic<bool> m_bWalkActive{false};
  std::mutex m_walkMutex;
  std::atomic<bool> m_bDevNotify{false};
  std::atomic<bool> m_bSNDialogOpen{false};
  std::atomic<uint8_t> m_ucScanStatus{0};
  std::mutex m_idleMutex;
  std::condition_variable m_idleCv;
};
