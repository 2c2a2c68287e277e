#include "ui/qt/QtControlView.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QTableWidget>
#include <algorithm>

#include "log/DebugLog.h"

namespace {

QColor colour(uint32_t rgb) {
  return QColor(static_cast<int>(rgb & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                static_cast<int>((rgb >> 16) & 0xFF));
}
QString qs(const std::string& s) {
  return QString::fromStdString(s);
}

// "Text (*.ini)|*.ini|Other|*.x||" as Qt's "Text (*.ini);;Other (*.x)".
QString strQtFilter(const std::string& strFilter) {
  QStringList parts = qs(strFilter).split('|');
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].isEmpty()) break;
    filters << (parts[i].contains('(') ? parts[i] : parts[i] + " (" + parts[i + 1] + ")");
  }
  return filters.join(";;");
}

}  // namespace

// ---- scripts ----

void CQtControlView::CScripts::setNextAnswer(int nAnswer) {
  std::lock_guard l(m_mutex);
  m_answers.push_back(nAnswer);
}

void CQtControlView::CScripts::setNextFileName(const std::string& strPath) {
  std::lock_guard l(m_mutex);
  m_fileNames.push_back(strPath);
}

std::vector<CQtControlView::Box> CQtControlView::CScripts::boxes() const {
  std::lock_guard l(m_mutex);
  return m_boxes;
}

std::vector<FilePick> CQtControlView::CScripts::filePicks() const {
  std::lock_guard l(m_mutex);
  return m_picks;
}

bool CQtControlView::CScripts::bAnswerBox(const Box& box, int& nAnswer) {
  std::lock_guard l(m_mutex);
  m_boxes.push_back(box);
  if (m_answers.empty()) return false;
  nAnswer = m_answers.front();
  m_answers.pop_front();
  return true;
}

bool CQtControlView::CScripts::bAnswerPick(const FilePick& pick, std::string& strPath) {
  std::lock_guard l(m_mutex);
  m_picks.push_back(pick);
  if (m_fileNames.empty()) return false;
  strPath = m_fileNames.front();
  m_fileNames.pop_front();
  return true;
}

// ---- the view ----

CQtControlView::CQtControlView(CWindowThread& windowThread, QWidget* pWindow,
                               std::function<QWidget*(int)> fnControl, std::shared_ptr<CScripts> pScripts)
    : m_windowThread(windowThread),
      m_pWindow(pWindow),
      m_fnControl(std::move(fnControl)),
      m_pScripts(pScripts ? std::move(pScripts) : std::make_shared<CScripts>()) {}

CQtControlView::~CQtControlView() {
  *m_pAlive = false;
}

QWidget* CQtControlView::pControl(int nId) const {
  return m_fnControl ? m_fnControl(nId) : nullptr;
}

template <class T>
T CQtControlView::onWindowResult(std::function<T()> fn, T def) {
  if (m_windowThread.bIsWindowThread()) return fn();
  T result = def;
  m_windowThread.bSend([&, pAlive = m_pAlive] {
    if (*pAlive) result = fn();
  });
  return result;
}

void CQtControlView::vOnWindow(std::function<void()> fn) {
  if (m_windowThread.bIsWindowThread()) {
    fn();
    return;
  }
  m_windowThread.vPost([pAlive = m_pAlive, fn = std::move(fn)] {
    if (*pAlive) fn();
  });
}

// ---- operator questions ----

int CQtControlView::nMessageBox(const std::string& strText, const std::string& strCaption, uint32_t uFlags) {
  int nAnswer = 0;
  if (m_pScripts->bAnswerBox({strText, strCaption, uFlags}, nAnswer)) return nAnswer;
  return onWindowResult<int>([&] { return nShowMessageBox(strText, strCaption, uFlags); },
                             nSafeAnswer(uFlags));
}

