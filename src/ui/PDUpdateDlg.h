// The PD dialog's logic: the operator chooses a PD firmware file and an MCU firmware file,
// sees each storage bridge's PD firmware version and status, and updates (Start) or checks
// (Verify) every bridge at once, one worker thread per bridge (ports 0..3, the bridges of the
// device list in record order). The dialog owns the update engine for its whole life; the
// window exists only while it is shown, and its controls (ui/ControlIds.h, the PD section)
// are reached through the view handed to OnInitDialog.
//
// Threads: the handlers run on the window thread; the workers call the view from their own
// threads (the view hands those calls over). The dialog cannot be closed while a worker runs,
// and vWindowClosed waits for the workers, so no worker outlives the window it reports to.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "host/DeviceList.h"
#include "pd/PowerDelivery.h"
#include "platform/PowerCycle.h"

class CUSBUtility;
class IMainView;
struct INISettings;

constexpr int PD_PORTS = 4;
constexpr uint32_t PD_TIMER_MS = 100;             // the progress timer
constexpr uint64_t PD_RELINK_TIMEOUT_MS = 40000;  // a bridge back after its power cycle
constexpr uint32_t PD_RELINK_POLL_MS = 500;

// Status codes of Show_Message.
enum : int {
  PD_STATUS_FAIL = 1,
  PD_STATUS_PASS = 2,
  PD_STATUS_TIMEOUT = 3,
  PD_STATUS_MISMATCH = 4,
  PD_STATUS_READY = 5,
  PD_STATUS_UPDATING = 6,
  PD_STATUS_READING = 7,
  PD_STATUS_EMPTY = 8,
  PD_STATUS_COMPARING = 9,
};

class CPDUpdateDlg {
 public:
  CPDUpdateDlg(IScsiPassThroughPlatform& scsi, IClock& clock, CUSBUtility& utility, const DeviceList& devList,
               IPowerCyclePlatform& powerCycle);
  // Stops and waits for the workers, closes each bridge's I2C path.
  ~CPDUpdateDlg();
  CPDUpdateDlg(const CPDUpdateDlg&) = delete;
  CPDUpdateDlg& operator=(const CPDUpdateDlg&) = delete;

  // ---- the main window's hand-over, before and after showing the dialog ----
  void vFromSettings(const INISettings& s);
  void vToSettings(INISettings& s) const;

  // ---- the window ----
  // Prepares the window's controls and reads every bridge. False when there is no bridge
  // (the operator has been told): the window closes at once.
  bool OnInitDialog(IMainView& view);
  // A button or check box of the dialog, by control id (Close included).
  void vOnCommand(int nId);
  // The window's 100 ms tick; shows the progress while the dialog's timer runs.
  void OnTimer();
  // The close request (Close button, window manager): false while a worker runs.
  bool OnBnClickedClose();
  // The window is gone: waits for the workers, then no call reaches the view any more.
  void vWindowClosed();

  void OnBnClickedCheckMcuFwupgEnable();
  void OnBnClickedCheckPdFwupgEnable();
  void OnBnClickedButtonMcuFirmwareFwbrowse();
  void OnBnClickedButtonFirmwareFwbrowse();
  void OnBnClickedButtonPdStart();
  void OnBnClickedButtonPdFwVerify();
  void Show_Message(int nPort, int nCode);
  // One bridge's update or check (port 0..3); the result code.
  int PDFWUpdateThreadFun(uint8_t ucPort, std::stop_token st = {});

  bool bWorkersRunning() const;
  // Waits until every worker has ended (tests, the window's end).
  void vWaitWorkers();
  // The drive number of bridge nPort of the device list; -1 when there is none.
  int nBridgeDrive(int nPort) const;
  int nBridges() const;
  // A device record whose hub carries a storage bridge with a disk.
  static bool bIsBridge(const DevRecord& d);

  CPowerDelivery& engine() { return m_engine; }

  // ---- state (the selections themselves are the engine's) ----
  std::string m_strPDFWFilePath, m_strMCUFWFilePath;
  std::string m_strPDFWFileVersion;                      // of the chosen PD file
  std::vector<std::string> m_vecPDFiles, m_vecMCUFiles;  // the two lists, newest first
  std::array<std::atomic<uint8_t>, PD_PORTS> m_ucPDDone{}, m_ucMCUDone{};
  std::atomic<uint8_t> m_ucProgress{0};
  std::atomic<bool> m_bVerify{false};
  std::array<std::atomic<int>, PD_PORTS> m_nResult{};  // each port's last worker result

 private:
  IMainView* view() const { return m_pView.load(); }
  void vSetGroupGUIByINI(bool bMCU);
  // A click on the MCU (or PD) update box: the choice, and the list and browse button with it.
  void vOnGroupCheck(bool bMCU);
  void vStartWorkers();
  void vSetPortProgress(int nPort, int nPos, uint32_t rgbBar = 0);
  // The steps of one worker up to its end (step results as PDFWUpdateThreadFun returns them).
  int nRunWorker(uint8_t ucPort, int nDrive, std::stop_token st);
  int nCheckMCU(uint8_t ucPort, int nDrive, std::stop_token st);
  int nCheckCypress(uint8_t ucPort, uint8_t ucVendor, int nDrive, std::stop_token st);
  int nCheckRichtek(uint8_t ucPort, int nDrive, std::stop_token st);
  int nWaitRelink(uint8_t ucPort, int nDrive, bool bCheckVersion, std::stop_token st);
  // The PD file suits the PD family the bridges reported (box and false otherwise).
  bool bFileSuitsChip(const char* pszBox);
  bool bLoadImages(const char* pszLabel);

  CUSBUtility& m_utility;
  IClock& m_clock;
  const DeviceList& m_devList;
  IPowerCyclePlatform& m_powerCycle;
  CPowerDelivery m_engine;
  std::atomic<IMainView*> m_pView{nullptr};
  std::atomic<bool> m_bTimer{false};
  bool m_bShown = false;       // opened at least once (its I2C paths are then ours to close)
  mutable std::mutex m_mutex;  // the worker table
  std::array<std::jthread, PD_PORTS> m_workers;
  std::array<std::atomic<bool>, PD_PORTS> m_bRunning{};
  // The bridges' drives as a run's start found them: the workers and the timer keep to them
  // while the device list changes under a run (a board powered off takes its hub along).
  std::array<std::atomic<int>, PD_PORTS> m_nRunDrive{};
};
