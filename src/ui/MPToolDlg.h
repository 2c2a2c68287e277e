// The main window's state and handlers, without any window toolkit: it talks to the
// operator only through IMainView, and runs its handlers on the window thread.
//
// The class is spread over several files by subject: MPToolDlg.cpp (construction, shared
// helpers), MPToolDlg_Init.cpp (start-up and the command line) and MPToolDlg_Run.cpp (the
// production run's handlers, which forward to the run engine).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/DeviceList.h"
#include "host/USBUtility.h"
#include "host/WindowThread.h"
#include "run/CmdLineOptions.h"
#include "settings/Ini.h"
#include "settings/SerialNumber.h"
#include "ui/DebugDlg.h"
#include "ui/DeviceCfgDlg.h"
#include "ui/IMainView.h"
#include "ui/LoginDlg.h"

class IClock;
class CRunEngine;
class CVlntUSBDev;
class IRunView;
class CFirmwareSelection;
class CHubImages;
class CPDUpdateDlg;

// Version string shown as the window's title, on the version label and in the usage text.
constexpr const char* MPTOOL_VERSION_TEXT = "VLN6420 series 2, 0, 1, 3 ( 1.1.2.19)";

// Command-line modes (m_nCmdLineMode) besides the option modes CMDLINE_CHECK_FW to
// CMDLINE_CHIP of the command-line handler.
constexpr int CMDLINE_MODE_WINDOW = -1;  // no option: the operator window
constexpr int CMDLINE_MODE_USAGE = 0;    // "/?"

// Process exit codes of start-up.
constexpr int EXIT_OK = 0;
constexpr int EXIT_BAD_ARGUMENT = -10;
constexpr int EXIT_NO_FILTER_DRIVER = -20;
// What the operator is told before that exit.
constexpr const char* FILTER_DRIVER_MISSING_TEXT = "Please install Velnor Filter Driver first!!";

// The window's command-line fields (m_nCmdLineMode, m_bShowGUI, m_strCmdLineSN, ...) are the
// one CmdLineOptions value that the run engine and the command-line handler are given whole.
class CMPToolDlg : public CmdLineOptions {
 public:
  CMPToolDlg(CUSBUtility& utility, Ini& ini, IMainView& view, CWindowThread& windowThread, IClock& clock);
  CMPToolDlg(const CMPToolDlg&) = delete;
  CMPToolDlg& operator=(const CMPToolDlg&) = delete;

  // ---- command line (set during start-up, read-only afterwards) ----
  std::string m_strRawCmdLine;  // the arguments joined by single blanks
  std::string m_strCmdLine;     // normalised: no "_", tab or newline; upper-cased at start-up
  // What start-up read from it (the fields of CmdLineOptions).
  const CmdLineOptions& cmdLine() const { return *this; }

  // ---- settings ----
  std::string m_strINIFilePath;  // program folder + "/vlnhub.ini"

  // ---- devices and run state ----
  DeviceList m_ToolsDevList;
  uint8_t m_ucRunStatus = 0;  // 0 no run yet, 1 last run passed, 2 it failed
  bool m_bRDMode = false;     // R&D mode; off at every start
  void vInitialPrivateData();

  // ---- start-up (MPToolDlg_Init.cpp) ----
  // The window's start-up; true. After an exit request (see vExitProcess) it stops at once.
  bool OnInitDialog();
  void vCmdLinePreHandler(const std::string& cmd);
  void vShowUsage();
  void vWriteAgreementFile();
  // The "/DBG" option on the upper-cased command line; returns the level set.
  int nApplyDebugOption();

  // ---- filter driver package and the exit sequence (MPToolDlg_Exit.cpp) ----
  // The device access object whose hubs get their power setting back on exit; the
  // application's wiring sets it. Not owned.
  CVlntUSBDev* m_pUSBDev = nullptr;
  // Where the package files come from: the "FilterDriver" folder beside the executable
  // unless set (tests).
  std::string m_strPackageFolder;
  // The folder the package is written to at start-up and removed from at exit:
  // strTempFolder() unless set (tests).
  std::string m_strDriverBase;
  // Copies the driver package (the udev rules, the shim, the uninstall script) into
  // strBase + "VLN318xFW/FilterDriver" (strBase ends in "/"), each file deleted and
  // created anew. 0; -1 the rules or the uninstall script could not be written; -10 the
  // shim could not be written.
  int nLoadFilterDriverLib(const std::string& strBase);
  // Linux has no DevCon: a hub restart writes the hub's "authorized" attribute (the device
  // state platform), so nothing is written or deleted. What is left of the call is the
  // check that the folder DevCon would have gone to (the program folder) is writable:
  // 0, or -10 (logged) when it is not.
  int nADD_Delete_DevconFile(const std::string& strFolder, uint8_t bAdd);
  // Starts the remover when the tool installs the driver itself, deletes the flash image
  // folder and the package files under strBase; missing files are ignored. 0.
  int Remove_FilterDriverAndFiles(const std::string& strBase);
  // The exit handler's work before the window closes: remove the written files, give every
  // hub its power setting back, tell the operator to reboot or replug, and reboot when the
  // tool installs the driver itself. Returns the power restore's result. The caller closes
  // the window (or ends the process) afterwards.
  int vExitSequence();
  // The system's temporary folder with a trailing "/" ($TMPDIR, else /tmp).
  static std::string strTempFolder();