int CQtControlView::nShowMessageBox(const std::string& strText, const std::string& strCaption,
                                    uint32_t uFlags) {
  QMessageBox box(m_pWindow);
  box.setWindowTitle(qs(strCaption));
  box.setText(qs(strText));
  switch (uFlags & MB_ICONMASK) {
    case MB_ICONERROR:
      box.setIcon(QMessageBox::Critical);
      break;
    case MB_ICONQUESTION:
      box.setIcon(QMessageBox::Question);
      break;
    case MB_ICONWARNING:
      box.setIcon(QMessageBox::Warning);
      break;
    case MB_ICONINFORMATION:
      box.setIcon(QMessageBox::Information);
      break;
    default:
      break;
  }
  std::vector<std::pair<QMessageBox::StandardButton, int>> buttons;
  switch (uFlags & MB_TYPEMASK) {
    case MB_OKCANCEL:
      buttons = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
      break;
    case MB_ABORTRETRYIGNORE:
      buttons = {
          {QMessageBox::Abort, IDABORT}, {QMessageBox::Retry, IDRETRY}, {QMessageBox::Ignore, IDIGNORE}};
      break;
    case MB_YESNOCANCEL:
      buttons = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
      break;
    case MB_YESNO:
      buttons = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
      break;
    case MB_RETRYCANCEL:
      buttons = {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}};
      break;
    default:
      buttons = {{QMessageBox::Ok, IDOK}};
      break;
  }
  QMessageBox::StandardButtons all;
  for (auto& b : buttons) all |= b.first;
  box.setStandardButtons(all);
  box.exec();
  const QMessageBox::StandardButton clicked = box.standardButton(box.clickedButton());
  for (auto& b : buttons)
    if (b.first == clicked) return b.second;
  return nSafeAnswer(uFlags);  // closed without a button
}

std::string CQtControlView::strPickFile(const FilePick& pick) {
  std::string strPath;
  if (m_pScripts->bAnswerPick(pick, strPath)) return strPath;
  return onWindowResult<std::string>([&] { return strShowFileDialog(pick); }, std::string());
}

std::string CQtControlView::strShowFileDialog(const FilePick& pick) {
  const QString filter = strQtFilter(pick.strFilter);
  QString path;
  if (pick.bFolder)
    path = QFileDialog::getExistingDirectory(m_pWindow, qs(pick.strTitle), qs(pick.strInitialPath));
  else if (pick.bSave)
    path = QFileDialog::getSaveFileName(m_pWindow, qs(pick.strTitle), qs(pick.strInitialPath), filter);
  else
    path = QFileDialog::getOpenFileName(m_pWindow, qs(pick.strTitle), qs(pick.strInitialPath), filter);
  return path.toStdString();
}

int CQtControlView::nRunModal(EModalDialog eDialog) {
  return onWindowResult<int>([&] { return nRunDialog(eDialog); }, IDCANCEL);
}

int CQtControlView::nRunDialog(EModalDialog eDialog) {
  vDEBUG_WRN_printf("CQtControlView::nRunModal", "dialog %d is not part of this window yet",
                    static_cast<int>(eDialog));
  return IDCANCEL;
}

// ---- controls ----

void CQtControlView::vSetText(int nId, const std::string& strText) {
  vOnWindow([this, nId, strText] {
    QWidget* p = pControl(nId);
    const QString s = qs(strText);
    if (auto* pEdit = qobject_cast<QLineEdit*>(p)) {
      // the caret stays where it was (a filtered keystroke leaves it in place)
      const int nCaret = pEdit->cursorPosition();
      pEdit->setText(s);
      pEdit->setCursorPosition(std::min(nCaret, static_cast<int>(s.size())));
    } else if (auto* pCombo = qobject_cast<QComboBox*>(p)) {
      if (pCombo->isEditable()) {
        pCombo->setEditText(s);
      } else {
        int n = pCombo->findText(s);
        if (n < 0) pCombo->addItem(s), n = pCombo->count() - 1;
        pCombo->setCurrentIndex(n);
      }
    } else if (auto* pLabel = qobject_cast<QLabel*>(p))
      pLabel->setText(s);
    else if (auto* pButton = qobject_cast<QAbstractButton*>(p))
      pButton->setText(s);
    else if (auto* pGroup = qobject_cast<QGroupBox*>(p))
      pGroup->setTitle(s);
    else if (auto* pBar = qobject_cast<QProgressBar*>(p))
      pBar->setFormat(s);
  });
}

