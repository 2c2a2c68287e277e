// The main window's start-up and its command line.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>

#include "log/DebugLog.h"
#include "platform/Text.h"
#include "ui/CmdLine.h"
#include "ui/ControlIds.h"
#include "ui/MPToolDlg.h"
#include "ui/Resources.h"

bool CMPToolDlg::OnInitDialog() {
  try {
    // 1. Title and window decoration (the system menu and icons belong to the toolkit view).
    view().vSetTitle(MPTOOL_VERSION_TEXT);
    // 2.
    vDEBUG_MSG_printf("CMPToolDlg::OnInitDialog", "AfxGetApp: m_lpCmdLine = %s ", m_strRawCmdLine.c_str());
    // 3. The PASS and FAIL pictures appear only after a run.
    view().vShowControl(IDC_PICTURE_PASS, false);
    view().vShowControl(IDC_PICTURE_FAIL, false);
    // 4.
    if (!m_utility.vCheckFilePathExists(m_utility.m_szAppPath + "/" + AGREEMENT_FILE_NAME, false))
      vWriteAgreementFile();
    // 5.
    if (!m_strCmdLine.empty()) {
      m_strCmdLine = strUpper(m_strCmdLine);
      if (m_strCmdLine.find("/DBG") != std::string::npos)
        nApplyDebugOption();
      else
        vCmdLinePreHandler(m_strCmdLine);
      if (bExitRequested()) return true;
    }
    // 6.
    view().vSetFont(IDC_STATIC_VERSION, FontSpec{"Arial", 14, 7, 700});
    view().vSetTextColour(IDC_STATIC_VERSION, RGB(255, 0, 0));
    view().vSetText(IDC_STATIC_VERSION, MPTOOL_VERSION_TEXT);
    // (the second font, Arial 16/7/700, is for More Config, set up with the controls)
    // 7.
    m_utility.m_bScanWaiting = false;
    m_utility.vSetProgress(0);
    // 8.
    view().vSetProgressRange(IDC_PROGRESS_SEARCH, 0, 100);
    view().vSetProgressPos(IDC_PROGRESS_SEARCH, 0);
    view().vSetProgressColour(IDC_PROGRESS_SEARCH, RGB(20, 232, 20));
    // 9.
    view().vShowControl(IDC_STATIC_WARNING_MSG, false);
    // 10.
    m_strINIFilePath = m_utility.m_szAppPath + "/" + INI_DEFAULT_FILE_NAME;
    // 11. Single instance: a stale copy is ended; never this copy, never one in a run.
    SingleInstanceResult si = m_utility.stEnforceSingleInstance(MPTOOL_PROCESS_NAME);
    if (si.eOutcome == ESingleInstance::RunInProgress) {
      std::fprintf(stderr,
                   "MPTool: another copy (process %u) is in a production run; this copy does "
                   "not start (exit code %d)\n",
                   si.dwRunHolderPid, EXIT_RUN_IN_PROGRESS);
      vDEBUG_ERR_printf("CMPToolDlg::OnInitDialog",
                        "OnInitDialog: production run in progress , dwProcessID : %u", si.dwRunHolderPid);
      vExitProcess(EXIT_RUN_IN_PROGRESS);
      return true;
    }
    if (si.eOutcome == ESingleInstance::EndedStale || si.eOutcome == ESingleInstance::EndFailed)
      vDEBUG_ERR_printf("CMPToolDlg::OnInitDialog",
                        "OnInitDialog: iProcessCount: %d , dwProcessID : %d dwErrorCode %d", si.iProcessCount,
                        static_cast<int>(si.dwProcessID), si.nErrorCode);
    // 12. Run state (the tool tips and fixed list contents come with the controls).
    vInitialPrivateData();
    // 13. Settings. (Handing ucCd_rom_mode to the device access object and the PD and MCU
    // update flags to the PD engine joins here with those objects.)
    m_ini.vLoadINIFile(m_strINIFilePath);
    // 14-15 (controls, result table, device notifications) and 19-20 (the first scan, the
    // control state) come with the run engine the application wires after start-up.
    // 16.
    if (nADD_Delete_DevconFile(m_utility.m_szAppPath, 1) != 0)
      vDEBUG_ERR_printf("CMPToolDlg::OnInitDialog", "nADD_Delete_DevconFile Failed(%s]",
                        m_utility.m_szAppPath.c_str());
    // 17. Writes the package only; installing is the walk's, when the settings allow it.
    nLoadFilterDriverLib(m_strDriverBase.empty() ? strTempFolder() : m_strDriverBase);
    // 18.
    if (!m_utility.m_bAutoInstallFilterDriver && !m_utility.bIsInstallVlntFilterDriverFromRegistry()) {
      m_utility.ShowProgramMSG(FILTER_DRIVER_MISSING_TEXT, MSG_TYPE_ERROR, MB_OK, false);
      vExitProcess(EXIT_NO_FILTER_DRIVER);
      return true;
    }
    if (m_bRDMode) vDEBUG_MSG_printf("CMPToolDlg::OnInitDialog", "OnInitDialog , RD mode ");
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::OnInitDialog", "OnInitDialog , dwErrorCode %d", errno);
  }
  return true;
}

