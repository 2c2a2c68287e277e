// The run's view without a window: nothing to show, boxes go to standard output and take
// their safe answer, the serial-number dialog is cancelled. It counts what a run showed at
// its end, for the window-less run's summary.
#pragma once

#include <string>

#include "host/IMessageView.h"
#include "run/IRunView.h"

class CHeadlessRunView : public IRunView {
 public:
  void vSetCell(int, int, const std::string&, uint32_t, uint32_t) override {}
  void vSetRunProgress(int) override {}
  void vSetRunProgressColour(uint32_t) override {}
  void vSetRunProgressText(const std::string&) override {}
  void vSetScanProgress(int) override {}
  void vShowPicture(ERunPicture, bool) override {}
  void vSetCounters(const std::string&, const std::string&, const std::string&) override {}
  void vSetControls(ERunControls) override {}
  void vEnableStart(bool) override {}
  void vSetSerialNumberBox(const std::string&) override {}
  void vReadScreen(RunScreen&) override {}
  bool bScreenAtDefaults(const RunScreen&) override { return false; }
  bool bRDMode() override { return false; }
  int nMessageBox(const std::string& strText, const std::string& strCaption, uint32_t uFlags) override {
    return m_messages.nMessageBox(strText, strCaption, uFlags);
  }
  bool bRunSNDialog(std::string& strSN) override {
    strSN.clear();
    return false;
  }

 private:
  CHeadlessMessageView m_messages;
};