std::string CQtControlView::strGetText(int nId) {
  return onWindowResult<std::string>(
      [this, nId] {
        QWidget* p = pControl(nId);
        QString s;
        if (auto* pEdit = qobject_cast<QLineEdit*>(p))
          s = pEdit->text();
        else if (auto* pCombo = qobject_cast<QComboBox*>(p))
          s = pCombo->currentText();
        else if (auto* pLabel = qobject_cast<QLabel*>(p))
          s = pLabel->text();
        else if (auto* pButton = qobject_cast<QAbstractButton*>(p))
          s = pButton->text();
        else if (auto* pGroup = qobject_cast<QGroupBox*>(p))
          s = pGroup->title();
        return s.toStdString();
      },
      std::string());
}

void CQtControlView::vShowControl(int nId, bool bShow) {
  vOnWindow([this, nId, bShow] {
    if (QWidget* p = pControl(nId)) p->setVisible(bShow);
  });
}

void CQtControlView::vEnableControl(int nId, bool bEnable) {
  vOnWindow([this, nId, bEnable] {
    if (QWidget* p = pControl(nId)) p->setEnabled(bEnable);
  });
}

void CQtControlView::vSetReadOnly(int nId, bool bReadOnly) {
  vOnWindow([this, nId, bReadOnly] {
    if (auto* p = qobject_cast<QLineEdit*>(pControl(nId))) p->setReadOnly(bReadOnly);
  });
}

void CQtControlView::vSetCheck(int nId, bool bChecked) {
  vOnWindow([this, nId, bChecked] {
    if (auto* p = qobject_cast<QAbstractButton*>(pControl(nId))) p->setChecked(bChecked);
  });
}

bool CQtControlView::bGetCheck(int nId) {
  return onWindowResult<bool>(
      [this, nId] {
        auto* p = qobject_cast<QAbstractButton*>(pControl(nId));
        return p && p->isChecked();
      },
      false);
}

void CQtControlView::vSetList(int nId, const std::vector<std::string>& items) {
  vOnWindow([this, nId, items] {
    auto* p = qobject_cast<QComboBox*>(pControl(nId));
    if (!p) return;
    p->clear();
    for (const auto& s : items) p->addItem(qs(s));
  });
}

void CQtControlView::vSetListSelection(int nId, int nIndex) {
  vOnWindow([this, nId, nIndex] {
    if (auto* p = qobject_cast<QComboBox*>(pControl(nId))) p->setCurrentIndex(nIndex);
  });
}

int CQtControlView::nGetListSelection(int nId) {
  return onWindowResult<int>(
      [this, nId] {
        auto* p = qobject_cast<QComboBox*>(pControl(nId));
        return p ? p->currentIndex() : -1;
      },
      -1);
}

void CQtControlView::vSetFont(int nId, const FontSpec& font) {
  vOnWindow([this, nId, font] {
    QWidget* p = pControl(nId);
    if (!p) return;
    QFont f(qs(font.strFace));
    if (font.nHeight > 0) f.setPixelSize(font.nHeight);
    f.setBold(font.nWeight >= 700);
    p->setFont(f);
  });
}

void CQtControlView::vSetTextColour(int nId, uint32_t rgb) {
  vOnWindow([this, nId, rgb] {
    QWidget* p = pControl(nId);
    if (!p) return;
    QPalette pal = p->palette();
    pal.setColor(QPalette::WindowText, colour(rgb));
    pal.setColor(QPalette::Text, colour(rgb));
    p->setPalette(pal);
  });
}

