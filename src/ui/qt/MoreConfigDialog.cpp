#include "ui/qt/MoreConfigDialog.h"

#include <QPushButton>

#include "ui/DeviceCfgDlg.h"
#include "ui_MoreConfigDialog.h"

CMoreConfigDialog::CMoreConfigDialog(CDeviceCfgDlg& flags, bool bUpdateFW, QWidget* pParent)
    : QDialog(pParent), m_pUi(new Ui::MoreConfigDialog) {
  m_pUi->setupUi(this);
  m_pUi->buttonBox->button(QDialogButtonBox::Ok)->setToolTip("OK");
  m_pUi->buttonBox->button(QDialogButtonBox::Cancel)->setToolTip("Cancel");
  m_pUi->checkU1U2->setChecked(flags.m_bU1U2Mode == 1);
  m_pUi->checkLpm->setChecked(flags.m_bLowPowerMode == 1);
  m_pUi->checkPmu->setChecked(flags.m_bPMU == 1);
  // the never-shown boxes show unchecked; their flags stay as they are
  for (QCheckBox* p : {m_pUi->checkTwoLeds, m_pUi->checkBcPort1, m_pUi->checkBcPort2, m_pUi->checkBcPort3,
                       m_pUi->checkBcPort4})
    p->setChecked(false);
  for (QCheckBox* p :
       {m_pUi->checkU1U2, m_pUi->checkLpm, m_pUi->checkImage0, m_pUi->checkImage1, m_pUi->checkCrc32})
    p->setEnabled(bUpdateFW);
  CDeviceCfgDlg* pFlags = &flags;
  connect(m_pUi->checkU1U2, &QCheckBox::clicked, this,
          [pFlags](bool b) { pFlags->OnBnClickedCheckDeviceConfigurationU1U2(b); });
  connect(m_pUi->checkLpm, &QCheckBox::clicked, this,
          [pFlags](bool b) { pFlags->OnBnClickedCheckDeviceConfigurationLowerPowerMode(b); });
  connect(m_pUi->checkPmu, &QCheckBox::clicked, this, [pFlags](bool b) { pFlags->OnBnClickedPmu(b); });
}

CMoreConfigDialog::~CMoreConfigDialog() {
  delete m_pUi;
}
