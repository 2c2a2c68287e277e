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
//
// Each mutex of the engine says what it guards: the members it guards carry GUARDED_BY,
// which Clang's thread-safety analysis checks (scripts/check-thread-safety); what the
// analysis cannot follow (atomics, the condition variable, data handed to a thread as it
// starts) is said beside the member.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/DeviceList.h"
#include "host/USBUtility.h"
#include "platform/Clock.h"
#include "platform/DeviceEvents.h"
#include "run/CmdLineOptions.h"
#include "run/Guarded.h"
#include "run/IRunDevices.h"
#include "run/IRunLine.h"
#include "run/IRunView.h"
#include "run/ResultTable.h"
#include "run/StateChanges.h"
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
  Refused,        // the run did not start (window mode, or nothing to exit for)
  ExitRequested,  // command-line mode: the reason went to "ProgramMSG.txt", exit -3 asked
};

// Timings of the engine, in tool milliseconds (scaled by the clock).
struct RunTimings {
  uint32_t uMainPollMs = 500;             // run thread's pass
  uint32_t uMainMaxPasses = 65536;        // run thread's overall time-out, in passes
  uint32_t uResetPollMs = 500;            // worker: wait before looking at the others
  uint32_t uResetRetryMs = 300;           // worker: wait before looking again
  uint32_t uResetReadyTimeoutMs = 40000;  // worker: no progress of the others for this long
  uint32_t uResetHoldMs = 2000;           // reset lock held after the reset request
  uint32_t uDepthWaitMs = 250;            // per depth after the reset
  uint32_t uReturnTimeoutMs = 20000;      // hub back on its port after the reset
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

// What the engine is configured with: how the process was started, its timings and the
// window's commands it calls. Given once, before the first scan (CRunEngine::bConfigure);
// every thread of the engine then reads it without a lock, as it never changes while one
// of them runs.
struct RunEngineConfig {
  CmdLineOptions cmdLine;  // the window's command-line fields (mode, show-GUI flag, "/S:" serial)
  RunTimings timings;
  // Ends the process with a code (command-line modes). Empty: the window thread's exit request.
  std::function<void(int)> fnExitProcess;
  // Carries out the command-line mode after a scan that found hubs (modes other than runs).
  std::function<void()> fnCmdLineHandler;
  // The Safely Remove command, sent after a run with automatic safe removal.
  std::function<void()> fnSafelyRemove;
  // Source of device-change events; the first registration starts it. Not owned.
  IDeviceEvents* pEvents = nullptr;
  // The production line the station belongs to: serial numbers are reserved from it at
  // Start and every hub's result goes to it at the run's end. Not owned; empty: none.
  IRunLine* pLine = nullptr;
};

class CRunEngine {
 public:
  CRunEngine(CUSBUtility& utility, Ini& ini, DeviceList& devList, IRunDevices& devices, IRunView& view,
             IWindowThread& window, IClock& clock);
  ~CRunEngine();
  CRunEngine(const CRunEngine&) = delete;
  CRunEngine& operator=(const CRunEngine&) = delete;

  // ---- configuration (window thread) ----
  // Takes the configuration: before the first scan, or later while none of the engine's
  // threads runs and the device-change source has not been started. Otherwise false, logged,
  // and the configuration stays as it was.
  bool bConfigure(RunEngineConfig config) EXCLUDES(m_threadsMutex, m_eventsMutex);
  // The window's fields the run reads and writes (descriptor texts, serial number, firmware
  // path, the USB status and idle-timer choices): the screen record of the process, shared
  // with the window's configuration form. The window thread changes it, and Start reads the
  // controls into it; the run thread and the workers only read it while a run goes on, when
  // the window's controls are locked.
  RunScreen& screen() { return m_screen; }

  // ---- result table (window thread) ----
  void vSetMainResultItemTable() { m_table.vSetMainResultItemTable(); }
  void OnBnClickedButtonClearcount();

  // ---- run ----
  EStartResult OnBnClickedButtonStart() EXCLUDES(m_threadsMutex, m_walkMutex);
  bool bDeleteAllThread() EXCLUDES(m_threadsMutex);
  void vInitialPrivateData() EXCLUDES(m_threadsMutex);
  bool bRunThreadExists() const EXCLUDES(m_threadsMutex);
  bool bRunThreadRunning() const { return m_bMainRunning.load(); }
  uint8_t ucRunStatus() const { return m_ucRunStatus.load(); }
  const CHILD_THREAD_INFO& childInfo(int i) const { return m_ChildInfo[i]; }
  // Waits (real time, for tests and the window-less run) until no run thread runs.
  bool bWaitRunIdle(uint64_t ullRealMs) EXCLUDES(m_idleMutex);

