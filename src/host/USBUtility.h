// Host utilities: the operating-system services the rest of the tool calls (processes,
// reboot, platform facts, files and folders, operator messages, checksums, conversions) and
// the few pieces of state that the window, the scan thread and the per-hub workers share.
// main creates the one instance (pUtility) and hands it by reference.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "host/HostTables.h"
#include "host/IMessageView.h"
#include "host/RunMarker.h"

class IClock;
class IFilterDriverStatus;

// Module base name of the tool's executable, as the single-instance rule counts it.
constexpr const char* MPTOOL_PROCESS_NAME = "MPTool";

// Process exit code of a copy that refuses to start while another copy is in a production
// run (seen as 245 by a shell).
constexpr int EXIT_RUN_IN_PROGRESS = -11;

// How long the single-instance rule waits for the copy it ended to be gone (tool ms).
constexpr uint64_t SINGLE_INSTANCE_END_WAIT_MS = 2000;

struct GUID {
  uint32_t Data1 = 0;
  uint16_t Data2 = 0;
  uint16_t Data3 = 0;
  std::array<uint8_t, 8> Data4{};
  bool operator==(const GUID&) const = default;
};

// Where the utilities look for things; tests point them at their own folders.
struct USBUtilityOptions {
  std::string strAppPath;  // program folder; empty: MPTOOL_HOME, else the executable's
  std::string strProcRoot = "/proc";
  std::string strRunMarkerPath;  // empty: CRunMarker::strDefaultPath(program folder)
  std::vector<std::string> rebootCommand = {"systemctl", "reboot"};
};

// What the single-instance rule did.
enum class ESingleInstance {
  NoOther,        // no other copy runs
  EndedStale,     // another copy was ended
  EndFailed,      // another copy runs and could not be ended
  RunInProgress,  // another copy is in a production run: this copy must not start
};
struct SingleInstanceResult {
  ESingleInstance eOutcome = ESingleInstance::NoOther;
  int iProcessCount = 0;        // copies counted, this one included
  uint32_t dwProcessID = 0;     // the copy ended (or that could not be ended)
  int nErrorCode = 0;           // errno of the attempt
  uint32_t dwRunHolderPid = 0;  // with RunInProgress: the copy in the run, 0 if unknown
};

class CUSBUtility {
 public:
  explicit CUSBUtility(IClock& clock, USBUtilityOptions options = {});
  CUSBUtility(const CUSBUtility&) = delete;
  CUSBUtility& operator=(const CUSBUtility&) = delete;

  // ---- shared state ----
  std::string m_szAppPath;      // program folder, no trailing separator
  std::string m_strFWFilePath;  // firmware file of the current run (window thread)
  std::array<uint32_t, 256> m_dwCRC32Table{};
  // Polled by other threads without a lock, hence atomics.
  std::atomic<bool> m_bScanInterrupt{false};
  std::atomic<bool> m_bScanWaiting{false};
  std::atomic<uint8_t> m_ucProgress{0};
  std::atomic<bool> m_bRemovingUSB{false};
  std::atomic<bool> m_bAutoInstallFilterDriver{false};
  // Held by a worker around a CPU reset and the pause after it, and by the scan thread for
  // one whole scan and its command-line handler. Timed so that stop-aware waiters can try in
  // slices.
  std::timed_mutex m_ReloadFWCriticalSection;
  std::timed_mutex m_ScanCriticalSection;

  uint8_t ucGetProgress() const { return m_ucProgress.load(); }
  void vSetProgress(uint8_t ucProgress) { m_ucProgress.store(ucProgress); }

  IClock& clock() { return m_clock; }

  // ---- operator messages ----
  // The view that shows boxes; a headless one until the window sets its own. Not owned.
  void vSetMessageView(IMessageView* pView);
  IMessageView& view() const;
  // Box with caption and icon by type, or (bToFile) one line appended to "ProgramMSG.txt"
  // in the current directory followed by a 1000 ms pause; the file variant returns 0.
  int ShowProgramMSG(const std::string& strMsg, uint8_t ucType, uint32_t uFlags, bool bToFile);
  int ShowMessageBox(const std::string& strMsg, uint32_t uFlags, uint8_t ucType);

