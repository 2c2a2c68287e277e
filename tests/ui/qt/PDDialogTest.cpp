// The PD dialog opened by the main window's PD button on a running window: over a storage
// bridge with a PD controller it shows what its logic read and closes with Close, handing the
// choices back to the settings; without a bridge it says so and closes at once.
#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QTableWidget>
#include <QTimer>
#include <cstdlib>
#include <filesystem>

#include "WindowFixture.h"
#include "app/WindowMode.h"
#include "run/ResultTable.h"
#include "support/E2EBench.h"
#include "ui/PDUpdateDlg.h"
#include "ui/qt/PDUpdateDialog.h"

namespace fs = std::filesystem;

namespace {

// One hub, with or without a bridge carrying a CCG3 PD controller; the PD button enabled and
// PD updates chosen in the settings.
struct PDDialogTest : WindowFixture {
  fs::path oldCwd = fs::current_path();
  enum class EStep { WaitHub, Open, Closed } eStep = EStep::WaitHub;
  bool bTimedOut = false;
  QElapsedTimer sinceStart;

  void vLayOut(bool bBridge) {
    E2EHub hub = stE2EHub("hub0", "xhci0", 1);
    if (bBridge)
      hub.jsonStorage = {
          {"physical_drive", 1}, {"pd", "ccg3"}, {"device_mode", 1}, {"pd_version", "0102030405060708"}};
    dir.write("bench.json", strE2EBenchJson({"xhci0"}, {hub}));
    dir.write("VLN642_10_bench.bin", strE2EFirmware());
    E2ESettings st;
    st.strFirmware = "VLN642_10_bench.bin";
    std::string strIni = strE2ESettings(st);
    strIni.replace(strIni.find("auto_mp=1"), 9, "auto_mp=0");
    strIni.replace(strIni.find("fw_reload=1"), 11, "fw_reload=1\next_fw_enable=1\npd_fw_enable=1");
    dir.write("vlnhub.ini", strIni);
    setenv("MPTOOL_SIM", (dir.str() + "/bench.json").c_str(), 1);
    fs::current_path(dir.path());
  }
  ~PDDialogTest() override {
    fs::current_path(oldCwd);
    unsetenv("MPTOOL_SIM");
  }

  CPDUpdateDialog* pDialog() { return qobject_cast<CPDUpdateDialog*>(QApplication::activeModalWidget()); }
  // The scan has shown the hub and ended (Start is off while a scan runs).
  bool bHubSeen() {
    auto* pTable = qobject_cast<QTableWidget*>(w(IDC_LIST_RESULT));
    for (int r = 0; pTable && r < pTable->rowCount(); ++r)
      if (pTable->item(r, COL_VID) && pTable->item(r, COL_VID)->text() == "2F7B")
        return bEnabled(IDC_BUTTON_START) && bEnabled(IDC_BUTTON_PD);
    return false;
  }
  // The window runs with fnTick called every 5 ms until it closes (or 20 s of real time pass).
  int nRun(const std::function<void()>& fnTick) {
    view.vAttach(dlg);
    dlg.OnInitDialog();
    EXPECT_FALSE(dlg.bExitRequested());
    sinceStart.start();
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      if (bTimedOut) return;
      if (sinceStart.elapsed() > 20000) {
        bTimedOut = true;
        if (CPDUpdateDialog* p = pDialog()) p->done(QDialog::Rejected);
        view.setNextAnswer(IDOK);  // the exit sequence's replug message
        view.window().close();
        return;
      }
      fnTick();
    });
    ticker.start();
    const int nExit = nRunWindow(dlg, view);
    ticker.stop();
    return nExit;
  }
  // Presses the PD button from the event loop: the dialog's own loop then runs inside that
  // call, while the ticker goes on.
  void vPressPD() {
    eStep = EStep::Open;
    QMetaObject::invokeMethod(
        &view.window(),
        [this] {
          QTest::mouseClick(qobject_cast<QAbstractButton*>(w(IDC_BUTTON_PD)), Qt::LeftButton);
          eStep = EStep::Closed;
        },
        Qt::QueuedConnection);
  }
  void vCloseWindow() {
    view.setNextAnswer(IDOK);  // the exit sequence's replug message
    view.window().close();
  }
};

