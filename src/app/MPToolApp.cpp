#include "app/MPToolApp.h"

#include <cstdio>

#include "app/CmdLine.h"
#include "app/ProductionRun.h"
#include "log/DebugLog.h"

int CMPToolApp::nRun(int argc, const char* const* argv) {
  m_dlg.m_strRawCmdLine = strJoinArguments(argc, argv);
  m_dlg.m_strCmdLine = strNormaliseCmdLine(m_dlg.m_strRawCmdLine);
  m_dlg.windowThread().vBindToCurrentThread();
  m_dlg.OnInitDialog();
  if (m_dlg.bExitRequested()) return *m_dlg.nExitCode();
  if (m_dlg.m_bShowGUI) {
    std::fprintf(stderr,
                 "MPTool: the operator window is not part of this build yet; the command-line "
                 "options are listed by /?\n");
    return EXIT_OK;
  }
  if (m_dlg.m_nCmdLineMode == CMDLINE_MODE_RUN || m_dlg.m_nCmdLineMode == CMDLINE_MODE_RUN_SN)
    return nRunProductionWithoutWindow(m_dlg);
  // A failure code, never 0: a production script must not read "every hub passed".
  std::fprintf(stderr, "MPTool: the window-less runs (mode %d) are not part of this build yet\n",
               m_dlg.m_nCmdLineMode);
  return -1;
}
