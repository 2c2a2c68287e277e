// The about box: the title and the button from the UI text table, the program's version in
// place of the table's placeholder version.
#pragma once

#include <QDialog>

class CAboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDialog(QWidget* pParent = nullptr);
};