TEST_F(PDDialogTest, ShowsTheBridgesVersionAndStatusAndClosesWithClose) {
  vLayOut(true);
  bool bChecked = false;
  const size_t nPicksBefore = view.filePicks().size();
  const int nExit = nRun([&] {
    if (eStep == EStep::WaitHub && bHubSeen()) {
      vPressPD();
    } else if (eStep == EStep::Open) {
      CPDUpdateDialog* p = pDialog();
      auto* pStatus = p ? qobject_cast<QLabel*>(p->pControl(IDC_PD_PORT_STATUS[0])) : nullptr;
      if (!pStatus || pStatus->text() != "Ready" || bChecked) return;
      bChecked = true;
      EXPECT_EQ(p->windowTitle(), "Dialog");
      EXPECT_EQ(qobject_cast<QLabel*>(p->pControl(IDC_PD_PORT_VERSION[0]))->text(), "0102030405060708");
      EXPECT_EQ(pStatus->palette().color(QPalette::WindowText), QColor(0x14, 0xFA, 0x14));
      for (int i = 1; i < PD_PORTS; ++i) {  // no bridge on the other ports
        EXPECT_EQ(qobject_cast<QLabel*>(p->pControl(IDC_PD_PORT_VERSION[i]))->text(), "FFFF") << i;
        EXPECT_EQ(qobject_cast<QLabel*>(p->pControl(IDC_PD_PORT_STATUS[i]))->text(), "") << i;
      }
      auto* pBar = qobject_cast<QProgressBar*>(p->pControl(IDC_PD_PORT_PROGRESS[0]));
      ASSERT_NE(pBar, nullptr);
      EXPECT_EQ(pBar->maximum(), 100);
      EXPECT_TRUE(pBar->isTextVisible());
      // the settings' choice shows; the operator takes it back
      auto* pPD = qobject_cast<QCheckBox*>(p->pControl(IDC_CHECK_PD_FWUPG_ENABLE));
      ASSERT_NE(pPD, nullptr);
      EXPECT_TRUE(pPD->isChecked());
      EXPECT_TRUE(p->pControl(IDC_BUTTON_PD_FIRMWARE_FWBROWSE)->isEnabled());
      // the dialog's file dialog answers to the main view's script (cancelled here)
      view.setNextFileName("");
      QTest::mouseClick(qobject_cast<QAbstractButton*>(p->pControl(IDC_BUTTON_PD_FIRMWARE_FWBROWSE)),
                        Qt::LeftButton);
      QTest::mouseClick(pPD, Qt::LeftButton, {}, QPoint(4, pPD->height() / 2));
      EXPECT_FALSE(p->pControl(IDC_BUTTON_PD_FIRMWARE_FWBROWSE)->isEnabled());
      QTest::mouseClick(qobject_cast<QAbstractButton*>(p->pControl(IDC_PD_CLOSE)), Qt::LeftButton);
    } else if (eStep == EStep::Closed) {
      EXPECT_EQ(pDialog(), nullptr);
      vCloseWindow();
    }
  });
  EXPECT_EQ(nExit, 0);
  ASSERT_FALSE(bTimedOut) << "step " << static_cast<int>(eStep);
  EXPECT_TRUE(bChecked);
  const auto picks = view.filePicks();
  ASSERT_EQ(picks.size(), nPicksBefore + 1);
  EXPECT_NE(picks.back().strFilter.find("*.cyacd"), std::string::npos);
  EXPECT_EQ(ini.m_pINI.ucPDFw_enablel, 0);  // handed back when the dialog closed
  EXPECT_EQ(dlg.m_pPDUpdateDlg, nullptr);
}

TEST_F(PDDialogTest, WithoutABridgeSaysSoAndClosesAtOnce) {
  vLayOut(false);
  bool bSeenOpen = false;
  const int nExit = nRun([&] {
    if (eStep == EStep::WaitHub && bHubSeen()) {
      view.setNextAnswer(IDOK);
      vPressPD();
    } else if (eStep == EStep::Open) {
      bSeenOpen |= pDialog() != nullptr && pDialog()->isVisible();
    } else if (eStep == EStep::Closed) {
      EXPECT_EQ(pDialog(), nullptr);
      vCloseWindow();
    }
  });
  EXPECT_EQ(nExit, 0);
  ASSERT_FALSE(bTimedOut) << "step " << static_cast<int>(eStep);
  EXPECT_FALSE(bSeenOpen);  // no timer tick saw it waiting for the operator
  bool bBox = false;
  for (const auto& box : view.boxes()) bBox |= box.strText == "Can not Found VLN725x Device";
  EXPECT_TRUE(bBox);
}

}  // namespace
