// IMainView over the widgets of one window, found by their control ids: the main window and
// each dialog with a logic of its own get one such view.
//
// Threads: the logic calls in on the window thread (Qt's GUI thread), where every call runs
// directly. A call from another thread is handed to the window thread through CWindowThread:
// one that changes a control is posted and returns at once, one that reads a control or asks
// the operator waits for its answer there. The GUI thread itself never waits for another. A
// call still queued when the view goes is dropped.
//
// Message boxes and file dialogs can be answered by a script (setNextAnswer, setNextFileName):
// a scripted box or dialog is recorded and answered without being shown. A dialog's view can
// share the main view's scripts, so one script answers every window.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/WindowThread.h"
#include "ui/IMainView.h"

class QWidget;

class CQtControlView : public IMainView {
 public:
  struct Box {
    std::string strText, strCaption;
    uint32_t uFlags = 0;
  };
  // The scripted answers and what was asked; any thread.
  class CScripts {
   public:
    void setNextAnswer(int nAnswer);
    void setNextFileName(const std::string& strPath);
    std::vector<Box> boxes() const;
    std::vector<FilePick> filePicks() const;
    // Records the box; true with the answer when one was scripted.
    bool bAnswerBox(const Box& box, int& nAnswer);
    bool bAnswerPick(const FilePick& pick, std::string& strPath);

   private:
    mutable std::mutex m_mutex;
    std::deque<int> m_answers;
    std::deque<std::string> m_fileNames;
    std::vector<Box> m_boxes;
    std::vector<FilePick> m_picks;
  };

  // pWindow: the window (parent of its boxes and dialogs); fnControl: its widget of a control
  // id, null when it has none. pScripts: the scripts to share, null for scripts of its own.
  CQtControlView(CWindowThread& windowThread, QWidget* pWindow, std::function<QWidget*(int)> fnControl,
                 std::shared_ptr<CScripts> pScripts = nullptr);
  ~CQtControlView() override;
  CQtControlView(const CQtControlView&) = delete;
  CQtControlView& operator=(const CQtControlView&) = delete;

  QWidget* pControl(int nId) const;
  const std::shared_ptr<CScripts>& scripts() const { return m_pScripts; }

  // ---- scripts ----
  void setNextAnswer(int nAnswer) { m_pScripts->setNextAnswer(nAnswer); }
  void setNextFileName(const std::string& strPath) { m_pScripts->setNextFileName(strPath); }
  std::vector<Box> boxes() const { return m_pScripts->boxes(); }
  std::vector<FilePick> filePicks() const { return m_pScripts->filePicks(); }

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
  // Runs nRunDialog on the window thread.
  int nRunModal(EModalDialog eDialog) override;
  std::string strPickFile(const FilePick& pick) override;

 protected:
  // The window's modal dialogs, on the window thread; this window opens none: IDCANCEL.
  virtual int nRunDialog(EModalDialog eDialog);
  CWindowThread& windowThread() { return m_windowThread; }

 private:
  // Runs fn on the window thread: at once there, posted from elsewhere.
  void vOnWindow(std::function<void()> fn);
  // Runs fn on the window thread and returns its result (def when the loop has ended or the
  // view has gone meanwhile).
  template <class T>
  T onWindowResult(std::function<T()> fn, T def);
  int nShowMessageBox(const std::string& strText, const std::string& strCaption, uint32_t uFlags);
  std::string strShowFileDialog(const FilePick& pick);

  CWindowThread& m_windowThread;
  QWidget* m_pWindow;
  std::function<QWidget*(int)> m_fnControl;
  std::shared_ptr<CScripts> m_pScripts;
  // False once the view is gone: a call handed over before then finds it out on the window
  // thread, where the view also ends.
  std::shared_ptr<bool> m_pAlive = std::make_shared<bool>(true);
};