  // ---- processes ----
  // Processes whose executable's file name is exactly pszName, in ascending id order.
  // dwSkipPid leaves one id out (0: none).
  uint32_t GetProcessID(const char* pszName, uint32_t dwSkipPid = 0);
  int DetectProcess(const char* pszName);
  // Asks the process to end (SIGTERM). A Linux process cannot be given another's exit code,
  // so uExitCode is only logged. Never ends the current process.
  bool KillProcess(uint32_t dwPid, uint32_t uExitCode);
  // Through the filter driver's platform when one is set (the bench only counts it),
  // otherwise by the options' reboot command.
  bool RebootSystem();

  // The single-instance rule of start-up: a stale copy is ended, never this one and never a
  // copy in a production run.
  SingleInstanceResult stEnforceSingleInstance(const char* pszName = MPTOOL_PROCESS_NAME);
  // The run mark of this program folder, held while the process touches hubs for a run
  // (the run and a safe removal after it). Holds are counted: the mark goes when the last
  // holder ends. bBeginProductionRun waits up to ullWaitMs for the mark; false when another
  // copy holds it (or it cannot be taken at all).
  bool bBeginProductionRun(uint64_t ullWaitMs = 5000);
  void vEndProductionRun();
  bool bProductionRunHeld() const;
  CRunMarker& runMarker() { return m_RunMarker; }
  // MPTOOL_HOME when set, otherwise the executable's folder; the real path (absolute, links
  // resolved), no trailing separator.
  static std::string strResolveAppPath(std::string strPath);
  // strPath as a real path; a relative path is taken relative to strBase (empty when there
  // is no base to take it from).
  static std::string strRealFolder(const std::string& strPath, const std::string& strBase);

  // ---- platform facts ----
  bool IsWow64();
  uint8_t GetOSVersion();

  // ---- conversions ----
  uint32_t vCharToHex(const std::string& strText);
  std::string vGUIDToCString(const GUID& guid);
  GUID vCStringToGUID(const std::string& strText);
  std::string WideStrToMultiStr(const std::u16string& strWide);

  // ---- files and folders ----
  bool vCheckFilePathExists(const std::string& strFilePath, bool bShowMessage);
  // 0, or -5 when the file does not exist. A file without a version line gives "unknown".
  int vGetFileVersionInfo(const std::string& strFileName, std::string& strVersion);
  // 0 on success, else an errno value. See the walk rules in the implementation.
  int nDeleteFolder(const std::string& strFolder, bool bRecursive);

  // ---- filter driver ----
  // The platform's filter driver state; set once by the application before start-up. Not
  // owned. Without one the driver counts as not installed and nothing is installed.
  void vSetFilterDriver(IFilterDriverStatus* pDriver) { m_pFilterDriver = pDriver; }
  IFilterDriverStatus* pFilterDriver() const { return m_pFilterDriver; }
  // True when the filter is registered for the hubs (the udev rules are installed).
  bool bIsInstallVlntFilterDriverFromRegistry();
  // Starts the installer (bInstall 1) or the remover (else) and waits for it; 0 whatever
  // happened (a missing program or a refused elevation is only logged).
  int InstallFilterDriver(uint8_t bInstall);

  // ---- checksum ----
  void vInitCRC32Table();
  uint32_t dwCalcCRC32(const uint8_t* pData, size_t nLength) const;

  const USBUtilityOptions& options() const { return m_options; }

 private:
  IClock& m_clock;
  USBUtilityOptions m_options;
  CHeadlessMessageView m_headlessView;
  std::atomic<IMessageView*> m_pView;
  CRunMarker m_RunMarker;
  mutable std::mutex m_runHoldMutex;
  int m_nRunHolds = 0;
  std::once_flag m_crcOnce;
  IFilterDriverStatus* m_pFilterDriver = nullptr;
};

// "FileVersion:" followed by four dot-separated numbers, as our own files carry it (for
// example "# FileVersion: 1.0.7.0"). Empty when the content has none.
std::string strFindVersionLine(const std::string& strContent);
