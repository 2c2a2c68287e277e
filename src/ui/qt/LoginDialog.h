// The R&D login dialog: a password edit (7 characters, shown as dots), OK and Cancel. The
// edit starts empty every time it opens; what was typed is judged by CLoginDlg.
#pragma once

#include <QDialog>
#include <string>

namespace Ui {
class LoginDialog;
}

class CLoginDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CLoginDialog(QWidget* pParent = nullptr);
  ~CLoginDialog() override;
  std::string strPassword() const;

 private:
  Ui::LoginDialog* m_pUi;
};
