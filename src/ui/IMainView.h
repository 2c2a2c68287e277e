// What the main window's logic asks of a window: the one road from CMPToolDlg to the
// operator. ui/qt implements it with widgets; the window-less modes use the headless view;
// tests record the calls. Calls come on the window thread (see CWindowThread), except the
// message box, which any thread may ask for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/IMessageView.h"

// Colours as 0x00BBGGRR, the classic RGB() packing.
constexpr uint32_t RGB(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<uint32_t>(r) | (static_cast<uint32_t>(g) << 8) | (static_cast<uint32_t>(b) << 16);
}

struct FontSpec {
  std::string strFace;
  int nHeight = 0, nWidth = 0, nWeight = 0;
};

// Modal dialogs the window opens.
enum class EModalDialog { Login, About, MoreConfig, SerialNumber, CheckConfig, PowerDelivery };

struct FilePick {
  bool bSave = false;
  bool bFolder = false;  // a folder is chosen, not a file (no filter)
  std::string strTitle;
  std::string strFilter;  // for example "INI Files (*.ini)|*.ini"
  std::string strInitialPath;
};

class IMainView : public IMessageView {
 public:
  // Controls by id (ui/ControlIds.h).
  virtual void vSetText(int nId, const std::string& strText) = 0;
  virtual std::string strGetText(int nId) = 0;
  virtual void vShowControl(int nId, bool bShow) = 0;
  virtual void vEnableControl(int nId, bool bEnable) = 0;
  virtual void vSetReadOnly(int nId, bool bReadOnly) = 0;
  virtual void vSetCheck(int nId, bool bChecked) = 0;
  virtual bool bGetCheck(int nId) = 0;
  virtual void vSetList(int nId, const std::vector<std::string>& items) = 0;
  virtual void vSetListSelection(int nId, int nIndex) = 0;
  virtual int nGetListSelection(int nId) = 0;
  virtual void vSetFont(int nId, const FontSpec& font) = 0;
  virtual void vSetTextColour(int nId, uint32_t rgb) = 0;
  virtual void vSetToolTip(int nId, const std::string& strTip) = 0;
  virtual void vSetFocus(int nId) = 0;
  // The whole window: hidden in the window-less modes.
  virtual void vShowWindow(bool bShow) = 0;
  virtual void vSetTitle(const std::string& strTitle) = 0;

  // Result table.
  virtual void vSetTableColumns(int nId, const std::vector<std::string>& titles,
                                const std::vector<int>& widths) = 0;
  virtual void vSetTableCell(int nId, int nRow, int nColumn, const std::string& strText, uint32_t rgbText,
                             uint32_t rgbBackground) = 0;
  virtual void vClearTable(int nId) = 0;

  // Progress bars.
  virtual void vSetProgressRange(int nId, int nLow, int nHigh) = 0;
  virtual void vSetProgressPos(int nId, int nPos) = 0;
  virtual void vSetProgressColour(int nId, uint32_t rgb) = 0;

  // A picture control shows the named picture ("PASS", "FAIL", "LOGO").
  virtual void vShowPicture(int nId, const std::string& strPicture) = 0;

  // Runs a dialog modally; IDOK or IDCANCEL.
  virtual int nRunModal(EModalDialog eDialog) = 0;
  // Chooses a file (or a folder); empty when the operator cancels.
  virtual std::string strPickFile(const FilePick& pick) = 0;
};
