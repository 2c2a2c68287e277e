// The R&D login's decision, without a window: the view runs the password dialog, this
// judges what was typed into it.
#pragma once

#include <string>

// The login dialog's own id for its password edit (addressed through the main window's view
// while the dialog is open; the main window has no control with this number).
constexpr int IDC_EDIT_LOGIN_PASSWORD = 1310;
constexpr int LOGIN_PASSWORD_MAX_LEN = 7;

class CLoginDlg {
 public:
  std::string m_LoginDialogPassword;
  bool m_bRDMode = false;
  // The OK button: the trimmed text switches the R&D mode on when it is the password
  // (case ignored); anything else is logged and leaves the mode as it was. The dialog
  // closes either way.
  void OnBnClickedOk(const std::string& strEdit);
};
