#include "ui/qt/MainWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QWindow>

#include "ui/ControlIds.h"
#include "ui/UiTextTable.h"
#include "ui_MainWindow.h"

CMainWindow::CMainWindow(QWidget* pParent) : QWidget(pParent), m_pUi(new Ui::MainWindow) {
  m_pUi->setupUi(this);
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
  for (QWidget* pWidget : findChildren<QWidget*>()) {
    const QVariant id = pWidget->property("ctrlId");
    if (id.isValid()) m_controls[id.toInt()] = pWidget;
  }
  for (auto& [nId, pWidget] : m_controls) {
    const int nCommand = nId;
    if (auto* pButton = qobject_cast<QAbstractButton*>(pWidget)) {
      if (nId == IDC_BUTTON_MIN)
        connect(pButton, &QAbstractButton::clicked, this, &QWidget::showMinimized);
      else
        connect(pButton, &QAbstractButton::clicked, this, [this, nCommand] { vSendCommand(nCommand); });
    } else if (auto* pCombo = qobject_cast<QComboBox*>(pWidget)) {
      connect(pCombo, &QComboBox::activated, this, [this, nCommand] { vSendCommand(nCommand); });
    } else if (auto* pEdit = qobject_cast<QLineEdit*>(pWidget)) {
      // the operator's changes only: what the logic writes back sends nothing
      connect(pEdit, &QLineEdit::textEdited, this, [this, nCommand] { vSendCommand(nCommand); });
    }
  }
  // The window has no title bar and so no system menu: its about box is in the context menu.
  m_pAbout = new QAction(QString::fromStdString(uiTexts().str(uiTexts().m_nAboutTexts, 0)), this);
  connect(m_pAbout, &QAction::triggered, this, [this] { vSendCommand(IDM_ABOUTBOX); });
  addAction(m_pAbout);
  setContextMenuPolicy(Qt::ActionsContextMenu);
  // Enter and Escape are looked at before any control sees them, as a dialog's message
  // pre-translation would.
  qApp->installEventFilter(this);
}

CMainWindow::~CMainWindow() {
  qApp->removeEventFilter(this);
  delete m_pUi;
}

QWidget* CMainWindow::pControl(int nId) const {
  auto it = m_controls.find(nId);
  return it == m_controls.end() ? nullptr : it->second;
}

void CMainWindow::vSendCommand(int nId) {
  if (m_fnCommand) m_fnCommand(nId);
}

bool CMainWindow::eventFilter(QObject* pWatched, QEvent* pEvent) {
  if (pEvent->type() != QEvent::KeyPress) return QWidget::eventFilter(pWatched, pEvent);
  auto* pWidget = qobject_cast<QWidget*>(pWatched);
  if (!pWidget || pWidget->window() != this) return QWidget::eventFilter(pWatched, pEvent);
  const int nKey = static_cast<QKeyEvent*>(pEvent)->key();
  const bool bEnter = nKey == Qt::Key_Return || nKey == Qt::Key_Enter;
  if (!bEnter && nKey != Qt::Key_Escape) return QWidget::eventFilter(pWatched, pEvent);
  QWidget* pStart = pControl(IDC_BUTTON_START);
  if (!pStart || !pStart->isEnabled()) return QWidget::eventFilter(pWatched, pEvent);
  vSendCommand(bEnter ? IDC_BUTTON_START : IDC_BUTTON_SAFELY_REMOVE);
  return true;
}

void CMainWindow::mousePressEvent(QMouseEvent* pEvent) {
  if (pEvent->button() != Qt::LeftButton) return QWidget::mousePressEvent(pEvent);
  // The window manager moves the window where it can; elsewhere (no window manager, the
  // offscreen platform) the window follows the mouse itself.
  if (windowHandle() && windowHandle()->startSystemMove()) return;
  m_bDragging = true;
  m_dragOffset = pEvent->globalPosition().toPoint() - frameGeometry().topLeft();
  grabMouse();
}

void CMainWindow::mouseMoveEvent(QMouseEvent* pEvent) {
  if (!m_bDragging) return QWidget::mouseMoveEvent(pEvent);
  move(pEvent->globalPosition().toPoint() - m_dragOffset);
}

void CMainWindow::mouseReleaseEvent(QMouseEvent* pEvent) {
  if (!m_bDragging) return QWidget::mouseReleaseEvent(pEvent);
  m_bDragging = false;
  releaseMouse();
}

void CMainWindow::closeEvent(QCloseEvent* pEvent) {
  if (m_fnClose && !m_fnClose()) {
    pEvent->ignore();
    return;
  }
  pEvent->accept();
}
