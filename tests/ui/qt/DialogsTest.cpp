// The More Config, serial-number entry and configuration check dialogs on their widgets.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTimer>
#include <QToolButton>
#include <algorithm>

#include "WindowFixture.h"
#include "ui/qt/CheckConfigDialog.h"
#include "ui/qt/MoreConfigDialog.h"
#include "ui/qt/SerialNumberDialog.h"

namespace {

using DialogsTest = WindowFixture;

TEST_F(DialogsTest, MoreConfigShowsThreeBoxesAndLocksTwoWithoutUpdateFirmware) {
  CDeviceCfgDlg flags;
  flags.m_bPMU = 1;
  flags.m_bTwoLEDSMode = 1;
  CMoreConfigDialog d(flags, false);
  d.show();
  auto* pU1U2 = d.findChild<QCheckBox*>("checkU1U2");
  auto* pLpm = d.findChild<QCheckBox*>("checkLpm");
  auto* pPmu = d.findChild<QCheckBox*>("checkPmu");
  ASSERT_TRUE(pU1U2 && pLpm && pPmu);
  EXPECT_FALSE(pU1U2->isEnabled());
  EXPECT_FALSE(pLpm->isEnabled());
  EXPECT_TRUE(pPmu->isEnabled());
  EXPECT_TRUE(pPmu->isChecked());
  EXPECT_EQ(pPmu->toolTip(), "Low Power Mode");
  EXPECT_EQ(pLpm->toolTip(), "LP");
  for (const char* pszHidden :
       {"checkTwoLeds", "checkBcPort1", "checkBcPort4", "checkImage0", "checkImage1", "checkCrc32"})
    EXPECT_FALSE(d.findChild<QCheckBox*>(pszHidden)->isVisible()) << pszHidden;
  EXPECT_FALSE(d.findChild<QCheckBox*>("checkTwoLeds")->isChecked());
  EXPECT_EQ(flags.m_bTwoLEDSMode, 1);  // the hidden box leaves its flag alone
  QTest::mouseClick(pPmu, Qt::LeftButton, {}, QPoint(4, pPmu->height() / 2));
  EXPECT_EQ(flags.m_bPMU, 0);  // a click sets the flag at once
  d.reject();
  EXPECT_EQ(flags.m_bPMU, 0);  // and Cancel does not undo it

  CMoreConfigDialog d2(flags, true);
  EXPECT_TRUE(d2.findChild<QCheckBox*>("checkU1U2")->isEnabled());
  EXPECT_TRUE(d2.findChild<QCheckBox*>("checkLpm")->isEnabled());
}

struct SerialDialogTest : WindowFixture {
  CSNDlgData data{ini.m_pINI};
  bool bPresent = true;
};

TEST_F(SerialDialogTest, EnterTakesAScanOfTheRightLengthAndEmptiesAnyOther) {
  ini.m_pINI.uiSN_Numbers = 16;
  data.m_strSNandPStringDlgPCBSN = "old";
  CSerialNumberDialog d(data, [this] { return bPresent; });
  d.show();
  EXPECT_EQ(d.windowTitle(), "Serial Number Entering");
  EXPECT_TRUE(data.m_strSNandPStringDlgPCBSN.empty());  // emptied at opening
  EXPECT_EQ(d.field()->maxLength(), 20);
  QTest::keyClicks(d.field(), "abcdef012345678");  // fifteen
  QTest::keyClick(d.field(), Qt::Key_Return);
  EXPECT_TRUE(d.isVisible());
  EXPECT_TRUE(d.field()->text().isEmpty());
  QTest::keyClicks(d.field(), "abcdef0123456789");  // sixteen
  QTest::keyClick(d.field(), Qt::Key_Return);
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_EQ(data.m_strSNandPStringDlgPCBSN, "ABCDEF0123456789");
}

TEST_F(SerialDialogTest, TwelveCharactersWithoutALengthAndEscapeCancels) {
  ini.m_pINI.uiSN_Numbers = 0;
  {
    CSerialNumberDialog d(data, [this] { return bPresent; });
    d.show();
    QTest::keyClicks(d.field(), "12345678901");
    QTest::keyClick(d.field(), Qt::Key_Return);
    EXPECT_TRUE(d.isVisible());
    QTest::keyClicks(d.field(), "123456789012");
    QTest::keyClick(d.field(), Qt::Key_Return);
    EXPECT_EQ(d.result(), QDialog::Accepted);
  }
  CSerialNumberDialog d(data, [this] { return bPresent; });
  d.show();
  QTest::keyClicks(d.field(), "1234");
  QTest::keyClick(d.field(), Qt::Key_Escape);
  EXPECT_EQ(d.result(), QDialog::Rejected);
  EXPECT_FALSE(d.isVisible());
}

TEST_F(SerialDialogTest, TheDialogTakesTheKeyboardBackAtItsNextEvent) {
  CSerialNumberDialog d(data, [this] { return bPresent; });
  d.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
  QWidget other;
  other.show();
  QLineEdit otherField(&other);
  other.activateWindow();
  otherField.setFocus();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
  EXPECT_FALSE(d.isActiveWindow());
  QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), d.mapToGlobal(QPointF(5, 5)), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(&d, &move);
  EXPECT_TRUE(QTest::qWaitForWindowActive(&d));
  EXPECT_TRUE(d.field()->hasFocus());
  // a scanner's keys now land in the field
  QTest::keyClicks(QApplication::focusWidget(), "SCAN");
  EXPECT_EQ(d.field()->text(), "SCAN");
}

