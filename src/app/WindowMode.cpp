#include "app/WindowMode.h"

#include <QApplication>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "app/HubAccess.h"
#include "app/MPToolApp.h"
#include "app/PlatformSet.h"
#include "images/ConfigForm.h"
#include "images/FirmwareList.h"
#include "line/LineStation.h"
#include "log/DebugLog.h"
#include "platform/Text.h"
#include "run/IRunView.h"
#include "run/RunEngine.h"
#include "run/SafeRemoval.h"
#include "ui/CmdLine.h"
#include "ui/ControlIds.h"
#include "ui/PDUpdateDlg.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/QtMainView.h"

namespace {
const char* L = "CMPToolApp::nRunWindow";
// How long closing the window waits for a safe removal under way to finish (real time).
constexpr uint64_t SAFE_REMOVAL_FINISH_MS = 120000;

void vSayNoDisplay(const std::string& strWhy) {
  std::fprintf(stderr,
               "MPTool: the operator window cannot open: %s (exit code %d; the command-line modes need no "
               "display, see /?)\n",
               strWhy.c_str(), EXIT_NO_DISPLAY);
}

// Qt ends the process when its platform plugin cannot start (a display that is named but
// does not answer); the tool ends it itself, with its own code and message.
void vQtMessages(QtMsgType eType, const QMessageLogContext&, const QString& strMsg) {
  std::fprintf(stderr, "%s\n", strMsg.toLocal8Bit().constData());
  if (eType == QtFatalMsg) {
    vSayNoDisplay("the display did not answer");
    std::fflush(nullptr);
    std::_Exit(EXIT_NO_DISPLAY);
  }
}
}  // namespace

bool bCmdLineOpensWindow(const std::string& strNormalisedCmdLine) {
  return strNormalisedCmdLine.empty() || strUpper(strNormalisedCmdLine).find("/DBG") != std::string::npos;
}

std::string strMissingDisplay(const char* pszPlatform, const char* pszDisplay,
                              const char* pszWaylandDisplay) {
  auto set = [](const char* p) { return p && *p; };
  std::string strPlatform = set(pszPlatform) ? pszPlatform : "";
  // The platforms that draw without a display server (offscreen, vnc, linuxfb, eglfs...)
  // need no display variable; xcb needs DISPLAY, wayland WAYLAND_DISPLAY.
  const std::string strFirst = strPlatform.substr(0, strPlatform.find_first_of(";:"));
  if (strFirst == "xcb") return set(pszDisplay) ? "" : "no X display: DISPLAY is not set";
  if (strFirst.rfind("wayland", 0) == 0)
    return set(pszWaylandDisplay) ? "" : "no Wayland display: WAYLAND_DISPLAY is not set";
  if (!strFirst.empty()) return "";
  if (set(pszDisplay) || set(pszWaylandDisplay)) return "";
  return "no display: neither DISPLAY (X11) nor WAYLAND_DISPLAY is set";
}

int nRunWindowProcess(CMPToolApp& app, CMPToolDlg& dlg, int argc, char** argv) {
  const std::string strWhy = strMissingDisplay(std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"),
                                               std::getenv("WAYLAND_DISPLAY"));
  if (!strWhy.empty()) {
    vSayNoDisplay(strWhy);
    return EXIT_NO_DISPLAY;
  }
  QtMessageHandler previousHandler = qInstallMessageHandler(vQtMessages);
  QApplication qapp(argc, argv);
  qInstallMessageHandler(previousHandler);
  dlg.windowThread().vBindToCurrentThread();
  IMainView& headless = dlg.view();
  CQtMainView view(dlg.windowThread());
  dlg.vSetView(view);
  view.vAttach(dlg);
  app.m_fnRunWindow = [&view](CMPToolDlg& d) { return nRunWindow(d, view); };
  const int nExit = app.nRun(argc, argv);
  app.m_fnRunWindow = nullptr;
  dlg.vSetView(headless);  // the widgets go before the logic does
  return nExit;
}

