#include "ui/qt/AboutDialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/MPToolDlg.h"
#include "ui/UiTextTable.h"

CAboutDialog::CAboutDialog(QWidget* pParent) : QDialog(pParent) {
  const CUiTextTable& t = uiTexts();
  setWindowTitle(QString::fromStdString(t.str(t.m_nAboutTexts, 0)));
  auto* pLayout = new QVBoxLayout(this);
  auto* pName = new QLabel(QStringLiteral("MPTool"), this);
  pName->setObjectName("labelName");
  auto* pVersion = new QLabel(QString::fromLatin1(MPTOOL_VERSION_TEXT), this);
  pVersion->setObjectName("labelVersion");
  auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  pButtons->button(QDialogButtonBox::Ok)->setText(QString::fromStdString(t.str(t.m_nAboutTexts, 2)));
  connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  pLayout->addWidget(pName);
  pLayout->addWidget(pVersion);
  pLayout->addWidget(pButtons);
}
