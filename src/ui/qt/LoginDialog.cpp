#include "ui/qt/LoginDialog.h"

#include <QPushButton>

#include "ui_LoginDialog.h"

CLoginDialog::CLoginDialog(QWidget* pParent) : QDialog(pParent), m_pUi(new Ui::LoginDialog) {
  m_pUi->setupUi(this);
  m_pUi->buttonBox->button(QDialogButtonBox::Ok)->setText("Ok");
  m_pUi->buttonBox->button(QDialogButtonBox::Cancel)->setText("Cancel");
  m_pUi->IDC_EDIT_LOGIN_PASSWORD->setFocus();
}

CLoginDialog::~CLoginDialog() { delete m_pUi; }

std::string CLoginDialog::strPassword() const { return m_pUi->IDC_EDIT_LOGIN_PASSWORD->text().toStdString(); }