  // ---- production run (MPToolDlg_Run.cpp) ----
  // The run engine the window's run handlers forward to; the application's wiring sets it.
  CRunEngine* m_pRunEngine = nullptr;
  void OnBnClickedButtonStart();
  void OnBnClickedButtonClearcount();
  bool bDeleteAllThread();
  // The window's close request (Exit and the window manager's close): every thread is
  // stopped first, so no worker touches a hub while its power setting is given back, then
  // the exit sequence runs; the caller ends the window's event loop after it.
  void OnClose();
  // The engine's view of this window (its window thread is m_windowThread itself).
  std::unique_ptr<IRunView> pNewRunView();

  // >>> control states and the R&D lock (ui/MPToolDlg_Controls.cpp) >>>
  void vSetNormalControls();
  void vSetAutoModeControls();
  void vSetRunControls();
  // The state of a window without a run: auto mode's while it is on outside R&D mode.
  void vApplyIdleControls();
  void OnBnClickedButtonUnlockMptool();
  // <<< control states <<<

  // The captions, list entries and result-table titles from the UI text table
  // (ui/MPToolDlg_Texts.cpp); before the fields are refreshed, as the lists are refilled.
  void vSetTextsFromTextTable();

  // >>> fields from the settings (ui/MPToolDlg_Fields.cpp) >>>
  void vRefreshAllFields();
  void vSetDeviceFirmwareGUIByINIFile();
  void vSetPreloadPathGUIByINIFile();
  std::vector<std::string> m_vecFWBrowse;      // firmware list entries, newest first
  std::vector<std::string> m_vecPreloadPaths;  // preload list entries, newest first
  // The descriptor fields as the image builder's form (window mode).
  std::unique_ptr<class IConfigForm> pNewConfigForm();
  // <<< fields <<<

  // >>> settings screen (ui/MPToolDlg_Settings.cpp) >>>
  // The field editors by control id; false for a control that has none.
  bool OnEnChangeField(int nId);
  bool OnEnChangeEditDevicefunctionDrivelabel();
  // The settings' check boxes and lists by control id; false for another control.
  bool OnSettingsControl(int nId);
  bool vValidateGUIForSaveINI();
  void vReadAllFields(INISettings& s);
  void OnBnClickedButtonSaveIni();
  void OnBnClickedButtonLoadini();
  // <<< settings screen <<<

  // >>> More Config, serial-number entry, configuration check and PD (ui/MPToolDlg_Dialogs.cpp) >>>
  CDeviceCfgDlg m_moreConfigDlg;
  CDebugDlg m_debugDlg;
  // Reads a hub's configuration table for the check dialog; the application's wiring sets it.
  CDebugDlg::ConfigReadFn m_fnConfigRead;
  CSNDlgData& snDlg() { return m_SNDlg; }
  void vSetMoreConfigGUIByINIFile();
  void OnBnClickedMoreConfig();
  void OnBnClickedDEBUG();
  // At least one device slot holds a found hub.
  bool bDevicePresent() const;
  // The about box (the window's context menu).
  void OnAboutBox();
  // The PD dialog's logic, set by the application's wiring (null: the PD button does nothing).
  CPDUpdateDlg* m_pPDUpdateDlg = nullptr;
  // The PD button: the dialog opens with the settings' PD and MCU choices and hands back
  // what the operator chose there.
  void OnBnClickedPdBtn();
  // <<< dialogs <<<

  // >>> file choices and "Create Config" (ui/MPToolDlg_Files.cpp) >>>
  // The firmware choice and the image builder behind the window's file actions; the
  // application's wiring sets them (without them the actions do nothing).
  CFirmwareSelection* m_pFirmwareSelection = nullptr;
  CHubImages* m_pHubImages = nullptr;
  // The folder every file dialog of the window opens in: the folder of the last file (or
  // the last folder) chosen in one of them, else the program folder.
  std::string strDialogFolder() const;
  // Shows a file dialog in that folder; a choice moves the folder, a cancel changes nothing.
  std::string strPickPath(FilePick pick);
  void OnBnClickedButtonDevicwfirmwareFwbrowse();
  void OnCbnSelchangeComboDevicwfirmwareFwbrowse();
  void OnBnClickedButtonBrowsePreload();
  void OnBnClickedCreateConfig();
  // <<< file choices <<<

  // ---- helpers for every handler ----
  // An operator message as the mode wants it: a box in window mode, a line of
  // "ProgramMSG.txt" in the window-less modes.
  int nShowProgramMSG(const std::string& strText, uint8_t ucType, uint32_t uFlags = MB_OK);
  // Ends the process at once with the code (no window closing, no thread stopping). The
  // ending function is replaceable for tests; after it returns, bExitRequested() is true
  // and handlers return without doing more.
  void vExitProcess(int nExitCode);
  bool bExitRequested() const { return m_nExitCode.has_value(); }
  std::optional<int> nExitCode() const { return m_nExitCode; }
  void vSetExitFunction(std::function<void(int)> fnExit) { m_fnExit = std::move(fnExit); }

  CUSBUtility& utility() { return m_utility; }
  Ini& ini() { return m_ini; }
  IMainView& view() { return *m_pView; }
  void vSetView(IMainView& view);
  CWindowThread& windowThread() { return m_windowThread; }
  IClock& clock() { return m_clock; }

 private:
  CUSBUtility& m_utility;
  Ini& m_ini;
  IMainView* m_pView;
  CWindowThread& m_windowThread;
  IClock& m_clock;
  std::function<void(int)> m_fnExit;
  std::optional<int> m_nExitCode;
  CSNDlgData m_SNDlg{m_ini.m_pINI};
  std::string m_strLastDialogFolder;  // empty: none chosen yet

  // The newest entry first; at most five are kept.
  static void vInsertNewest(std::vector<std::string>& list, const std::string& strEntry);

  void vSetLockedControls(bool bStart, bool bAutoMode);
  void vEnableDependentTestOptions(bool bRD);
};
