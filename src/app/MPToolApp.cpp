#include "app/MPToolApp.h"

#include <cstdio>

#include "app/PlatformSet.h"
#include "app/WindowlessRun.h"
#include "log/DebugLog.h"
#include "ui/CmdLine.h"

namespace {
constexpr int EXIT_RUN_FAILED_NO_RUNNER = -1;  // never 0: a script must not read "passed"
}  // namespace

int CMPToolApp::nRun(int argc, const char* const* argv) {
  m_dlg.m_strRawCmdLine = strJoinArguments(argc, argv);
  m_dlg.m_strCmdLine = strNormaliseCmdLine(m_dlg.m_strRawCmdLine);
  m_dlg.windowThread().vBindToCurrentThread();
  if (!m_dlg.utility().pFilterDriver()) {
    m_pFilterDriver = CPlatformSet::pCreateFilterDriver();
    m_dlg.utility().vSetFilterDriver(m_pFilterDriver.get());
  }
  m_dlg.OnInitDialog();
  if (m_dlg.bExitRequested()) return *m_dlg.nExitCode();
  if (m_dlg.m_bShowGUI) {
    if (m_fnRunWindow) return m_fnRunWindow(m_dlg);
    std::fprintf(stderr, "MPTool: window mode was asked for where no window was set up\n");
    return EXIT_RUN_FAILED_NO_RUNNER;
  }
  // Every window-less mode: "/S", "/S:", "/C:", "/LED:", "/SPD", "/PROT", "/CC", "/IC".
  return m_fnRunWithoutWindow ? m_fnRunWithoutWindow(m_dlg) : EXIT_RUN_FAILED_NO_RUNNER;
}