int CMPToolDlg::nApplyDebugOption() {
  DebugOption d = stSplitDebugOption(m_strCmdLine);
  m_strCmdLine = d.strCmdLine;
  // With "/DBG" the other options are not looked at: the window opens.
  return vDEBUG_SetLevel(static_cast<int>(m_utility.vCharToHex(d.strLevelText)));
}

void CMPToolDlg::vCmdLinePreHandler(const std::string& cmd) {
  if (cmd.empty()) return;
  vDEBUG_SetLevel(4);
  m_bShowGUI = 0;
  vDEBUG_MSG_printf("CMPToolDlg::vCmdLinePreHandler", "cmd line[%s]", cmd.c_str());
  CmdLineClass c = stClassifyCmdLine(cmd);
  const char* L = "CMPToolDlg::vCmdLinePreHandler";
  if (c.bHideWindow) view().vShowWindow(false);
  switch (c.eOption) {
    case ECmdOption::CheckFW:
      m_strCmdLineFW = c.strValue;
      vDEBUG_MSG_printf(L, "Checked Firmware: %s", m_strCmdLineFW.c_str());
      break;
    case ECmdOption::RunSN:
      m_strCmdLineSN = c.strValue;
      vDEBUG_MSG_printf(L, "AA: InputSN: %s", m_strCmdLineSN.c_str());
      break;
    case ECmdOption::LED:
      vDEBUG_MSG_printf(L, "set LED: %s", c.strValue.c_str());
      m_ucCmdLineLED = {c.nLED[0], c.nLED[1]};
      break;
    case ECmdOption::None:
      vDEBUG_MSG_printf(L, "cmd line unmatch");
      break;
    default:
      break;
  }
  if (c.nMode >= 0) m_nCmdLineMode = c.nMode;
  if (c.bShowUsage) vShowUsage();
  if (c.nExitCode) vExitProcess(*c.nExitCode);
}

void CMPToolDlg::vShowUsage() {
  // A box in every mode; without a window its text goes to standard output.
  m_utility.ShowProgramMSG(strUsageText(MPTOOL_VERSION_TEXT), MSG_TYPE_INFORMATION, MB_OK, false);
}

void CMPToolDlg::vWriteAgreementFile() {
  const std::string& strHtml = strAgreementHtml();
  if (strHtml.empty()) return;
  std::string strPath = m_utility.m_szAppPath + "/" + AGREEMENT_FILE_NAME;
  std::ofstream out(strPath, std::ios::binary | std::ios::app);
  if (out) out.write(strHtml.data(), static_cast<std::streamsize>(strHtml.size()));
  if (!out)
    vDEBUG_ERR_printf("CMPToolDlg::vWriteAgreementFile", "vWriteAgreementFile: %s , dwErrorCode %d",
                      strPath.c_str(), errno);
}
