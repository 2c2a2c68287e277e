#include "ui/qt/QtMainView.h"

#include <QDialog>

#include "log/DebugLog.h"
#include "ui/ControlIds.h"
#include "ui/LoginDlg.h"
#include "ui/MPToolDlg.h"
#include "ui/PDUpdateDlg.h"
#include "ui/qt/AboutDialog.h"
#include "ui/qt/CheckConfigDialog.h"
#include "ui/qt/LoginDialog.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/MoreConfigDialog.h"
#include "ui/qt/PDUpdateDialog.h"
#include "ui/qt/SerialNumberDialog.h"

static void vInitResources() {
  Q_INIT_RESOURCE(mptool);
}

CMainWindow* CQtMainView::pNewWindow() {
  vInitResources();
  return new CMainWindow;
}

CQtMainView::CQtMainView(CWindowThread& windowThread) : CQtMainView(windowThread, pNewWindow()) {}

CQtMainView::CQtMainView(CWindowThread& windowThread, CMainWindow* pWindow)
    : CQtControlView(windowThread, pWindow, [pWindow](int nId) { return pWindow->pControl(nId); }),
      m_pWindow(pWindow) {
  // A call handed to the window thread wakes Qt's event loop, which runs it soon. The wake-up
  // belongs to the window: once the window is gone, a wake-up still queued is dropped with
  // it (the threads that hand calls over end before the view does).
  CWindowThread* pThread = &windowThread;
  windowThread.vSetWakeup([pThread, pWindow] {
    QMetaObject::invokeMethod(
        pWindow, [pThread] { pThread->nRunPending(); }, Qt::QueuedConnection);
  });
  // Calls queued before this view existed run now.
  QMetaObject::invokeMethod(
      pWindow, [pThread] { pThread->nRunPending(); }, Qt::QueuedConnection);
}

CQtMainView::~CQtMainView() {
  windowThread().vSetWakeup({});
  delete m_pWindow;
}

std::string CQtMainView::strGetText(int nId) {
  if (nId == IDC_EDIT_LOGIN_PASSWORD) {
    std::lock_guard l(m_mutex);
    return m_strLoginPassword;
  }
  return CQtControlView::strGetText(nId);
}

int CQtMainView::nRunDialog(EModalDialog eDialog) {
  auto result = [](int n) { return n == QDialog::Accepted ? IDOK : IDCANCEL; };
  if (eDialog == EModalDialog::Login) {
    CLoginDialog dlg(m_pWindow);
    const int nResult = result(dlg.exec());
    std::lock_guard l(m_mutex);
    m_strLoginPassword = nResult == IDOK ? dlg.strPassword() : std::string();
    return nResult;
  }
  if (eDialog == EModalDialog::About) {
    CAboutDialog dlg(m_pWindow);
    return result(dlg.exec());
  }
  if (m_pDlg && eDialog == EModalDialog::MoreConfig) {
    CMoreConfigDialog dlg(m_pDlg->m_moreConfigDlg, bGetCheck(IDC_CHECK_UPDATE_FW), m_pWindow);
    return result(dlg.exec());
  }
  if (m_pDlg && eDialog == EModalDialog::SerialNumber) {
    CMPToolDlg* pDlg = m_pDlg;
    CSerialNumberDialog dlg(
        pDlg->snDlg(), [pDlg] { return pDlg->bDevicePresent(); }, m_pWindow);
    return result(dlg.exec());
  }
  if (m_pDlg && eDialog == EModalDialog::CheckConfig) {
    CCheckConfigDialog dlg(
        m_pDlg->m_debugDlg, m_pDlg->m_ToolsDevList, m_pDlg->m_fnConfigRead,
        [this](const std::string& s) { nMessageBox(s, "", MB_OK); }, m_pWindow);
    return result(dlg.exec());
  }
  if (m_pDlg && m_pDlg->m_pPDUpdateDlg && eDialog == EModalDialog::PowerDelivery) {
    CPDUpdateDialog dlg(*m_pDlg->m_pPDUpdateDlg, windowThread(), scripts(), m_pWindow);
    return result(dlg.exec());
  }
  return CQtControlView::nRunDialog(eDialog);
}
