// The serial-number entry dialog of barcode mode. It keeps the keyboard: whatever reaches the
// dialog or its field first brings the dialog to the front with the focus in the field, so a
// scanner's keystrokes land there. Enter takes the scan when its length is right, otherwise
// empties the field; Escape cancels.
#pragma once

#include <QDialog>
#include <functional>

class CSNDlgData;
class QLineEdit;
namespace Ui {
class SerialNumberDialog;
}

class CSerialNumberDialog : public QDialog {
  Q_OBJECT

 public:
  // fnDevicePresent: at least one device slot holds a found hub (asked at every change).
  CSerialNumberDialog(CSNDlgData& data, std::function<bool()> fnDevicePresent, QWidget* pParent = nullptr);
  ~CSerialNumberDialog() override;
  QLineEdit* field() const;

 protected:
  bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

 private:
  void vTakeKeyboard();
  Ui::SerialNumberDialog* m_pUi;
  CSNDlgData& m_data;
  std::function<bool()> m_fnDevicePresent;
  bool m_bActivating = false;
};
