// Creates the process-wide objects once and hands them by reference.
#include "app/MPToolApp.h"
#include "app/WindowMode.h"
#include "host/USBUtility.h"
#include "host/WindowThread.h"
#include "platform/Clock.h"
#include "settings/Ini.h"
#include "ui/CmdLine.h"
#include "ui/HeadlessMainView.h"
#include "ui/MPToolDlg.h"

int main(int argc, char** argv) {
  CScaledClock clock(1.0);
  CUSBUtility utility(clock);  // first: it sets up the diagnostic log
  Ini ini;
  CHeadlessMainView view;
  CWindowThread windowThread;
  CMPToolDlg dlg(utility, ini, view, windowThread, clock);
  CMPToolApp app(dlg);
  if (bCmdLineOpensWindow(strNormaliseCmdLine(strJoinArguments(argc, argv))))
    return nRunWindowProcess(app, dlg, argc, argv);
  return app.nRun(argc, argv);
}