  // ---- scanning, auto mode, device changes ----
  void TriggerScanThread() EXCLUDES(m_threadsMutex);
  // bRunRescan: the run's own rescan before its log, which starts no auto thread.
  bool vScanUSBPort(std::stop_token st = {}, bool bRunRescan = false) EXCLUDES(m_threadsMutex, m_walkMutex);
  void OnTimer(int nTimerId);
  int OnUSBDeviceChange(const DeviceEvent& ev) EXCLUDES(m_threadsMutex);
  void vRegisterDeviceNotification() EXCLUDES(m_eventsMutex);
  void vUnRegisterDeviceNotification();
  bool bScanIdle() const EXCLUDES(m_threadsMutex);
  bool bAutoThreadExists() const EXCLUDES(m_threadsMutex);

 private:
  // What a worker's step came to. Stopped: a stop request ended it; the worker then ends at
  // once with the results it has.
  enum class EStep { Passed, Failed, Stopped };

  // ---- thread bodies ----
  int MainThreadFun(std::stop_token st) EXCLUDES(m_threadsMutex, m_idleMutex);
  int ChildThreadFun(std::stop_token st, int nSlot);
  int ScanThreadFun(std::stop_token st) EXCLUDES(m_threadsMutex, m_timerMutex, m_walkMutex);
  int AutoThreadFun(std::stop_token st) EXCLUDES(m_threadsMutex);
  void vTimerFun(std::stop_token st);

  // ---- shared by all ----
  // Calls on the window thread, waiting; dropped when st asks the caller to stop.
  bool bOnWindow(std::function<void()> fn, std::stop_token st = {});
  void vCell(int nSlot, int nColumn, const std::string& strText, uint8_t ucColour, std::stop_token st);
  void vExit(int nCode);
  void vStopThread(std::jthread& t);
  // The command line gave no window (m_bShowGUI 0).
  bool bWindowless() const { return m_config.cmdLine.m_bShowGUI == 0; }

  // ---- Start (window thread) ----
  EStartResult eRefuse(const std::string& strWhy, int nExitCode = EXIT_START_REFUSED);
  // Takes the run mark for the run Start prepares; on failure the operator is told why.
  bool bTakeRunMark(std::string& strWhy);
  void vDropRunMark();
  uint8_t ucCountTestItems() const;
  // Moves the serial number on by the run's hub count and saves it (at Start). False, with
  // the reason, when the settings file could not be written.
  bool bTakeRunSerialNumbers(uint8_t ucDevCount, std::string& strWhy);
  // Line mode: the run's serial numbers reserved from the line, the first put on the screen
  // before the configuration blocks are built from it. False, with the reason, when none
  // could be reserved.
  bool bReserveLineSerials(const MAIN_THREAD_INFO& info, std::string& strWhy);

  // ---- run thread ----
  bool bHubPassed(const DevRecord& d) const;
  // before: the run's records as Start found the hubs.
  void vFinishRun(std::stop_token st, const std::array<DevRecord, MAX_DEV_RECORDS>& before);
  // Line mode: the run's rows to the line.
  void vRecordLineRun(const MAIN_THREAD_INFO& info, const std::array<DevRecord, MAX_DEV_RECORDS>& before,
                      const std::array<DevRecord, MAX_DEV_RECORDS>& logged, bool bFail);
  // After the run's rescan (window thread): results back onto the hubs they belong to.
  void vRestoreRunResults(const MAIN_THREAD_INFO& info, std::array<DevRecord, MAX_DEV_RECORDS>& logged);

