// The More Config dialog: the U1U2, LPM and PMU boxes of the configuration flags (the other
// flags' boxes exist but are never shown). A click sets its flag at once; OK and Cancel
// change nothing more.
#pragma once

#include <QDialog>

class CDeviceCfgDlg;
namespace Ui {
class MoreConfigDialog;
}

class CMoreConfigDialog : public QDialog {
  Q_OBJECT

 public:
  // bUpdateFW: the main window's "Update F/W" box is checked.
  CMoreConfigDialog(CDeviceCfgDlg& flags, bool bUpdateFW, QWidget* pParent = nullptr);
  ~CMoreConfigDialog() override;

 private:
  Ui::MoreConfigDialog* m_pUi;
};
