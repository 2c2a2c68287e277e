#include "ui/MPToolDlg.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "log/DebugLog.h"

CMPToolDlg::CMPToolDlg(CUSBUtility& utility, Ini& ini, IMainView& view, CWindowThread& windowThread,
                       IClock& clock)
    : m_utility(utility),
      m_ini(ini),
      m_pView(&view),
      m_windowThread(windowThread),
      m_clock(clock),
      m_fnExit([](int nCode) {
        std::fflush(nullptr);
        std::_Exit(nCode);
      }) {
  m_utility.vSetMessageView(m_pView);
  // Settings messages follow the mode: boxes in window mode, the message file without one.
  m_ini.vSetMessageFn([this](const std::string& strText, int nType) {
    nShowProgramMSG(strText, static_cast<uint8_t>(nType), MB_OK);
  });
  m_ini.m_fnSetAutoInstallFilterDriver = [this](uint8_t ucValue) {
    m_utility.m_bAutoInstallFilterDriver = ucValue != 0;
  };
}

void CMPToolDlg::vSetView(IMainView& view) {
  m_pView = &view;
  m_utility.vSetMessageView(m_pView);
}

int CMPToolDlg::nShowProgramMSG(const std::string& strText, uint8_t ucType, uint32_t uFlags) {
  return m_utility.ShowProgramMSG(strText, ucType, uFlags, m_bShowGUI == 0);
}

void CMPToolDlg::vExitProcess(int nExitCode) {
  vDEBUG_MSG_printf("CMPToolDlg::vExitProcess", "exit code %d", nExitCode);
  if (!m_nExitCode) m_nExitCode = nExitCode;
  if (m_fnExit) m_fnExit(nExitCode);
}

void CMPToolDlg::vInitialPrivateData() {
  try {
    // Every slot free, no hubs, no run flags, counters at zero.
    m_ToolsDevList = DeviceList{};
    for (auto& dev : m_ToolsDevList.dev) dev.vFree();
    m_ucRunStatus = 0;
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::vInitialPrivateData",
                      "vInitialPrivateData: m_pDevList : %p , dwErrorCode %d",
                      static_cast<void*>(&m_ToolsDevList), errno);
  }
}
