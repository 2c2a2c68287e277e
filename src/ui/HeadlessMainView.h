// The view of the window-less command-line modes: there is no window, so control calls
// have nothing to show; messages go to standard output, questions take their safe answer,
// dialogs are cancelled and no file is picked. Control texts set by the logic are kept so
// that reading one back gives what was written, as a hidden window would.
#pragma once

#include <map>
#include <mutex>

#include "ui/IMainView.h"

class CHeadlessMainView : public IMainView {
 public:
  int nMessageBox(const std::string& strText, const std::string& strCaption, uint32_t uFlags) override;
  void vSetText(int nId, const std::string& strText) override;
  std::string strGetText(int nId) override;
  void vShowControl(int, bool) override {}
  void vEnableControl(int, bool) override {}
  void vSetReadOnly(int, bool) override {}
  void vSetCheck(int nId, bool bChecked) override;
  bool bGetCheck(int nId) override;
  void vSetList(int, const std::vector<std::string>&) override {}
  void vSetListSelection(int nId, int nIndex) override;
  int nGetListSelection(int nId) override;
  void vSetFont(int, const FontSpec&) override {}
  void vSetTextColour(int, uint32_t) override {}
  void vSetToolTip(int, const std::string&) override {}
  void vSetFocus(int) override {}
  void vShowWindow(bool) override {}
  void vSetTitle(const std::string&) override {}
  void vSetTableColumns(int, const std::vector<std::string>&, const std::vector<int>&) override {}
  void vSetTableCell(int, int, int, const std::string&, uint32_t, uint32_t) override {}
  void vClearTable(int) override {}
  void vSetProgressRange(int, int, int) override {}
  void vSetProgressPos(int, int) override {}
  void vSetProgressColour(int, uint32_t) override {}
  void vShowPicture(int, const std::string&) override {}
  int nRunModal(EModalDialog) override { return IDCANCEL; }
  std::string strPickFile(const FilePick&) override { return {}; }

 private:
  CHeadlessMessageView m_messages;
  std::mutex m_mutex;
  std::map<int, std::string> m_texts;
  std::map<int, bool> m_checks;
  std::map<int, int> m_selections;
};
