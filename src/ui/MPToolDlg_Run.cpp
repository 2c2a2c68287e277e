// The window's side of the production run: its run handlers forward to the run engine, and
// the engine reaches this window through the two adapters below.
#include <cerrno>

#include "log/DebugLog.h"
#include "run/IRunView.h"
#include "run/RunEngine.h"
#include "ui/ControlIds.h"
#include "ui/MPToolDlg.h"

namespace {

// The engine's view over the window's view: controls by id.
class CMainRunView : public IRunView {
 public:
  explicit CMainRunView(CMPToolDlg& dlg) : m_dlg(dlg) {}
  void vSetCell(int nRow, int nColumn, const std::string& strText, uint32_t rgbBack,
                uint32_t rgbText) override {
    m_dlg.view().vSetTableCell(IDC_LIST_RESULT, nRow, nColumn, strText, rgbText, rgbBack);
  }
  void vSetRunProgress(int nPos) override {
    m_dlg.view().vSetProgressRange(IDC_PROGRESS_RUN, 0, 100);
    m_dlg.view().vSetProgressPos(IDC_PROGRESS_RUN, nPos);
  }
  void vSetRunProgressColour(uint32_t rgb) override {
    m_dlg.view().vSetProgressColour(IDC_PROGRESS_RUN, rgb);
  }
  void vSetRunProgressText(const std::string& s) override {
    m_dlg.view().vSetText(IDC_EDIT_PROGRESS_TEXT, s);
  }
  void vSetScanProgress(int nPos) override { m_dlg.view().vSetProgressPos(IDC_PROGRESS_SEARCH, nPos); }
  void vShowPicture(ERunPicture e, bool bShow) override {
    m_dlg.view().vShowControl(e == ERunPicture::Pass ? IDC_PICTURE_PASS : IDC_PICTURE_FAIL, bShow);
  }
  void vSetCounters(const std::string& p, const std::string& f, const std::string& t) override {
    m_dlg.view().vSetText(IDC_EDIT_PASS, p);
    m_dlg.view().vSetText(IDC_EDIT_FAIL, f);
    m_dlg.view().vSetText(IDC_EDIT_TOTAL, t);
  }
  void vSetControls(ERunControls e) override {
    if (e == ERunControls::Run)
      m_dlg.vSetRunControls();
    else if (e == ERunControls::AutoMode && !m_dlg.m_bRDMode)
      m_dlg.vSetAutoModeControls();
    else
      m_dlg.vSetNormalControls();
  }
  void vEnableStart(bool b) override { m_dlg.view().vEnableControl(IDC_BUTTON_START, b); }
  void vSetSerialNumberBox(const std::string& s) override {
    m_dlg.view().vSetText(IDC_EDIT_SERIAL_NUMBER, s);
  }
  void vReadScreen(RunScreen& s) override {
    IMainView& v = m_dlg.view();
    s.strVID = v.strGetText(IDC_EDIT_VID);
    s.strPID = v.strGetText(IDC_EDIT_PID);
    s.strPIDU2 = v.strGetText(IDC_EDIT_PID_U2);
    s.strRevision = v.strGetText(IDC_EDIT_REVISION);
    s.strSerialNumber = v.strGetText(IDC_EDIT_SERIAL_NUMBER);
    s.strManufacturer = v.strGetText(IDC_EDIT_MANUFACTURER);
    s.strProduct = v.strGetText(IDC_EDIT_PRODUCT);
    s.strContainerID = v.strGetText(IDC_EDIT_CONTAINER_ID);
    s.strFWPath = v.strGetText(IDC_COMBO_FW_BROWSE);
    static const char* kStatus[] = {"USB 2.0", "USB 3.0", "USB 3.1"};
    int nSel = v.nGetListSelection(IDC_COMBO_USB_STATUS);
    s.strUSBStatus = nSel >= 0 && nSel < 3 ? kStatus[nSel] : "";
    s.bIdleTimerFirst = v.nGetListSelection(IDC_COMBO_IDLE_TIMER) == 0;
  }
  bool bScreenAtDefaults(const RunScreen& s) override {
    return s.strVID == "2F7B" && s.strPID == "55AA" && s.strManufacturer == "VLNT" &&
           s.strProduct == "VLNT725x";
  }
  bool bRDMode() override { return m_dlg.m_bRDMode; }
  int nMessageBox(const std::string& t, const std::string& c, uint32_t f) override {
    return m_dlg.view().nMessageBox(t, c, f);
  }
  bool bRunSNDialog(std::string& strSN) override {
    bool bOk = m_dlg.view().nRunModal(EModalDialog::SerialNumber) == IDOK;
    strSN = m_dlg.snDlg().m_strSNandPStringDlgPCBSN;  // whatever the answer
    return bOk;
  }

 private:
  CMPToolDlg& m_dlg;
};

}  // namespace

std::unique_ptr<IRunView> CMPToolDlg::pNewRunView() {
  return std::make_unique<CMainRunView>(*this);
}

void CMPToolDlg::OnBnClickedButtonStart() {
  if (!m_pRunEngine) return;
  // The engine asks for the end itself (exit request) in the command-line modes.
  m_pRunEngine->OnBnClickedButtonStart();
}

void CMPToolDlg::OnBnClickedButtonClearcount() {
  if (m_pRunEngine) m_pRunEngine->OnBnClickedButtonClearcount();
}

bool CMPToolDlg::bDeleteAllThread() {
  return m_pRunEngine ? m_pRunEngine->bDeleteAllThread() : true;
}

void CMPToolDlg::OnClose() {
  try {
    bDeleteAllThread();
    vExitSequence();
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::OnClose", "OnClose: dwErrorCode %d", errno);
  }
}
