#include "ui/qt/CheckConfigDialog.h"

#include <QComboBox>

#include "ui_CheckConfigDialog.h"

CCheckConfigDialog::CCheckConfigDialog(CDebugDlg& data, const DeviceList& list,
                                       CDebugDlg::ConfigReadFn fnRead,
                                       std::function<void(const std::string&)> fnShow, QWidget* pParent)
    : QDialog(pParent),
      m_pUi(new Ui::CheckConfigDialog),
      m_data(data),
      m_list(list),
      m_fnRead(std::move(fnRead)),
      m_fnShow(std::move(fnShow)) {
  m_pUi->setupUi(this);
  m_pUi->buttonReadConfig->setIcon(QIcon(":/pictures/check_config.png"));
  for (const std::string& s : CDebugDlg::vecPortEntries(m_list))
    m_pUi->comboPort->addItem(QString::fromStdString(s));
  const bool bAny = m_pUi->comboPort->count() > 0;
  if (bAny) {
    m_pUi->comboPort->setCurrentIndex(0);
    m_pUi->comboImage->setCurrentIndex(0);
    m_data.m_nSelectedDevice = 0;
    m_data.m_nSelectedImage = 0;
  }
  m_pUi->buttonReadConfig->setEnabled(bAny);
  setWindowTitle("Check Configuration Dialog");
  connect(m_pUi->comboPort, &QComboBox::currentIndexChanged, this,
          [this](int n) { m_data.m_nSelectedDevice = n; });
  connect(m_pUi->comboImage, &QComboBox::currentIndexChanged, this,
          [this](int n) { m_data.m_nSelectedImage = n; });
  connect(m_pUi->buttonReadConfig, &QToolButton::clicked, this, &CCheckConfigDialog::vReadConfigTable);
}

CCheckConfigDialog::~CCheckConfigDialog() {
  delete m_pUi;
}

void CCheckConfigDialog::vReadConfigTable() {
  const std::string strText = m_data.strReadConfigTable(m_list, m_fnRead);
  if (!strText.empty() && m_fnShow) m_fnShow(strText);
}
