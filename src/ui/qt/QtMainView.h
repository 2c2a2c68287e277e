// The main window's view in Qt Widgets: the control view over the widgets of CMainWindow, the
// window's modal dialogs, and the wake-up that has Qt's event loop run the calls other
// threads hand to the window thread (see CQtControlView for threads and scripts).
#pragma once

#include <mutex>
#include <string>

#include "ui/qt/QtControlView.h"

class CMainWindow;
class CMPToolDlg;

class CQtMainView : public CQtControlView {
 public:
  // Builds the window (hidden) on the calling thread, which must be the GUI thread and the
  // window thread.
  explicit CQtMainView(CWindowThread& windowThread);
  ~CQtMainView() override;
  CQtMainView(const CQtMainView&) = delete;
  CQtMainView& operator=(const CQtMainView&) = delete;

  CMainWindow& window() { return *m_pWindow; }
  // The window's logic, whose dialog data the dialogs edit (More Config, serial number,
  // configuration check, PD). Without it those dialogs answer Cancel.
  void vAttach(CMPToolDlg& dlg) { m_pDlg = &dlg; }

  // The login dialog's password is what it closed with, not a control of this window.
  std::string strGetText(int nId) override;

 protected:
  int nRunDialog(EModalDialog eDialog) override;

 private:
  CQtMainView(CWindowThread& windowThread, CMainWindow* pWindow);
  static CMainWindow* pNewWindow();

  CMainWindow* m_pWindow;
  CMPToolDlg* m_pDlg = nullptr;
  std::mutex m_mutex;              // the login password
  std::string m_strLoginPassword;  // what the last login dialog closed with
};