void CQtControlView::vSetToolTip(int nId, const std::string& strTip) {
  vOnWindow([this, nId, strTip] {
    if (QWidget* p = pControl(nId)) p->setToolTip(qs(strTip));
  });
}

void CQtControlView::vSetFocus(int nId) {
  vOnWindow([this, nId] {
    if (QWidget* p = pControl(nId)) p->setFocus();
  });
}

void CQtControlView::vShowWindow(bool bShow) {
  vOnWindow([this, bShow] { m_pWindow->setVisible(bShow); });
}

void CQtControlView::vSetTitle(const std::string& strTitle) {
  vOnWindow([this, strTitle] { m_pWindow->setWindowTitle(qs(strTitle)); });
}

// ---- result table ----

void CQtControlView::vSetTableColumns(int nId, const std::vector<std::string>& titles,
                                      const std::vector<int>& widths) {
  vOnWindow([this, nId, titles, widths] {
    auto* p = qobject_cast<QTableWidget*>(pControl(nId));
    if (!p) return;
    p->setColumnCount(static_cast<int>(titles.size()));
    QStringList labels;
    for (const auto& s : titles) labels << qs(s);
    p->setHorizontalHeaderLabels(labels);
    for (size_t i = 0; i < widths.size() && i < titles.size(); ++i)
      if (widths[i] >= 0) p->setColumnWidth(static_cast<int>(i), widths[i]);
  });
}

void CQtControlView::vSetTableCell(int nId, int nRow, int nColumn, const std::string& strText,
                                   uint32_t rgbText, uint32_t rgbBackground) {
  vOnWindow([this, nId, nRow, nColumn, strText, rgbText, rgbBackground] {
    auto* p = qobject_cast<QTableWidget*>(pControl(nId));
    if (!p || nRow < 0 || nColumn < 0) return;
    if (nRow >= p->rowCount()) p->setRowCount(nRow + 1);
    if (nColumn >= p->columnCount()) p->setColumnCount(nColumn + 1);
    QTableWidgetItem* pItem = p->item(nRow, nColumn);
    if (!pItem) {
      pItem = new QTableWidgetItem;
      p->setItem(nRow, nColumn, pItem);
    }
    pItem->setText(qs(strText));
    pItem->setForeground(colour(rgbText));
    pItem->setBackground(colour(rgbBackground));
  });
}

void CQtControlView::vClearTable(int nId) {
  vOnWindow([this, nId] {
    if (auto* p = qobject_cast<QTableWidget*>(pControl(nId))) p->setRowCount(0);
  });
}

// ---- progress bars and pictures ----

void CQtControlView::vSetProgressRange(int nId, int nLow, int nHigh) {
  vOnWindow([this, nId, nLow, nHigh] {
    if (auto* p = qobject_cast<QProgressBar*>(pControl(nId))) p->setRange(nLow, nHigh);
  });
}

void CQtControlView::vSetProgressPos(int nId, int nPos) {
  vOnWindow([this, nId, nPos] {
    if (auto* p = qobject_cast<QProgressBar*>(pControl(nId))) p->setValue(nPos);
  });
}

void CQtControlView::vSetProgressColour(int nId, uint32_t rgb) {
  vOnWindow([this, nId, rgb] {
    if (auto* p = qobject_cast<QProgressBar*>(pControl(nId)))
      p->setStyleSheet(
          QString("QProgressBar { text-align: center; } QProgressBar::chunk { background-color: %1; }")
              .arg(colour(rgb).name()));
  });
}

void CQtControlView::vShowPicture(int nId, const std::string& strPicture) {
  vOnWindow([this, nId, strPicture] {
    const QString path = ":/pictures/" + qs(strPicture).toLower() + ".png";
    if (auto* pLabel = qobject_cast<QLabel*>(pControl(nId)))
      pLabel->setPixmap(QPixmap(path));
    else if (auto* pButton = qobject_cast<QAbstractButton*>(pControl(nId)))
      pButton->setIcon(QIcon(path));
  });
}
