// A whole production run from the window on a simulated bench of eight hubs: the rows show the
// hubs, Start is pressed, their update and relink cells turn to PASS, the counters count, the PASS picture
// shows and the serial-number field moves on. Screenshots of the window before and after the run are written
// into the build folder.
#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QTableWidget>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "WindowFixture.h"
#include "app/WindowMode.h"
#include "log/DebugLog.h"
#include "run/ResultTable.h"
#include "run/RunEngine.h"
#include "support/E2EBench.h"
#include "support/PeakRss.h"

namespace fs = std::filesystem;

namespace {

// Eight hubs, the most one run takes, on two controllers.
constexpr int HUBS = 8;

// How the operator starts the run.
enum class EStart { StartButton, EnterKey };

struct WindowRunTest : WindowFixture {
  fs::path oldCwd = fs::current_path();
  std::vector<std::string> unexpectedBoxes;

  WindowRunTest() {
    vLayOutWindowRun(dir, HUBS);  // the operator presses Start
    setenv("MPTOOL_SIM", (dir.str() + "/bench.json").c_str(), 1);
    fs::current_path(dir.path());
  }
  ~WindowRunTest() override {
    fs::current_path(oldCwd);
    unsetenv("MPTOOL_SIM");
  }

  QTableWidget* table() { return qobject_cast<QTableWidget*>(w(IDC_LIST_RESULT)); }
  int nRowsWith(int nColumn, const QString& strText) {
    int n = 0;
    for (int r = 0; r < table()->rowCount(); ++r)
      if (table()->item(r, nColumn) && table()->item(r, nColumn)->text() == strText) ++n;
    return n;
  }
  // A box nobody expected would wait for an operator forever: it is noted and closed.
  void vCloseStrayBoxes() {
    if (auto* pBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      unexpectedBoxes.push_back(pBox->text().toStdString());
      pBox->reject();
    }
  }
  void vRunFromTheWindow(EStart eStart);
  void vScreenshot(const char* pszName) {
    fs::create_directories(fs::path(MPTOOL_BIN_DIR) / ".." / "screenshots");
    view.window().grab().save(
        QString::fromStdString((fs::path(MPTOOL_BIN_DIR) / ".." / "screenshots" / pszName).string()));
  }
};

void WindowRunTest::vRunFromTheWindow(EStart eStart) {
  dlg.OnInitDialog();
  if (getenv("WINDOW_TEST_DEBUG")) vDEBUG_SetLevel(4);
  ASSERT_FALSE(dlg.bExitRequested());
  enum class EStep { WaitHubs, WaitPass, Done } eStep = EStep::WaitHubs;
  bool bTimedOut = false;
  bool bStartTick = false;
  int nMaxLateMs = 0;  // how late the GUI thread ran a 5 ms timer during the run
  QElapsedTimer clockReal;
  clockReal.start();
  QElapsedTimer sinceTick;
  sinceTick.start();
  QTimer ticker;
  ticker.setInterval(5);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const int nLate = static_cast<int>(sinceTick.restart()) - 5;
    // (the tick that pressed Start ran the Start handler itself: not counted)
    if (eStep == EStep::WaitPass && !bStartTick) nMaxLateMs = std::max(nMaxLateMs, nLate);
    bStartTick = false;
    vCloseStrayBoxes();
    if (bTimedOut || eStep == EStep::Done) return;
    if (clockReal.elapsed() > 30000) {
      bTimedOut = true;
      for (int r = 0; r < table()->rowCount(); ++r) {
        std::string strRow;
        for (int c = 0; c < table()->columnCount(); ++c)
          strRow += (table()->item(r, c) ? table()->item(r, c)->text().toStdString() : "") + "|";
        ADD_FAILURE() << "row " << r << ": " << strRow;
      }
      for (const auto& strBox : unexpectedBoxes) ADD_FAILURE() << "box: " << strBox;
      view.setNextAnswer(IDOK);  // the exit sequence's replug message
      view.window().close();
      return;
    }
    if (eStep == EStep::WaitHubs && eStart == EStart::EnterKey &&
        QApplication::activeWindow() != &view.window()) {
      view.window().activateWindow();  // the keyboard goes to the active window
      return;
    }
    // (Start is disabled while a scan runs: the key is pressed in the same pass that saw it
    // enabled, with no events handled in between)
    if (eStep == EStep::WaitHubs && nRowsWith(COL_VID, "2F7B") == HUBS && bEnabled(IDC_BUTTON_START)) {
      EXPECT_FALSE(w(IDC_PICTURE_PASS)->isVisible());
      EXPECT_EQ(view.strGetText(IDC_EDIT_SERIAL_NUMBER), "000000000001");
      vScreenshot(eStart == EStart::StartButton ? "window_before_run.png" : "window_before_run_keyboard.png");
      eStep = EStep::WaitPass;
      bStartTick = true;
      QElapsedTimer start;
      start.start();
      if (eStart == EStart::StartButton) {
        QTest::mouseClick(qobject_cast<QAbstractButton*>(w(IDC_BUTTON_START)), Qt::LeftButton);
      } else {
        // the key goes where the keyboard focus is, as the operator's would
        QWidget* pFocus = QApplication::focusWidget();
        QTest::keyClick(pFocus ? pFocus : &view.window(), Qt::Key_Return);
      }
      std::printf("GUI thread: the Start handler took %lld ms\n", static_cast<long long>(start.elapsed()));
    } else if (eStep == EStep::WaitPass && dlg.m_pRunEngine && !dlg.m_pRunEngine->bRunThreadRunning() &&
               nRowsWith(COL_UPDATE, "PASS") == HUBS && nRowsWith(COL_RELINK, "PASS") == HUBS &&
               view.strGetText(IDC_EDIT_TOTAL) == std::to_string(HUBS) && bEnabled(IDC_BUTTON_START)) {
      eStep = EStep::Done;
      vScreenshot(eStart == EStart::StartButton ? "window_after_run.png" : "window_after_run_keyboard.png");
      view.setNextAnswer(IDOK);  // the exit sequence's replug message
      view.window().close();
    }
  });
  ticker.start();
  int nExit = nRunWindow(dlg, view);
  ticker.stop();

  EXPECT_EQ(nExit, 0);
  ASSERT_FALSE(bTimedOut) << "step " << static_cast<int>(eStep);
  ASSERT_EQ(eStep, EStep::Done);
  EXPECT_TRUE(unexpectedBoxes.empty()) << unexpectedBoxes.front();
  for (int r = 0; r < table()->rowCount(); ++r) {
    QTableWidgetItem* pItem = table()->item(r, COL_RELINK);
    if (!pItem || pItem->text() != "PASS") continue;
    EXPECT_EQ(table()->item(r, COL_VID)->text(), "2F7B");
    EXPECT_EQ(table()->item(r, COL_PID)->text(), "5A01");  // the identity the run gave the hub
    EXPECT_EQ(pItem->background().color(), QColor(0, 200, 0));
    EXPECT_EQ(pItem->foreground().color(), QColor(255, 255, 255));
  }
  EXPECT_EQ(view.strGetText(IDC_EDIT_PASS), std::to_string(HUBS));
  EXPECT_EQ(view.strGetText(IDC_EDIT_FAIL), "0");
  EXPECT_TRUE(w(IDC_PICTURE_PASS)->isVisibleTo(&view.window()));
  EXPECT_FALSE(w(IDC_PICTURE_FAIL)->isVisibleTo(&view.window()));
  // every hub took its own serial number: the next one is the ninth
  EXPECT_EQ(view.strGetText(IDC_EDIT_SERIAL_NUMBER), "000000000009");
  EXPECT_NE(dir.read("vlnhub.ini").find("serial_number=000000000009"), std::string::npos);
  RecordProperty("gui_timer_max_late_ms", nMaxLateMs);
  std::printf("GUI thread: a 5 ms timer was at most %d ms late during the run; peak memory %ld kB\n",
              nMaxLateMs, lPeakRssKB());
}

TEST_F(WindowRunTest, StartPressedTurnsTheHubsRowsToPassAndMovesTheSerialNumberOn) {
  vRunFromTheWindow(EStart::StartButton);
}

TEST_F(WindowRunTest, EnterStartsTheRunFromTheKeyboard) {
  vRunFromTheWindow(EStart::EnterKey);
}

}  // namespace