TEST_F(SerialDialogTest, WithoutAHubTheFieldStaysEmpty) {
  bPresent = false;
  ini.m_pINI.ucSerial_number = "before";
  CSerialNumberDialog d(data, [this] { return bPresent; });
  d.show();
  QTest::keyClicks(d.field(), "12");
  EXPECT_TRUE(d.field()->text().isEmpty());
  EXPECT_TRUE(ini.m_pINI.ucSerial_number.empty());
}

TEST_F(DialogsTest, CheckConfigReadsTheChosenHubAndShowsTheDump) {
  DeviceList list;
  for (auto& r : list.dev) r.vFree();
  {
    CDebugDlg data;
    CCheckConfigDialog d(data, list, nullptr, nullptr);
    EXPECT_EQ(d.windowTitle(), "Check Configuration Dialog");
    EXPECT_FALSE(d.findChild<QToolButton*>("buttonReadConfig")->isEnabled());
    EXPECT_EQ(d.findChild<QComboBox*>("comboPort")->count(), 0);
  }
  for (int i = 0; i < 3; ++i) list.dev[i].ucIndex = static_cast<uint8_t>(i);
  list.dev[2].m_ucHubBondingOption = 2;
  CDebugDlg data;
  std::vector<std::string> shown;
  int nRead = -1;
  CCheckConfigDialog d(
      data, list,
      [&](int n, uint8_t* p, uint32_t dw) {
        nRead = n;
        for (uint32_t i = 0; i < dw; ++i) p[i] = 0xFF;
        return 0;
      },
      [&](const std::string& s) { shown.push_back(s); });
  d.show();
  auto* pPort = d.findChild<QComboBox*>("comboPort");
  ASSERT_EQ(pPort->count(), 3);
  EXPECT_EQ(pPort->itemText(2), "2");
  for (const char* pszHidden : {"registerRead", "groupWriteRegister", "buttonDeviceInfo"})
    EXPECT_FALSE(d.findChild<QWidget*>(pszHidden)->isVisible()) << pszHidden;
  pPort->setCurrentIndex(2);
  QTest::mouseClick(d.findChild<QToolButton*>("buttonReadConfig"), Qt::LeftButton);
  EXPECT_EQ(nRead, 2);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].substr(0, 5), "02 FF");
  EXPECT_EQ(std::count(shown[0].begin(), shown[0].end(), '\n'), 15);
}

TEST_F(DialogsTest, TheWindowsButtonsOpenTheDialogsOverTheLogicsData) {
  view.vAttach(dlg);
  view.window().show();
  ini.m_pINI.ucPMU = 1;
  QTimer::singleShot(0, [] {
    auto* pDlg = qobject_cast<CMoreConfigDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(pDlg, nullptr);
    EXPECT_TRUE(pDlg->findChild<QCheckBox*>("checkPmu")->isChecked());
    pDlg->accept();
  });
  dlg.OnBnClickedMoreConfig();
  EXPECT_EQ(ini.m_pINI.ucPMU, 1);
  QTimer::singleShot(0, [] {
    auto* pDlg = qobject_cast<CCheckConfigDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(pDlg, nullptr);
    pDlg->reject();
  });
  dlg.OnBnClickedDEBUG();
}

}  // namespace
