// The PD dialog's widgets: the MCU and PD firmware choices, each bridge's PD version, progress
// and status (ports 0..3), Start, Verify and Close. What they do is CPDUpdateDlg's business:
// it reaches the widgets through a control view of their own (the PD control ids repeat some
// of the main window's), and every button and check box goes to it by its control id.
//
// The logic prepares the widgets when the dialog shows; when it finds nothing to work on, the
// dialog closes at once. A 100 ms timer drives its progress. Every close request (Close,
// Escape, the window manager) asks the logic first, which keeps the dialog open while it
// updates. The logic lets go of the view before the widgets go.
#pragma once

#include <QDialog>
#include <QTimer>
#include <map>
#include <memory>

#include "ui/qt/QtControlView.h"

class CPDUpdateDlg;

class CPDUpdateDialog : public QDialog {
  Q_OBJECT

 public:
  // pScripts: the scripts that answer the dialog's boxes and file dialogs (the main view's).
  CPDUpdateDialog(CPDUpdateDlg& dlg, CWindowThread& windowThread,
                  std::shared_ptr<CQtControlView::CScripts> pScripts, QWidget* pParent = nullptr);
  ~CPDUpdateDialog() override;
  CPDUpdateDialog(const CPDUpdateDialog&) = delete;
  CPDUpdateDialog& operator=(const CPDUpdateDialog&) = delete;

  // The widget of a PD control id; null when the dialog has none.
  QWidget* pControl(int nId) const;
  CQtControlView& view() { return *m_pView; }
  // The close request: closes only when the logic agrees.
  void reject() override;

 protected:
  void showEvent(QShowEvent* pEvent) override;

 private:
  void vBuild();
  void vCommand(int nId);
  void vLetGo();

  CPDUpdateDlg& m_dlg;
  std::map<int, QWidget*> m_controls;
  std::unique_ptr<CQtControlView> m_pView;
  QTimer m_timer;
  bool m_bOpened = false;  // the logic has prepared the widgets
  bool m_bLetGo = false;   // the logic has let go of the view
};
