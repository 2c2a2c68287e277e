#include "ui/qt/SerialNumberDialog.h"

#include <QKeyEvent>
#include <QLineEdit>

#include "settings/SerialNumber.h"
#include "ui_SerialNumberDialog.h"

CSerialNumberDialog::CSerialNumberDialog(CSNDlgData& data, std::function<bool()> fnDevicePresent,
                                         QWidget* pParent)
    : QDialog(pParent),
      m_pUi(new Ui::SerialNumberDialog),
      m_data(data),
      m_fnDevicePresent(std::move(fnDevicePresent)) {
  m_pUi->setupUi(this);
  m_data.OnInitDialog();
  m_data.m_strSNandPStringDlgPCBSN.clear();
  QLineEdit* pField = m_pUi->IDC_EDIT_PCB_SN;
  pField->clear();
  pField->setMaxLength(static_cast<int>(m_data.nFieldLimit()));
  connect(pField, &QLineEdit::textEdited, this, [this, pField](const QString& s) {
    const bool bPresent = m_fnDevicePresent && m_fnDevicePresent();
    const QString kept =
        QString::fromStdString(m_data.OnEnChangeEditSNandPStringDlgPCBSN(s.toStdString(), bPresent));
    if (kept != s) {
      const int nCaret = pField->cursorPosition();
      pField->setText(kept);
      pField->setCursorPosition(std::min(nCaret, static_cast<int>(kept.size())));
    }
  });
  installEventFilter(this);
  for (QWidget* p : findChildren<QWidget*>()) p->installEventFilter(this);
  pField->setFocus();
}

CSerialNumberDialog::~CSerialNumberDialog() {
  delete m_pUi;
}

QLineEdit* CSerialNumberDialog::field() const {
  return m_pUi->IDC_EDIT_PCB_SN;
}

void CSerialNumberDialog::vTakeKeyboard() {
  // Activation arrives later as its own event; until then it is not asked for again.
  if (!isActiveWindow() && !m_bActivating) {
    m_bActivating = true;
    raise();
    activateWindow();
  }
  if (!field()->hasFocus()) field()->setFocus();
}

bool CSerialNumberDialog::eventFilter(QObject* pWatched, QEvent* pEvent) {
  switch (pEvent->type()) {
    // what the operator (or the system, repainting) sends the dialog: each takes the
    // keyboard back first
    case QEvent::Paint:
    case QEvent::MouseMove:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::Enter:
    case QEvent::HoverMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
      break;
    case QEvent::WindowActivate:
    case QEvent::WindowDeactivate:  // after one, another window may take it: the next event asks again
      m_bActivating = false;
      return QDialog::eventFilter(pWatched, pEvent);
    default:
      return QDialog::eventFilter(pWatched, pEvent);
  }
  if (isVisible()) vTakeKeyboard();
  if (pEvent->type() == QEvent::KeyPress) {
    const int nKey = static_cast<QKeyEvent*>(pEvent)->key();
    if (nKey == Qt::Key_Return || nKey == Qt::Key_Enter) {
      // the field's text is what the change handler last kept
      if (m_data.bOnEnter()) {
        field()->setText(QString::fromStdString(m_data.m_strSNandPStringDlgPCBSN));
        accept();
      } else {
        field()->clear();
      }
      return true;
    }
  }
  return QDialog::eventFilter(pWatched, pEvent);
}
