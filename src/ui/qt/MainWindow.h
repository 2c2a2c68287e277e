// The main window's widgets: the Designer form, no title bar (its title is the version
// string), dragged by pressing anywhere on it, its own Exit and Min buttons, and Enter /
// Escape as Start / Safely Remove while Start is enabled. What the controls do is the
// logic's business: every command goes out by its control id.
#pragma once

#include <QAction>
#include <QPoint>
#include <QWidget>
#include <functional>
#include <map>

namespace Ui {
class MainWindow;
}

class CMainWindow : public QWidget {
  Q_OBJECT

 public:
  explicit CMainWindow(QWidget* pParent = nullptr);
  ~CMainWindow() override;

  // The widget of a control id; null when the form has none.
  QWidget* pControl(int nId) const;
  const std::map<int, QWidget*>& controls() const { return m_controls; }
  // Receives the command of a button, a check box or a key (the control's id).
  void vSetCommandHandler(std::function<void(int)> fn) { m_fnCommand = std::move(fn); }
  // Receives the close request (the window closes when it returns true).
  void vSetCloseHandler(std::function<bool()> fn) { m_fnClose = std::move(fn); }
  // The context menu's "About MPTool" entry; it sends IDM_ABOUTBOX.
  QAction* pAboutAction() const { return m_pAbout; }
  // Commands a list sends when the operator picks another entry.
  void vSendCommand(int nId);

 protected:
  bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
  void mousePressEvent(QMouseEvent* pEvent) override;
  void mouseMoveEvent(QMouseEvent* pEvent) override;
  void mouseReleaseEvent(QMouseEvent* pEvent) override;
  void closeEvent(QCloseEvent* pEvent) override;

 private:
  Ui::MainWindow* m_pUi;
  std::map<int, QWidget*> m_controls;
  std::function<void(int)> m_fnCommand;
  std::function<bool()> m_fnClose;
  QAction* m_pAbout = nullptr;
  bool m_bDragging = false;
  QPoint m_dragOffset;  // press position relative to the window's top left
};
