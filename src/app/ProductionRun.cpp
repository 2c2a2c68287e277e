#include "app/ProductionRun.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "device/VLNTFILTER0.h"
#include "device/VlntUSBDev.h"
#include "images/ConfigForm.h"
#include "images/HubImages.h"
#include "log/DebugLog.h"
#include "platform/sim/SimBench.h"
#include "platform/sim/SimDeviceEvents.h"
#include "platform/sim/SimDeviceState.h"
#include "platform/sim/SimFilterDevice.h"
#include "platform/sim/SimUsbTree.h"
#include "run/DispatchLoop.h"
#include "run/HeadlessRunView.h"
#include "run/RunDevices.h"
#include "run/RunEngine.h"

namespace {
const char* L = "CMPToolApp::nRunProductionWithoutWindow";

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

int nRunProductionWithoutWindow(CMPToolDlg& dlg) {
  const char* pszBench = std::getenv("MPTOOL_SIM");
  if (!pszBench || !*pszBench) {
    std::fprintf(stderr, "MPTool: a window-less run needs the simulated bench (MPTOOL_SIM) in this build\n");
    return EXIT_RUN_FAILED;
  }
  std::string strError;
  std::unique_ptr<CSimBench> pBench = CSimBench::pLoad(pszBench, strError);
  if (!pBench) {
    std::fprintf(stderr, "MPTool: %s\n", strError.c_str());
    vDEBUG_ERR_printf("%s:%d: bench: %s", L, __LINE__, strError.c_str());
    return EXIT_RUN_FAILED;
  }
  IClock& clock = pBench->clock();
  CUSBUtility& utility = dlg.utility();
  Ini& ini = dlg.ini();

  CSimUsbTree tree(*pBench);
  CSimDeviceEvents events(*pBench);
  CSimDeviceState state(*pBench, &events);
  CSimFilterDriverStatus driver;
  CSimFilterDevicePlatform filterDevices(*pBench);
  CVLNTFILTER0 filter(clock);
  CVlntUSBDev dev(filterDevices, filter, clock);
  dev.vSetWalkPlatform(&tree, &state, &driver, &utility);
  dev.vSetAppPath(utility.m_szAppPath);
  dev.vSetDevList(&dlg.m_ToolsDevList);
  dev.vSetRescanHandler([&state] { state.nRescan(); });

  CRunScreenForm form;
  CHubImages images(utility, ini.m_pINI, dlg.m_ToolsDevList, form);
  images.m_bShowGUI = false;
  images.m_strCmdLineSN = dlg.m_strCmdLineSN;
  CRunDevices devices(dev, images, filterDevices, dlg.m_ToolsDevList);

  CDispatchLoop loop;  // this thread is the window thread of the run
  CHeadlessRunView view;
  int nExit = EXIT_RUN_FAILED;
  {
    CRunEngine engine(utility, ini, dlg.m_ToolsDevList, devices, view, loop, clock);
    form.vBind(engine.m_screen);
    engine.m_bShowGUI = 0;
    engine.m_nCmdLineMode = dlg.m_nCmdLineMode;
    engine.m_strCmdLineSN = dlg.m_strCmdLineSN;
    vScreenFromSettings(engine.m_screen, ini.m_pINI, utility.m_szAppPath, dlg.m_strCmdLineSN);
    engine.vSetDeviceEvents(&events);
    engine.vSetMainResultItemTable();
    engine.vRegisterDeviceNotification();
    loop.vPost([&engine] { engine.TriggerScanThread(); });
    nExit = loop.nRun();
    events.vStop();
  }  // the engine stops and joins its threads here
  dev.vSetDevList(&dlg.m_ToolsDevList);
  // A short summary for the production script's log.
  const DeviceList& list = dlg.m_ToolsDevList;
  std::printf("MPTool: run %s: pass %u, fail %u, total %u\n", nExit == EXIT_RUN_PASSED ? "passed" : "failed",
              list.m_dwPassCount, list.m_dwFailCount, list.m_dwTotalCount);
  return nExit;
}
