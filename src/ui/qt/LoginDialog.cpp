#include "ui/qt/LoginDialog.h"

#include <QPushButton>

#include "ui/UiTextTable.h"
#include "ui_LoginDialog.h"

CLoginDialog::CLoginDialog(QWidget* pParent) : QDialog(pParent), m_pUi(new Ui::LoginDialog) {
  m_pUi->setupUi(this);
  // the texts come from the UI text table each time the dialog opens
  const CUiTextTable& t = uiTexts();
  setWindowTitle(QString::fromStdString(t.strLogin(0)));
  m_pUi->labelPassword->setText(QString::fromStdString(t.strLogin(1)));
  m_pUi->buttonBox->button(QDialogButtonBox::Ok)->setText(QString::fromStdString(t.strLogin(2)));
  m_pUi->buttonBox->button(QDialogButtonBox::Cancel)->setText(QString::fromStdString(t.strLogin(3)));
  m_pUi->IDC_EDIT_LOGIN_PASSWORD->setFocus();
}

CLoginDialog::~CLoginDialog() {
  delete m_pUi;
}

std::string CLoginDialog::strPassword() const {
  return m_pUi->IDC_EDIT_LOGIN_PASSWORD->text().toStdString();
}