  // ---- worker ----
  // The worker's items in order; false when a stop request ended them.
  bool bWorkerSteps(std::stop_token st, int nSlot);
  // Configuration block and firmware into the flash, read back and compared.
  EStep eUpdateHub(std::stop_token st, int nSlot);
  // The flash read back against the hub's configuration block and the flash image file;
  // every difference is logged.
  bool bFlashMatches(int nSlot, const std::vector<uint8_t>& flash);
  // Waits for the hub's turn to reset; Failed when the others made no progress for the
  // time-out.
  EStep eWaitResetTurn(std::stop_token st, int nSlot);
  // The reset under the reset lock and the hub's return; nReset gets the reset's result.
  EStep eResetHub(std::stop_token st, int nSlot, int& nReset);
  bool bEnterResetLock(std::stop_token st);
  bool bResetTurn(int nSlot) const;
  int nSettledCount() const;
  // Passed when the hub answers on its port path again within the return time-out; id is
  // the identity it reports then.
  EStep eWaitHubBack(std::stop_token st, int nSlot, HubIdentity& id);
  EStep eDescriptorCheck(std::stop_token st, int nSlot);
  // Worker states change through here, and every change is announced.
  void vSetThreadState(int nSlot, uint8_t ucState);

  // ---- scanning and auto mode ----
  void vTriggetAutoThread() EXCLUDES(m_threadsMutex);
  bool OpenSNAndPStringEnteringDialog();

  CUSBUtility& m_utility;  // its reset and scan locks are its own, outside the analysis
  Ini& m_ini;
  // The window's device list. The window thread owns it; between Start and the run's end the
  // workers write only their own records and the run thread its counters, and a scan
  // rewrites it only on the window thread, never during a run.
  DeviceList& m_devList;
  IRunDevices& m_devices;
  IRunView& m_view;
  IWindowThread& m_window;
  IClock& m_clock;

  RunEngineConfig m_config;  // see RunEngineConfig
  RunScreen m_screen;        // see screen()

  CResultTable m_table;  // window thread only
  // Per device slot. The run thread fills the plain fields before it starts the slot's worker
  // (the start hands them over) and nobody writes them while it runs; the state and the
  // progress are atomics.
  std::array<CHILD_THREAD_INFO, MAX_DEV_RECORDS> m_ChildInfo;
  // Start fills it on the window thread before it starts the run thread, which copies it.
  MAIN_THREAD_INFO m_MainInfo;
  // The run's serial number, handed to the run's threads the same way.
  std::string m_strRunSN;
  std::atomic<uint8_t> m_ucRunStatus{0};
  // Start took the run mark; the run thread takes it over.
  std::atomic<bool> m_bRunMarked{false};

  // The thread objects: the run thread, its workers, the auto thread and the scan threads.
  mutable CMutex m_threadsMutex;
  std::jthread m_pMainThread GUARDED_BY(m_threadsMutex);
  std::array<std::jthread, MAX_DEV_RECORDS> m_pChildThread GUARDED_BY(m_threadsMutex);
  std::jthread m_pAutoThread GUARDED_BY(m_threadsMutex);
  struct ScanThread {
    std::jthread t;
    std::shared_ptr<std::atomic<bool>> pDone;
  };
  std::vector<ScanThread> m_scanThreads GUARDED_BY(m_threadsMutex);
  // The scan timer, started and stopped by the scan thread.
  CMutex m_timerMutex;
  std::jthread m_timer GUARDED_BY(m_timerMutex);
  // The device-change source is started once, by whichever thread registers first.
  CMutex m_eventsMutex;
  bool m_bEventsStarted GUARDED_BY(m_eventsMutex) = false;

  CStateChanges m_stateChanges;

  std::atomic<bool> m_bMainRunning{false};
  std::atomic<bool> m_bRunStarted{false};  // a run thread has run in this process
  // A walk of the USB tree is under way; a run waits for it before its workers start.
  std::atomic<bool> m_bWalkActive{false};
  // Makes Start's "a run starts" (m_bMainRunning set) and a scan's "a walk begins" (no run
  // seen, m_bWalkActive set) one step each, so that no walk begins once a run has started
  // and the run thread sees every walk that began before it. The flags are atomics, read
  // without it elsewhere.
  CMutex m_walkMutex;
  std::atomic<bool> m_bDevNotify{false};
  std::atomic<bool> m_bSNDialogOpen{false};
  std::atomic<uint8_t> m_ucScanStatus{0};
  // bWaitRunIdle's wait for m_bMainRunning to fall: the run thread clears the flag under
  // this mutex before it wakes the waiters, so no wake-up is lost.
  CMutex m_idleMutex;
  std::condition_variable_any m_idleCv;
};
