#include "ui/qt/PDUpdateDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "log/DebugLog.h"
#include "ui/ControlIds.h"
#include "ui/PDUpdateDlg.h"

namespace {
const char* L = "CPDUpdateDialog";
// The port marker's picture, when the program folder brings one.
const char* PD_MARKER_PICTURE = "./res/pd.bmp";
}  // namespace

CPDUpdateDialog::CPDUpdateDialog(CPDUpdateDlg& dlg, CWindowThread& windowThread,
                                 std::shared_ptr<CQtControlView::CScripts> pScripts, QWidget* pParent)
    : QDialog(pParent), m_dlg(dlg) {
  vBuild();
  m_pView = std::make_unique<CQtControlView>(
      windowThread, this, [this](int nId) { return pControl(nId); }, std::move(pScripts));
  m_timer.setInterval(static_cast<int>(PD_TIMER_MS));
  connect(&m_timer, &QTimer::timeout, this, [this] {
    try {
      m_dlg.OnTimer();
    } catch (...) {
      vDEBUG_ERR_printf(L, "timer failed");
    }
  });
}

CPDUpdateDialog::~CPDUpdateDialog() {
  vLetGo();
  m_pView.reset();  // calls still queued for the widgets are dropped with it
}

void CPDUpdateDialog::vBuild() {
  setWindowTitle("Dialog");
  auto add = [this](int nId, QWidget* pWidget) {
    pWidget->setProperty("ctrlId", nId);
    m_controls[nId] = pWidget;
    return pWidget;
  };
  auto button = [&](int nId, const char* pszText) {
    auto* p = new QPushButton(pszText);
    // Enter presses no button: Start and Verify write firmware and want a click.
    p->setAutoDefault(false);
    p->setDefault(false);
    add(nId, p);
    return p;
  };
  auto versionLabel = [&](int nId) {
    auto* p = new QLabel("FFFF");
    p->setMinimumWidth(80);
    add(nId, p);
    return p;
  };

  auto* pMcu = new QGroupBox("MCU");
  auto* pMcuLayout = new QGridLayout(pMcu);
  pMcuLayout->addWidget(add(IDC_CHECK_MCU_FWUPG_ENABLE, new QCheckBox("MCU FW Update")), 0, 0);
  pMcuLayout->addWidget(button(IDC_BUTTON_MCU_FIRMWARE_FWBROWSE, "MCU Browse FW"), 0, 1);
  auto* pMcuList = new QComboBox;
  pMcuList->setMinimumWidth(360);
  pMcuLayout->addWidget(add(IDC_COMBO_MCU_FIRMWARE_FWBROWSE, pMcuList), 1, 0, 1, 2);

  auto* pPd = new QGroupBox("PD");
  auto* pPdLayout = new QGridLayout(pPd);
  pPdLayout->addWidget(add(IDC_CHECK_PD_FWUPG_ENABLE, new QCheckBox("PD FW Update")), 0, 0);
  pPdLayout->addWidget(button(IDC_BUTTON_PD_FIRMWARE_FWBROWSE, "PD Browse FW"), 0, 1);
  pPdLayout->addWidget(versionLabel(IDC_STATIC_PD_FILE_VERSION), 0, 2);
  auto* pPdList = new QComboBox;
  pPdList->setMinimumWidth(360);
  pPdLayout->addWidget(add(IDC_COMBO_PD_FIRMWARE_FWBROWSE, pPdList), 1, 0, 1, 3);

  auto* pStatus = new QGroupBox("PD Status");
  auto* pStatusLayout = new QGridLayout(pStatus);
  const bool bMarker = QFile::exists(PD_MARKER_PICTURE);
  const QPixmap marker = bMarker ? QPixmap(PD_MARKER_PICTURE) : QPixmap();
  for (int i = 0; i < PD_PORTS; ++i) {
    auto* pMarker = new QLabel;
    if (!marker.isNull()) pMarker->setPixmap(marker.scaledToHeight(24, Qt::SmoothTransformation));
    pStatusLayout->addWidget(add(IDC_PD_PORT_MARKER[i], pMarker), i, 0);
    pStatusLayout->addWidget(versionLabel(IDC_PD_PORT_VERSION[i]), i, 1);
    auto* pBar = new QProgressBar;
    pBar->setRange(0, 100);
    pBar->setValue(0);
    pBar->setTextVisible(true);
    pBar->setMinimumWidth(200);
    pStatusLayout->addWidget(add(IDC_PD_PORT_PROGRESS[i], pBar), i, 2);
    auto* pState = new QLabel;
    pState->setMinimumWidth(120);
    pStatusLayout->addWidget(add(IDC_PD_PORT_STATUS[i], pState), i, 3);
  }

  auto* pButtons = new QHBoxLayout;
  pButtons->addWidget(button(IDC_BUTTON_PD_START, "PD FW Update"));
  pButtons->addWidget(button(IDC_BUTTON_PD_FW_VERIFY, "PD FW Verify"));
  pButtons->addStretch();
  pButtons->addWidget(button(IDC_PD_CLOSE, "Close"));

  auto* pLayout = new QVBoxLayout(this);
  pLayout->addWidget(pMcu);
  pLayout->addWidget(pPd);
  pLayout->addWidget(pStatus);
  pLayout->addLayout(pButtons);

  for (auto& [nId, pWidget] : m_controls) {
    // the operator's clicks only: what the logic sets sends nothing
    if (auto* pButton = qobject_cast<QAbstractButton*>(pWidget)) {
      const int nCommand = nId;
      connect(pButton, &QAbstractButton::clicked, this, [this, nCommand] { vCommand(nCommand); });
    }
  }
}

QWidget* CPDUpdateDialog::pControl(int nId) const {
  auto it = m_controls.find(nId);
  return it == m_controls.end() ? nullptr : it->second;
}

void CPDUpdateDialog::vCommand(int nId) {
  try {
    m_dlg.vOnCommand(nId);
  } catch (...) {
    vDEBUG_ERR_printf(L, "command %d failed", nId);
  }
  if (nId == IDC_PD_CLOSE) reject();
}

void CPDUpdateDialog::showEvent(QShowEvent* pEvent) {
  QDialog::showEvent(pEvent);
  if (m_bOpened) return;
  m_bOpened = true;
  bool bOpen = false;
  try {
    bOpen = m_dlg.OnInitDialog(*m_pView);
  } catch (...) {
    vDEBUG_ERR_printf(L, "opening failed");
  }
  if (!bOpen) {
    // (queued: the dialog's own event loop is not running yet while it shows)
    QMetaObject::invokeMethod(
        this, [this] { QDialog::reject(); }, Qt::QueuedConnection);
    return;
  }
  m_timer.start();
}

void CPDUpdateDialog::reject() {
  bool bClose = true;
  try {
    bClose = !m_bOpened || m_dlg.OnBnClickedClose();
  } catch (...) {
    vDEBUG_ERR_printf(L, "close request failed");
  }
  if (!bClose) return;
  m_timer.stop();
  QDialog::reject();
}

void CPDUpdateDialog::vLetGo() {
  if (m_bLetGo) return;
  m_bLetGo = true;
  m_timer.stop();
  try {
    m_dlg.vWindowClosed();
  } catch (...) {
    vDEBUG_ERR_printf(L, "closing failed");
  }
}
