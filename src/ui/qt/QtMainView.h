// The main window's view in Qt Widgets: IMainView over the widgets of CMainWindow, found by
// their control ids.
//
// Threads: the logic calls in on the window thread (Qt's GUI thread), where every call runs
// directly. A call from another thread is handed to the window thread through CWindowThread:
// one that changes a control is posted and returns at once, one that reads a control or asks
// the operator waits for its answer there. The GUI thread itself never waits for another.
//
// Message boxes and file dialogs can be answered by a script (setNextAnswer, setNextFileName):
// a scripted box or dialog is recorded and answered without being shown.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "host/WindowThread.h"
#include "ui/IMainView.h"

class CMainWindow;
class CMPToolDlg;
class QWidget;

class CQtMainView : public IMainView {
 public:
  // Builds the window (hidden) on the calling thread, which must be the GUI thread and the
  // window thread.
  explicit CQtMainView(CWindowThread& windowThread);
  ~CQtMainView() override;
  CQtMainView(const CQtMainView&) = delete;
  CQtMainView& operator=(const CQtMainView&) = delete;

  CMainWindow& window() { return *m_pWindow; }
  // The window's logic, whose dialog data the dialogs edit (More Config, serial number,
  // configuration check). Without it those dialogs answer Cancel.
  void vAttach(CMPToolDlg& dlg) { m_pDlg = &dlg; }
  QWidget* pControl(int nId) const;

  // ---- scripts ----
  struct Box {
    std::string strText, strCaption;
    uint32_t uFlags = 0;
  };
  void setNextAnswer(int nAnswer);
  void setNextFileName(const std::string& strPath);
  std::vector<Box> boxes() const;
  std::vector<FilePick> filePicks() const;

  // ---- IMainView ----
  int nMessageBox(const std::string& strText, const std::string& strCaption, uint32_t uFlags) override;
  void vSetText(int nId, const std::string& strText) override;
  std::string strGetText(int nId) override;
  void vShowControl(int nId, bool bShow) override;
  void vEnableControl(int nId, bool bEnable) override;
  void vSetReadOnly(int nId, bool bReadOnly) override;
  void vSetCheck(int nId, bool bChecked) override;
  bool bGetCheck(int nId) override;
  void vSetList(int nId, const std::vector<std::string>& items) override;
  void vSetListSelection(int nId, int nIndex) override;
  int nGetListSelection(int nId) override;
  void vSetFont(int nId, const FontSpec& font) override;
  void vSetTextColour(int nId, uint32_t rgb) override;
  void vSetToolTip(int nId, const std::string& strTip) override;
  void vSetFocus(int nId) override;
  void vShowWindow(bool bShow) override;
  void vSetTitle(const std::string& strTitle) override;
  void vSetTableColumns(int nId, const std::vector<std::string>& titles,
                        const std::vector<int>& widths) override;
  void vSetTableCell(int nId, int nRow, int nColumn, const std::string& strText, uint32_t rgbText,
                     uint32_t rgbBackground) override;
  void vClearTable(int nId) override;
  void vSetProgressRange(int nId, int nLow, int nHigh) override;
  void vSetProgressPos(int nId, int nPos) override;
  void vSetProgressColour(int nId, uint32_t rgb) override;
  void vShowPicture(int nId, const std::string& strPicture) override;
  int nRunModal(EModalDialog eDialog) override;
  std::string strPickFile(const FilePick& pick) override;

 private:
  // Runs fn on the window thread: at once there, posted from elsewhere.
  void vOnWindow(std::function<void()> fn);
  // Runs fn on the window thread and returns its result (def when the loop has ended).
  template <class T>
  T onWindowResult(std::function<T()> fn, T def);
  int nShowMessageBox(const std::string& strText, const std::string& strCaption, uint32_t uFlags);
  std::string strShowFileDialog(const FilePick& pick);

  CWindowThread& m_windowThread;
  CMainWindow* m_pWindow;
  CMPToolDlg* m_pDlg = nullptr;
  int nRunDialog(EModalDialog eDialog);
  mutable std::mutex m_mutex;  // the scripts and what they recorded
  std::deque<int> m_answers;
  std::deque<std::string> m_fileNames;
  std::vector<Box> m_boxes;
  std::vector<FilePick> m_picks;
  std::string m_strLoginPassword;  // what the last login dialog closed with
};
