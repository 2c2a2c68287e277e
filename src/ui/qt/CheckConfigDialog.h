// The configuration check dialog: pick a hub, read its configuration table and see it as a
// hexadecimal dump in a message box. The register controls of the form stay hidden.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

#include "ui/DebugDlg.h"

namespace Ui {
class CheckConfigDialog;
}

class CCheckConfigDialog : public QDialog {
  Q_OBJECT

 public:
  // fnShow: shows a text in a box with an OK button only and no icon.
  CCheckConfigDialog(CDebugDlg& data, const DeviceList& list, CDebugDlg::ConfigReadFn fnRead,
                     std::function<void(const std::string&)> fnShow, QWidget* pParent = nullptr);
  ~CCheckConfigDialog() override;
  void vReadConfigTable();

 private:
  Ui::CheckConfigDialog* m_pUi;
  CDebugDlg& m_data;
  const DeviceList& m_list;
  CDebugDlg::ConfigReadFn m_fnRead;
  std::function<void(const std::string&)> m_fnShow;
};
