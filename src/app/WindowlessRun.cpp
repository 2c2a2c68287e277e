#include "app/WindowlessRun.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "app/HubAccess.h"
#include "app/PlatformSet.h"
#include "host/WindowThread.h"
#include "images/ConfigForm.h"
#include "line/LineStation.h"
#include "log/DebugLog.h"
#include "run/CmdLineHandler.h"
#include "run/HeadlessRunView.h"
#include "run/RunEngine.h"
#include "run/SafeRemoval.h"

namespace {
const char* L = "CMPToolApp::nRunWithoutWindow";
// How long the end of the program waits for a safe removal under way to finish (real time).
constexpr uint64_t SAFE_REMOVAL_FINISH_MS = 120000;

// What "Load INI" puts on the screen, for a run that has no screen.
void vScreenFromSettings(RunScreen& s, const INISettings& ini, const std::string& strAppPath,
                         const std::string& strCmdLineSN) {
  CRunScreenForm form(&s);
  form.vWriteConfigTexts(stConfigTextsFromSettings(ini));
  if (!strCmdLineSN.empty()) s.strSerialNumber = strCmdLineSN;
  s.strFWPath = ini.ucFw_binary_name;
  if (!s.strFWPath.empty() && s.strFWPath[0] != '/') s.strFWPath = strAppPath + "/" + s.strFWPath;
  static const char* kStatus[] = {"USB 2.0", "USB 3.0", "USB 3.1"};
  s.strUSBStatus = ini.ucCheck_USBStatus < 3 ? kStatus[ini.ucCheck_USBStatus] : "";
  s.bIdleTimerFirst = ini.ucIdle_timer == 0;
}
}  // namespace

int nRunWithoutWindow(CMPToolDlg& dlg) {
  const bool bProduction = bCmdLineRunsProduction(dlg.m_nCmdLineMode);
  if (bProduction && !dlg.ini().strLoadProblem().empty()) {
    // A run needs the settings it programs into the hubs; without them every later answer
    // (the hub count, the test items) would only mislead.
    const std::string strWhy = "No production run: " + dlg.ini().strLoadProblem();
    std::fprintf(stderr, "MPTool: %s\n", strWhy.c_str());
    vDEBUG_ERR_printf(L, "%s", strWhy.c_str());
    dlg.utility().ShowProgramMSG(strWhy, MSG_TYPE_ERROR, MB_OK, true);
    return EXIT_START_REFUSED;
  }
  std::string strError;
  std::unique_ptr<CPlatformSet> pPlatform = CPlatformSet::pCreate(dlg.clock(), strError);
  if (!pPlatform) {
    std::fprintf(stderr, "MPTool: %s\n", strError.c_str());
    vDEBUG_ERR_printf(L, "bench: %s", strError.c_str());
    return EXIT_RUN_FAILED;
  }
  if (bCmdLineRunsProduction(dlg.m_nCmdLineMode)) {
    // Settings this run cannot carry out refuse it before any hub is scanned or touched.
    const std::string strWhy = strWindowlessRunRefusal(dlg.ini(), dlg.m_strCmdLineSN);
    if (!strWhy.empty()) {
      vDEBUG_ERR_printf(L, "%s", strWhy.c_str());
      dlg.utility().ShowProgramMSG(strWhy, MSG_TYPE_WARNING, MB_OK, true);
      return EXIT_START_REFUSED;
    }
  }
  CPlatformSet& platform = *pPlatform;
  IClock& clock = platform.clock();
  CUSBUtility& utility = dlg.utility();
  Ini& ini = dlg.ini();

  CRunScreenForm form;
  CHubStack hubs(platform, utility, ini.m_pINI, dlg.m_ToolsDevList, form,
                 CVlntUSBDev::EOperatorMessages::FileAndStderr);
  hubs.images.m_strCmdLineSN = dlg.m_strCmdLineSN;
  dlg.m_pUSBDev = &hubs.dev;

  CWindowThread loop;  // this thread is the window thread of the run
  CHeadlessRunView view;
  // The engine and the handler end the run the same way: the window thread's exit request.
  const std::function<void(int)> fnExitProcess = [&loop](int nCode) { loop.vRequestExit(nCode); };
  CCmdLineHandler handler(dlg.m_ToolsDevList, loop, platform.scsi(), clock);
  handler.vConfigure(dlg.cmdLine(), fnExitProcess);
  CSafeRemoval removal(utility, dlg.m_ToolsDevList, view, loop, platform.scsi(), clock);
  // Line mode (MPTOOL_LINE_DB): serial numbers from the line, results to it.
  const std::unique_ptr<CLineStation> pLine = CLineStation::pFromEnvironment(utility.m_szAppPath);
  if (pLine && bProduction) pLine->vConnectAhead();
  int nExit = EXIT_RUN_FAILED;
  {
    CRunEngine engine(utility, ini, dlg.m_ToolsDevList, hubs.devices, view, loop, clock);
    RunEngineConfig config;
    config.cmdLine = dlg.cmdLine();
    config.fnExitProcess = fnExitProcess;
    config.fnCmdLineHandler = [&handler] { handler.vCmdLineHandler(); };
    config.fnSafelyRemove = [&removal] { removal.OnBnClickedButtonSafelyRemove(); };
    config.pEvents = &platform.events();
    config.pLine = pLine.get();
    engine.bConfigure(std::move(config));
    form.vBind(engine.screen());
    vScreenFromSettings(engine.screen(), ini.m_pINI, utility.m_szAppPath, dlg.m_strCmdLineSN);
    engine.vSetMainResultItemTable();
    engine.vRegisterDeviceNotification();
    loop.vPost([&engine] { engine.TriggerScanThread(); });
    nExit = loop.nRunLoop();
    handler.vStop();
    // A safe removal the run started is finished, not cut off in the middle of a disk's
    // flush or disconnect.
    if (!removal.bWaitDone(SAFE_REMOVAL_FINISH_MS))
      vDEBUG_ERR_printf(L, "safe removal still running at the end");
    platform.events().vStop();
  }  // the engine stops and joins its threads here
  hubs.dev.vSetDevList(&dlg.m_ToolsDevList);
  if (bProduction) {
    // A short summary for the production script's log.
    const DeviceList& list = dlg.m_ToolsDevList;
    std::printf("MPTool: run %s: pass %u, fail %u, total %u\n",
                nExit == EXIT_RUN_PASSED ? "passed" : "failed", list.m_dwPassCount, list.m_dwFailCount,
                list.m_dwTotalCount);
  }
  dlg.m_pUSBDev = nullptr;
  return nExit;
}
