// The window's texts from the UI text table, its about box, and the file actions, the about
// box and the close request as the running window wires them.
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <cstdlib>
#include <filesystem>

#include "WindowFixture.h"
#include "app/WindowMode.h"
#include "support/E2EBench.h"
#include "support/LogCapture.h"
#include "ui/UiTextTable.h"
#include "ui/qt/AboutDialog.h"

namespace fs = std::filesystem;

namespace {

using WindowTextsTest = WindowFixture;

// Notes the about box's texts once it is open and closes it with its button.
struct AboutSeen {
  std::string strTitle, strVersion, strButton;
};
void vAnswerAbout(AboutSeen& seen) {
  QTimer::singleShot(0, [&seen] {
    auto* pDlg = qobject_cast<CAboutDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(pDlg, nullptr);
    seen.strTitle = pDlg->windowTitle().toStdString();
    seen.strVersion = pDlg->findChild<QLabel*>("labelVersion")->text().toStdString();
    QPushButton* pOk = pDlg->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    seen.strButton = pOk->text().toStdString();
    QTest::mouseClick(pOk, Qt::LeftButton);
  });
}

TEST_F(WindowTextsTest, CaptionsListsAndColumnTitlesComeFromTheTextTable) {
  const CUiTextTable& t = uiTexts();
  dlg.vSetTextsFromTextTable();
  EXPECT_EQ(view.strGetText(IDC_GROUP_DEVICE_CONFIG), "Device Configuration");
  EXPECT_EQ(view.strGetText(IDC_STATIC_SN_EDIT_TYPE), "SN Edit Type");
  EXPECT_EQ(view.strGetText(IDC_GROUP_DEVICE_FUNCTION), "Device Function");
  EXPECT_EQ(view.strGetText(IDC_CHECK_AUTO_MP), "MP Auto Mode");
  EXPECT_EQ(view.strGetText(IDC_CHECK_WR_TEST), "W/R Test");
  EXPECT_EQ(view.strGetText(IDC_STATIC_TOTAL), "Total");
  EXPECT_EQ(view.strGetText(IDC_STATIC_PROGRESS), "Progress Bar");
  // a caption the table does not hold stays the window's
  EXPECT_EQ(view.strGetText(IDC_CHECK_UPDATE_FW), "Update F/W");
  // and so does every tool tip
  EXPECT_EQ(w(IDC_BUTTON_LOAD_INI)->toolTip().toStdString(), "Load INI");

  auto entries = [&](int nId) {
    auto* pCombo = qobject_cast<QComboBox*>(w(nId));
    std::vector<std::string> v;
    for (int i = 0; pCombo && i < pCombo->count(); ++i) v.push_back(pCombo->itemText(i).toStdString());
    return v;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(entries(IDC_COMBO_SN_EDIT_TYPE),
            (V{"0.User define", "1.Increase HEX", "2.Increase DEC", "3.From Barcode"}));
  EXPECT_EQ(entries(IDC_COMBO_CONFIG_FORMAT), (V{"UnChanged", "TYPE1", "TYPE2"}));
  EXPECT_EQ(entries(IDC_COMBO_FORMAT_TYPE), (V{"NTFS", "FAT32", "exFAT"}));
  EXPECT_EQ(entries(IDC_COMBO_USB_STATUS), (V{"USB 2.0", "USB 3.0", "USB 3.1"}));
  EXPECT_EQ(entries(IDC_COMBO_PARTITION_TYPE), (V{"MBR", "GPT"}));
  EXPECT_EQ(entries(IDC_COMBO_SN_INCREASE), (V{"DISABLE", "INCREASE"}));
  const V idle = entries(IDC_COMBO_IDLE_TIMER);
  ASSERT_EQ(idle.size(), 12u);
  EXPECT_EQ(idle.front(), "Never");
  EXPECT_EQ(idle[1], "3 Min");
  EXPECT_EQ(idle.back(), "5 Hr");

  auto* pTable = qobject_cast<QTableWidget*>(w(IDC_LIST_RESULT));
  ASSERT_EQ(pTable->columnCount(), 13);
  for (int c = 0; c < 13; ++c)
    EXPECT_EQ(pTable->horizontalHeaderItem(c)->text().toStdString(), t.str(t.m_nColumnTitles, c)) << c;
  EXPECT_EQ(pTable->horizontalHeaderItem(0)->text(), "Port#");
}

TEST_F(WindowTextsTest, TheContextMenusAboutEntryOpensTheAboutBoxWithTheVersion) {
  view.window().vSetCommandHandler([this](int nId) {
    if (nId == IDM_ABOUTBOX) dlg.OnAboutBox();
  });
  QAction* pAbout = view.window().pAboutAction();
  ASSERT_NE(pAbout, nullptr);
  EXPECT_EQ(pAbout->text(), "About MPTool");
  EXPECT_EQ(view.window().contextMenuPolicy(), Qt::ActionsContextMenu);
  AboutSeen seen;
  vAnswerAbout(seen);
  pAbout->trigger();
  EXPECT_EQ(seen.strTitle, "About MPTool");
  EXPECT_EQ(seen.strVersion, MPTOOL_VERSION_TEXT);
  EXPECT_EQ(seen.strButton, "Ok");
  view.window().vSetCommandHandler({});
}

TEST_F(WindowTextsTest, TheRealFileDialogsOpenInTheGivenFolderAndACancelGivesNothing) {
  fs::create_directories(dir.path() / "sub");
  struct Seen {
    std::string strFolder;
    bool bDirectoryMode = false;
  };
  auto answer = [](Seen& seen) {
    QTimer::singleShot(0, [&seen] {
      auto* pDlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(pDlg, nullptr);
      seen.strFolder = pDlg->directory().absolutePath().toStdString();
      seen.bDirectoryMode = pDlg->fileMode() == QFileDialog::Directory;
      pDlg->reject();
    });
  };
  FilePick pick;
  pick.bFolder = true;
  pick.strInitialPath = (dir.path() / "sub").string();
  Seen folder;
  answer(folder);
  EXPECT_EQ(view.strPickFile(pick), "");
  EXPECT_EQ(folder.strFolder, fs::canonical(dir.path() / "sub").string());
  EXPECT_TRUE(folder.bDirectoryMode);

  pick.bFolder = false;
  pick.strInitialPath = dir.str();
  pick.strFilter = "Config .ini File (*.ini)|*.ini||";
  Seen file;
  answer(file);
  EXPECT_EQ(view.strPickFile(pick), "");
  EXPECT_EQ(file.strFolder, fs::canonical(dir.path()).string());
  EXPECT_FALSE(file.bDirectoryMode);
}

// The running window, over a bench without hubs.
struct WindowActionsTest : WindowFixture {
  fs::path oldCwd = fs::current_path();
  WindowActionsTest() {
    dir.write("bench.json", strE2EBenchJson({"xhci0"}, {}));
    dir.write("fw/VLN642_10_bench.bin", strE2EFirmware());
    E2ESettings st;
    st.strFirmware = "fw/VLN642_10_bench.bin";
    std::string strIni = strE2ESettings(st);
    strIni.replace(strIni.find("auto_mp=1"), 9, "auto_mp=0");
    dir.write("vlnhub.ini", strIni);
    setenv("MPTOOL_SIM", (dir.str() + "/bench.json").c_str(), 1);
    fs::current_path(dir.path());
  }
  ~WindowActionsTest() override {
    fs::current_path(oldCwd);
    unsetenv("MPTOOL_SIM");
  }
};

TEST_F(WindowActionsTest, BrowseCreateConfigAboutAndCloseReachTheirHandlers) {
  dlg.OnInitDialog();
  ASSERT_FALSE(dlg.bExitRequested());
  LogCapture log;
  const std::string strFw = dir.str() + "/fw/VLN642_10_bench.bin";
  const std::string strRom = dir.str() + "/VLNFW_Temp/Config_VLN642_10_bench.rom";
  bool bDone = false;
  AboutSeen seen;
  QTimer::singleShot(50, [&] {
    CMainWindow& win = view.window();
    // the firmware file chosen again: first in the list, in the settings
    view.setNextFileName(strFw);
    win.vSendCommand(IDC_BUTTON_BROWSE_FW);
    EXPECT_EQ(view.filePicks().back().strInitialPath, dir.str());
    EXPECT_EQ(view.strGetText(IDC_COMBO_FW_BROWSE), strFw);
    EXPECT_EQ(ini.m_pINI.ucFw_binary_name, strFw);
    EXPECT_EQ(dir.read("BrowsedBINPath.txt").substr(0, strFw.size() + 2), strFw + "\r\n");
    // "Create Config" writes the ROM file of the listed firmware and says so
    view.setNextAnswer(IDOK);
    win.vSendCommand(IDC_BUTTON_CREATE_CONFIG);
    EXPECT_TRUE(fs::exists(strRom));
    ASSERT_FALSE(view.boxes().empty());
    EXPECT_EQ(view.boxes().back().strText, "The Config Rom File Generation Successful,  " + strRom + " ");
    vAnswerAbout(seen);
    win.pAboutAction()->trigger();
    bDone = true;
    view.setNextAnswer(IDOK);  // the exit sequence's replug message
    win.close();
  });
  EXPECT_EQ(nRunWindow(dlg, view), 0);
  EXPECT_TRUE(bDone);
  EXPECT_EQ(seen.strTitle, "About MPTool");
  // the close request went through the window's close handler to the exit sequence: the
  // written files removed, the operator warned (no hub here: the recovery message)
  EXPECT_TRUE(log.contains("Remove_FilterDriverAndFiles"));
  ASSERT_FALSE(view.boxes().empty());
  EXPECT_EQ(view.boxes().back().strText, "RecoveryPS...");
  EXPECT_EQ(view.boxes().back().strCaption, " ** WARNING ** ");
  // and the window's logic no longer points at what went with the window
  EXPECT_EQ(dlg.m_pFirmwareSelection, nullptr);
  EXPECT_EQ(dlg.m_pHubImages, nullptr);
}

}  // namespace