int nRunWindow(CMPToolDlg& dlg, CQtMainView& view) {
  std::string strError;
  std::unique_ptr<CPlatformSet> pPlatform = CPlatformSet::pCreate(dlg.clock(), strError);
  if (!pPlatform) {
    vDEBUG_ERR_printf(L, "bench: %s", strError.c_str());
    dlg.nShowProgramMSG(strError, MSG_TYPE_ERROR);
    return EXIT_RUN_FAILED;
  }
  CPlatformSet& platform = *pPlatform;
  IClock& clock = platform.clock();
  CUSBUtility& utility = dlg.utility();
  Ini& ini = dlg.ini();

  std::unique_ptr<IConfigForm> pForm = dlg.pNewConfigForm();
  CHubStack hubs(platform, utility, ini.m_pINI, dlg.m_ToolsDevList, *pForm,
                 CVlntUSBDev::EOperatorMessages::Box);
  CVlntUSBDev& dev = hubs.dev;
  dlg.m_pUSBDev = &hubs.dev;
  CFirmwareSelection firmware(hubs.images, *pForm);
  dlg.m_pHubImages = &hubs.images;
  dlg.m_pFirmwareSelection = &firmware;

  std::unique_ptr<IRunView> pRunView = dlg.pNewRunView();
  CWindowThread& window = dlg.windowThread();
  CSafeRemoval removal(utility, dlg.m_ToolsDevList, *pRunView, window, platform.scsi(), clock);
  // Line mode (MPTOOL_LINE_DB): serial numbers from the line, results to it.
  const std::unique_ptr<CLineStation> pLine = CLineStation::pFromEnvironment(utility.m_szAppPath);
  if (pLine) pLine->vConnectAhead();
  int nExit = EXIT_OK;
  {
    CRunEngine engine(utility, ini, dlg.m_ToolsDevList, hubs.devices, *pRunView, window, clock);
    RunEngineConfig config;
    config.cmdLine = dlg.cmdLine();
    config.cmdLine.m_bShowGUI = 1;
    config.fnSafelyRemove = [&removal] { removal.OnBnClickedButtonSafelyRemove(); };
    config.pEvents = &platform.events();
    config.pLine = pLine.get();
    engine.bConfigure(std::move(config));
    dlg.m_pRunEngine = &engine;
    dlg.m_fnConfigRead = [&dev](int n, uint8_t* pBuf, uint32_t dwSize) {
      return dev.VLN318xConfigRead(n, pBuf, dwSize, 0, true);
    };
    CPDUpdateDlg pd(platform.scsi(), clock, utility, dlg.m_ToolsDevList, platform.powerCycle());
    dlg.m_pPDUpdateDlg = &pd;

    dlg.vSetTextsFromTextTable();
    dlg.vRefreshAllFields();
    pRunView->vReadScreen(engine.screen());
    engine.vSetMainResultItemTable();
    engine.vRegisterDeviceNotification();
    dlg.vApplyIdleControls();

    const std::map<int, std::function<void()>> commands = {
        {IDC_BUTTON_START, [&dlg] { dlg.OnBnClickedButtonStart(); }},
        {IDC_BUTTON_SAFELY_REMOVE, [&removal] { removal.OnBnClickedButtonSafelyRemove(); }},
        {IDC_BUTTON_CLEAR, [&dlg] { dlg.OnBnClickedButtonClearcount(); }},
        {IDC_BUTTON_UNLOCK_MPTOOL, [&dlg] { dlg.OnBnClickedButtonUnlockMptool(); }},
        {IDC_BUTTON_EXIT, [&view] { view.window().close(); }},
        {IDC_BUTTON_LOAD_INI, [&dlg] { dlg.OnBnClickedButtonLoadini(); }},
        {IDC_BUTTON_SAVE_INI, [&dlg] { dlg.OnBnClickedButtonSaveIni(); }},
        {IDC_BUTTON_MORE_CONFIG, [&dlg] { dlg.OnBnClickedMoreConfig(); }},
        {IDC_BUTTON_CHECK_CONFIG, [&dlg] { dlg.OnBnClickedDEBUG(); }},
        {IDC_BUTTON_BROWSE_FW, [&dlg] { dlg.OnBnClickedButtonDevicwfirmwareFwbrowse(); }},
        {IDC_BUTTON_BROWSE_PRELOAD, [&dlg] { dlg.OnBnClickedButtonBrowsePreload(); }},
        {IDC_BUTTON_CREATE_CONFIG, [&dlg] { dlg.OnBnClickedCreateConfig(); }},
        {IDC_BUTTON_PD, [&dlg] { dlg.OnBnClickedPdBtn(); }},
        {IDM_ABOUTBOX, [&dlg] { dlg.OnAboutBox(); }},
    };
    view.window().vSetCommandHandler([&commands, &dlg](int nId) {
      auto it = commands.find(nId);
      try {
        // a field's change, then a setting's box or list, where the control is no button
        if (it == commands.end()) {
          if (!dlg.OnEnChangeField(nId)) dlg.OnSettingsControl(nId);
          return;
        }
        it->second();
      } catch (...) {
        vDEBUG_ERR_printf(L, "command %d failed", nId);
      }
    });
    // Closing stops every thread and runs the exit sequence before the window goes; the
    // event loop then ends.
    view.window().vSetCloseHandler([&dlg] {
      dlg.OnClose();
      QMetaObject::invokeMethod(
          qApp, [] { QApplication::exit(EXIT_OK); }, Qt::QueuedConnection);
      return true;
    });
    window.vPost([&engine] { engine.TriggerScanThread(); });
    view.vShowWindow(true);
    nExit = QApplication::exec();
    view.window().vSetCommandHandler({});
    view.window().vSetCloseHandler({});
    dlg.m_pRunEngine = nullptr;
    dlg.m_pPDUpdateDlg = nullptr;
    dlg.m_fnConfigRead = nullptr;
    dlg.m_pFirmwareSelection = nullptr;
    dlg.m_pHubImages = nullptr;
    // No window loop runs any more: calls the threads still hand over are dropped at once.
    window.vQuit(nExit);
    if (!removal.bWaitDone(SAFE_REMOVAL_FINISH_MS))
      vDEBUG_ERR_printf(L, "safe removal still running at the end");
    platform.events().vStop();
  }  // the engine stops and joins its threads here
  dlg.m_pUSBDev = nullptr;
  return nExit;
}
