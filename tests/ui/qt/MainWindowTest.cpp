// The window's controls, their states, the login, the keys, dragging and the thread rules,
// on the real widgets.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QTableWidget>
#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>

#include "WindowFixture.h"
#include "ui/qt/LoginDialog.h"
#include "ui/qt/QtControlView.h"

namespace {

using MainWindowTest = WindowFixture;

// Types into the login dialog once it is open and presses its key.
void vAnswerLogin(const QString& strTyped, int nKey = Qt::Key_Return) {
  QTimer::singleShot(0, [strTyped, nKey] {
    auto* pDlg = qobject_cast<CLoginDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(pDlg, nullptr);
    auto* pEdit = pDlg->findChild<QLineEdit*>("IDC_EDIT_LOGIN_PASSWORD");
    ASSERT_NE(pEdit, nullptr);
    EXPECT_TRUE(pEdit->text().isEmpty());
    EXPECT_EQ(pEdit->echoMode(), QLineEdit::Password);
    EXPECT_EQ(pEdit->maxLength(), 7);
    QTest::keyClicks(pEdit, strTyped);
    QTest::keyClick(pEdit, static_cast<Qt::Key>(nKey));
  });
}

TEST_F(MainWindowTest, EveryControlIsThereByIdWithItsCaptionAndToolTip) {
  CMainWindow& win = view.window();
  win.show();
  EXPECT_TRUE(win.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(win.windowTitle().toStdString(), MPTOOL_VERSION_TEXT);
  struct Tip {
    int nId;
    const char* pszTip;
  };
  for (Tip t : {Tip{IDC_BUTTON_EXIT, "Close"},
                {IDC_BUTTON_MIN, "Min"},
                {IDC_BUTTON_BROWSE_FW, "Browse FW"},
                {IDC_BUTTON_BROWSE_PRELOAD, "Browse Preload File"},
                {IDC_BUTTON_UNLOCK_MPTOOL, "Lock"},
                {IDC_BUTTON_LOAD_INI, "Load INI"},
                {IDC_BUTTON_SAVE_INI, "Save INI"},
                {IDC_BUTTON_CHECK_CONFIG, "Check_Config"},
                {IDC_BUTTON_PD, " Power Delivery Key"},
                {IDC_BUTTON_MORE_CONFIG, "MoreConfig"},
                {IDC_BUTTON_START, "Start"},
                {IDC_BUTTON_SAFELY_REMOVE, "Safely Remove"},
                {IDC_BUTTON_CLEAR, "Clear Count"}}) {
    ASSERT_NE(w(t.nId), nullptr) << t.nId;
    EXPECT_EQ(w(t.nId)->toolTip().toStdString(), t.pszTip) << t.nId;
  }
  for (int id : {IDC_BUTTON_START, IDC_BUTTON_SAFELY_REMOVE, IDC_BUTTON_CLEAR, IDC_CHECK_UPDATE_FW,
                 IDC_BUTTON_CREATE_CONFIG, IDC_STATIC_PASS, IDC_STATIC_FAIL, IDC_STATIC_TOTAL,
                 IDC_STATIC_PROGRESS, IDC_STATIC_SEARCH, IDC_GROUP_DEVICE_CONFIG, IDC_GROUP_SERIAL_NUMBER,
                 IDC_GROUP_DEVICE_FUNCTION, IDC_GROUP_FW_BROWSER, IDC_STATIC_SN_EDIT_TYPE})
    EXPECT_FALSE(view.strGetText(id).empty()) << id;
  EXPECT_EQ(view.strGetText(IDC_BUTTON_START), "Start");
  EXPECT_EQ(view.strGetText(IDC_GROUP_DEVICE_CONFIG), "Device Configuration");
  EXPECT_EQ(view.strGetText(IDC_CHECK_UPDATE_FW), "Update F/W");

  // Shown: the table's controls; present but never shown: the test options.
  for (int id :
       {IDC_EDIT_VID, IDC_EDIT_PID, IDC_EDIT_PID_U2, IDC_EDIT_REVISION, IDC_EDIT_SERIAL_NUMBER,
        IDC_EDIT_MANUFACTURER, IDC_EDIT_PRODUCT, IDC_EDIT_CONTAINER_ID, IDC_COMBO_CONFIG_FORMAT,
        IDC_COMBO_SN_EDIT_TYPE, IDC_COMBO_FW_BROWSE, IDC_LIST_RESULT, IDC_PROGRESS_SEARCH, IDC_PROGRESS_RUN,
        IDC_EDIT_PASS, IDC_EDIT_FAIL, IDC_EDIT_TOTAL, IDC_PICTURE_LOGO, IDC_STATIC_VERSION})
    EXPECT_TRUE(w(id)->isVisibleTo(&win)) << id;
  for (int id : {IDC_CHECK_UPDATE_CONFIG,   IDC_CHECK_RELOAD_FW,
                 IDC_CHECK_EXT_UPDATE_FW,   IDC_BUTTON_PD,
                 IDC_CHECK_AUTO_MP,         IDC_COMBO_AUTO_MP_DEVNUM,
                 IDC_CHECK_USB_STATUS,      IDC_COMBO_USB_STATUS,
                 IDC_CHECK_CONFIG_CHECK,    IDC_BUTTON_MORE_CONFIG,
                 IDC_CHECK_SN_CHK_HEX,      IDC_CHECK_SN_INCREASE,
                 IDC_RADIO_SN_HEX,          IDC_RADIO_SN_DEC,
                 IDC_COMBO_SN_INCREASE,     IDC_CHECK_INPUT_BARCODE,
                 IDC_CHECK_INPUT_HDDSN,     IDC_CHECK_AUTO_SAFE_REMOVE,
                 IDC_EDIT_SECONDS,          IDC_COMBO_IDLE_TIMER,
                 IDC_CHECK_FORMAT,          IDC_COMBO_FORMAT_TYPE,
                 IDC_COMBO_PARTITION_TYPE,  IDC_EDIT_DRIVE_LABEL,
                 IDC_CHECK_WR_TEST,         IDC_CHECK_SPEED_TEST,
                 IDC_EDIT_READ_SPEED,       IDC_EDIT_WRITE_SPEED,
                 IDC_CHECK_PRELOAD,         IDC_COMBO_PRELOAD,
                 IDC_BUTTON_BROWSE_PRELOAD, IDC_CHECK_CAPACITY,
                 IDC_EDIT_CAPACITY,         IDC_CHECK_SLT,
                 IDC_CHECK_SLT_FIRST,       IDC_CHECK_SLT_LAST}) {
    ASSERT_NE(w(id), nullptr) << id;
    EXPECT_FALSE(w(id)->isVisibleTo(&win)) << id;
    view.vShowControl(id, true);  // still not on the screen: they are never shown
    EXPECT_FALSE(w(id)->isVisible()) << id;
  }
  // Hidden controls still hold their settings.
  view.vSetCheck(IDC_CHECK_AUTO_MP, true);
  view.vSetListSelection(IDC_COMBO_USB_STATUS, 2);
  EXPECT_TRUE(view.bGetCheck(IDC_CHECK_AUTO_MP));
  EXPECT_EQ(view.nGetListSelection(IDC_COMBO_USB_STATUS), 2);
  EXPECT_EQ(view.strGetText(IDC_COMBO_USB_STATUS), "USB 3.1");
  EXPECT_EQ(w(IDC_EDIT_SERIAL_NUMBER)->objectName(), "IDC_EDIT_SERIAL_NUMBER");
  EXPECT_EQ(qobject_cast<QLineEdit*>(w(IDC_EDIT_SERIAL_NUMBER))->maxLength(), 20);
  EXPECT_EQ(qobject_cast<QLineEdit*>(w(IDC_EDIT_MANUFACTURER))->maxLength(), 44);
  EXPECT_EQ(qobject_cast<QLineEdit*>(w(IDC_EDIT_PRODUCT))->maxLength(), 48);
  EXPECT_EQ(qobject_cast<QLineEdit*>(w(IDC_EDIT_CONTAINER_ID))->maxLength(), 32);
  EXPECT_EQ(qobject_cast<QComboBox*>(w(IDC_COMBO_IDLE_TIMER))->count(), 12);
  EXPECT_FALSE(qobject_cast<QLabel*>(w(IDC_PICTURE_PASS))->pixmap().isNull());
  EXPECT_FALSE(qobject_cast<QLabel*>(w(IDC_PICTURE_FAIL))->pixmap().isNull());
  EXPECT_FALSE(qobject_cast<QLabel*>(w(IDC_PICTURE_LOGO))->pixmap().isNull());
}

TEST_F(MainWindowTest, TheViewPaintsCellsCountersBarsAndTheVersionLabel) {
  view.vSetTableColumns(IDC_LIST_RESULT, {"Port#", "Status"}, {46, 90});
  view.vSetTableCell(IDC_LIST_RESULT, 3, 1, "PASS", RGB(255, 255, 255), RGB(0, 200, 0));
  auto* pTable = qobject_cast<QTableWidget*>(w(IDC_LIST_RESULT));
  ASSERT_GE(pTable->rowCount(), 4);
  EXPECT_EQ(pTable->horizontalHeaderItem(0)->text(), "Port#");
  EXPECT_EQ(pTable->columnWidth(1), 90);
  QTableWidgetItem* pItem = pTable->item(3, 1);
  ASSERT_NE(pItem, nullptr);
  EXPECT_EQ(pItem->text(), "PASS");
  EXPECT_EQ(pItem->background().color(), QColor(0, 200, 0));
  EXPECT_EQ(pItem->foreground().color(), QColor(255, 255, 255));
  view.vClearTable(IDC_LIST_RESULT);
  EXPECT_EQ(pTable->rowCount(), 0);

  view.vSetProgressRange(IDC_PROGRESS_RUN, 0, 100);
  view.vSetProgressPos(IDC_PROGRESS_RUN, 40);
  view.vSetProgressColour(IDC_PROGRESS_RUN, RGB(20, 232, 20));
  auto* pBar = qobject_cast<QProgressBar*>(w(IDC_PROGRESS_RUN));
  EXPECT_EQ(pBar->value(), 40);
  EXPECT_TRUE(pBar->isTextVisible());
  EXPECT_TRUE(pBar->styleSheet().contains("#14e814"));

  view.vSetText(IDC_EDIT_PASS, "3");
  EXPECT_EQ(view.strGetText(IDC_EDIT_PASS), "3");
  view.vSetFont(IDC_STATIC_VERSION, FontSpec{"Arial", 14, 7, 700});
  view.vSetTextColour(IDC_STATIC_VERSION, RGB(255, 0, 0));
  EXPECT_TRUE(w(IDC_STATIC_VERSION)->font().bold());
  EXPECT_EQ(w(IDC_STATIC_VERSION)->palette().color(QPalette::WindowText), QColor(255, 0, 0));
  view.vShowPicture(IDC_BUTTON_UNLOCK_MPTOOL, "UNLOCK");
  EXPECT_FALSE(qobject_cast<QAbstractButton*>(w(IDC_BUTTON_UNLOCK_MPTOOL))->icon().isNull());
}

TEST_F(MainWindowTest, ControlStatesOnTheWidgetsInNormalRDAutoAndRunState) {
  view.window().show();
  view.vSetCheck(IDC_CHECK_UPDATE_FW, true);
  dlg.vSetNormalControls();
  for (int id : {IDC_BUTTON_LOAD_INI, IDC_BUTTON_START, IDC_BUTTON_SAFELY_REMOVE, IDC_BUTTON_UNLOCK_MPTOOL,
                 IDC_BUTTON_EXIT, IDC_BUTTON_MIN})
    EXPECT_TRUE(bEnabled(id)) << id;
  for (int id : {IDC_COMBO_FW_BROWSE, IDC_EDIT_VID, IDC_EDIT_PRODUCT, IDC_BUTTON_SAVE_INI, IDC_BUTTON_CLEAR})
    EXPECT_FALSE(bEnabled(id)) << id;
  for (int id : {IDC_EDIT_PASS, IDC_EDIT_FAIL, IDC_EDIT_TOTAL, IDC_EDIT_PROGRESS_TEXT})
    EXPECT_TRUE(qobject_cast<QLineEdit*>(w(id))->isReadOnly()) << id;

  // R&D through the Lock button and the password dialog.
  dlg.m_pRunEngine = nullptr;
  view.window().vSetCommandHandler([this](int nId) {
    if (nId == IDC_BUTTON_UNLOCK_MPTOOL) dlg.OnBnClickedButtonUnlockMptool();
  });
  vAnswerLogin("quillon");
  QTest::mouseClick(qobject_cast<QAbstractButton*>(w(IDC_BUTTON_UNLOCK_MPTOOL)), Qt::LeftButton);
  ASSERT_TRUE(dlg.m_bRDMode);
  EXPECT_EQ(w(IDC_BUTTON_UNLOCK_MPTOOL)->toolTip(), "Unlock");
  for (int id : {IDC_COMBO_FW_BROWSE, IDC_EDIT_VID, IDC_EDIT_PRODUCT, IDC_BUTTON_SAVE_INI, IDC_BUTTON_CLEAR,
                 IDC_BUTTON_START, IDC_CHECK_AUTO_MP})
    EXPECT_TRUE(bEnabled(id)) << id;

  dlg.vSetRunControls();
  for (int id : {IDC_BUTTON_LOAD_INI, IDC_BUTTON_START, IDC_BUTTON_SAFELY_REMOVE, IDC_BUTTON_UNLOCK_MPTOOL,
                 IDC_BUTTON_EXIT, IDC_BUTTON_MIN, IDC_EDIT_VID, IDC_BUTTON_SAVE_INI})
    EXPECT_FALSE(bEnabled(id)) << id;

  // Locked again with auto mode on: auto mode's state.
  ini.m_pINI.ucAuto_mp = 1;
  dlg.vApplyIdleControls();  // (R&D still on: the normal R&D state)
  EXPECT_TRUE(bEnabled(IDC_BUTTON_START));
  QTest::mouseClick(qobject_cast<QAbstractButton*>(w(IDC_BUTTON_UNLOCK_MPTOOL)), Qt::LeftButton);
  EXPECT_FALSE(dlg.m_bRDMode);
  EXPECT_EQ(w(IDC_BUTTON_UNLOCK_MPTOOL)->toolTip(), "Lock");
  EXPECT_FALSE(bEnabled(IDC_BUTTON_START));
  EXPECT_TRUE(bEnabled(IDC_BUTTON_SAFELY_REMOVE));
  EXPECT_FALSE(bEnabled(IDC_CHECK_AUTO_MP));
}

TEST_F(MainWindowTest, TheLoginDialogOnlyUnlocksWithThePassword) {
  view.window().show();
  struct Case {
    const char* pszTyped;
    int nKey;
    bool bRD;
  };
  for (Case c : {Case{"", Qt::Key_Return, false},
                 {"wrong", Qt::Key_Return, false},
                 {"quillon", Qt::Key_Escape, false},
                 {"QUILLONX", Qt::Key_Return, true}}) {
    // (the edit takes 7 characters: the eighth is never typed in)
    dlg.m_bRDMode = false;
    vAnswerLogin(c.pszTyped, c.nKey);
    dlg.OnBnClickedButtonUnlockMptool();
    EXPECT_EQ(dlg.m_bRDMode, c.bRD) << c.pszTyped;
  }
}

TEST_F(MainWindowTest, EnterAndEscapeSendStartAndSafelyRemoveOnlyWhileStartIsEnabled) {
  std::vector<int> commands, edits;
  view.window().vSetCommandHandler(
      [&](int nId) { (nId == IDC_EDIT_SERIAL_NUMBER ? edits : commands).push_back(nId); });
  view.window().show();
  QApplication::setActiveWindow(&view.window());
  auto* pEdit = qobject_cast<QLineEdit*>(w(IDC_EDIT_SERIAL_NUMBER));
  view.vEnableControl(IDC_EDIT_SERIAL_NUMBER, true);
  pEdit->setFocus();
  view.vEnableControl(IDC_BUTTON_START, true);
  QTest::keyClick(pEdit, Qt::Key_Return);
  QTest::keyClick(pEdit, Qt::Key_Enter);
  QTest::keyClick(pEdit, Qt::Key_Escape);
  EXPECT_EQ(commands, (std::vector<int>{IDC_BUTTON_START, IDC_BUTTON_START, IDC_BUTTON_SAFELY_REMOVE}));

  commands.clear();
  view.vEnableControl(IDC_BUTTON_START, false);
  QTest::keyClick(pEdit, Qt::Key_Return);
  QTest::keyClick(pEdit, Qt::Key_Escape);
  QTest::keyClicks(pEdit, "AB");  // other keys go on to the field as ever
  EXPECT_TRUE(commands.empty());
  EXPECT_EQ(pEdit->text(), "AB");
  EXPECT_EQ(edits.size(), 2u);             // each typed key is a change of the field
  EXPECT_TRUE(view.window().isVisible());  // Escape did not close anything
}

TEST_F(MainWindowTest, PressingAnywhereDragsTheWindowAndMinMinimises) {
  CMainWindow& win = view.window();
  win.move(100, 100);
  win.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&win));
  const QPoint start = win.pos();
  const QPoint inside(5, 5);  // the window's margin, no control there
  const QPoint global = win.mapToGlobal(inside);
  QMouseEvent press(QEvent::MouseButtonPress, inside, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&win, &press);
  QMouseEvent move(QEvent::MouseMove, inside + QPoint(30, 20), global + QPoint(30, 20), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&win, &move);
  QMouseEvent release(QEvent::MouseButtonRelease, inside + QPoint(30, 20), global + QPoint(30, 20),
                      Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(&win, &release);
  EXPECT_EQ(win.pos(), start + QPoint(30, 20));
  // Moving without the button held moves nothing.
  QMouseEvent loose(QEvent::MouseMove, inside + QPoint(90, 90), global + QPoint(90, 90), Qt::NoButton,
                    Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(&win, &loose);
  EXPECT_EQ(win.pos(), start + QPoint(30, 20));

  QTest::mouseClick(qobject_cast<QAbstractButton*>(w(IDC_BUTTON_MIN)), Qt::LeftButton);
  EXPECT_TRUE(win.isMinimized());
}

TEST_F(MainWindowTest, OtherThreadsReachTheWidgetsThroughTheWindowThread) {
  std::atomic<bool> bPosted{false};
  std::string strRead;
  std::atomic<int> nAnswer{0};
  view.vSetText(IDC_EDIT_VID, "2F7B");
  view.setNextAnswer(IDYES);
  std::thread worker([&] {
    view.vSetText(IDC_EDIT_PASS, "5");  // posted: returns before the GUI thread ran it
    view.vEnableControl(IDC_BUTTON_CLEAR, false);
    bPosted = true;
    strRead = view.strGetText(IDC_EDIT_VID);  // waits for the GUI thread's answer
    nAnswer = view.nMessageBox("Continue?", "Question", MB_YESNO | MB_ICONQUESTION);
  });
  while (!bPosted) std::this_thread::yield();
  EXPECT_EQ(view.strGetText(IDC_EDIT_PASS), "0");  // not yet run: the GUI thread did not look
  ASSERT_TRUE(bWaitFor([&] { return view.strGetText(IDC_EDIT_PASS) == "5"; }));
  ASSERT_TRUE(bWaitFor([&] { return nAnswer != 0; }));
  worker.join();
  EXPECT_FALSE(bEnabled(IDC_BUTTON_CLEAR));
  EXPECT_EQ(strRead, "2F7B");
  EXPECT_EQ(nAnswer, IDYES);
  ASSERT_EQ(view.boxes().size(), 1u);
  EXPECT_EQ(view.boxes()[0].strText, "Continue?");
}

// A dialog's view over its own widgets: the main view's scripts answer its boxes, other
// threads reach its widgets, and a call still queued when it goes is dropped.
TEST_F(MainWindowTest, ADialogsViewSharesTheScriptsAndDropsCallsLeftWhenItGoes) {
  QWidget other;
  auto* pLabel = new QLabel("FFFF", &other);
  const int nId = IDC_PD_PORT_STATUS[0];
  auto pView = std::make_unique<CQtControlView>(
      wt, &other, [pLabel, nId](int n) { return n == nId ? pLabel : nullptr; }, view.scripts());
  view.setNextAnswer(IDOK);
  EXPECT_EQ(pView->nMessageBox("Please power cycling", "", MB_OK), IDOK);
  ASSERT_EQ(view.boxes().size(), 1u);
  EXPECT_EQ(view.boxes()[0].strText, "Please power cycling");
  std::thread([&] { pView->vSetText(nId, "Ready"); }).join();
  ASSERT_TRUE(bWaitFor([&] { return pLabel->text() == "Ready"; }));
  std::thread([&] { pView->vSetText(nId, "late"); }).join();
  pView.reset();
  wt.nRunPending();
  EXPECT_EQ(pLabel->text(), "Ready");
}

TEST_F(MainWindowTest, ScriptedFileNamesAnswerTheFileDialog) {
  view.setNextFileName(dir.str() + "/a.ini");
  view.setNextFileName("");
  FilePick pick;
  pick.bSave = true;
  pick.strFilter = "Config .ini File (*.ini)|*.ini||";
  EXPECT_EQ(view.strPickFile(pick), dir.str() + "/a.ini");
  EXPECT_EQ(view.strPickFile(pick), "");  // the operator cancelled
  ASSERT_EQ(view.filePicks().size(), 2u);
  EXPECT_TRUE(view.filePicks()[0].bSave);
}

TEST_F(MainWindowTest, TypingIntoAFieldRunsItsEditorAndTheCaretStays) {
  view.window().vSetCommandHandler([this](int nId) { dlg.OnEnChangeField(nId); });
  view.window().show();
  auto* pEdit = qobject_cast<QLineEdit*>(w(IDC_EDIT_VID));
  view.vEnableControl(IDC_EDIT_VID, true);
  pEdit->setFocus();
  QTest::keyClicks(pEdit, "2g7b");
  EXPECT_EQ(pEdit->text(), "27b");
  EXPECT_EQ(ini.m_pINI.ucVendor_id, "27b");
  pEdit->setCursorPosition(1);
  // The x is dropped and the caret stays where the keystroke left it, so the F follows the 7.
  QTest::keyClicks(pEdit, "xF");
  EXPECT_EQ(pEdit->text(), "27Fb");
  EXPECT_EQ(pEdit->cursorPosition(), 3);
  QTest::keyClicks(pEdit, "A");  // the field takes no fifth character
  EXPECT_EQ(pEdit->text(), "27Fb");
}

}  // namespace
