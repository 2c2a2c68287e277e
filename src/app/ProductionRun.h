// The window-less production run ("/S", "/S:") is one of the window-less modes; they share
// one runner (app/WindowlessRun.h). This name stays for the callers that run a production.
#pragma once

#include "app/WindowlessRun.h"

inline int nRunProductionWithoutWindow(CMPToolDlg& dlg) {
  return nRunWithoutWindow(dlg);
}
