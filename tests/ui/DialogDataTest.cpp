// The data sides of the More Config and configuration check dialogs.
#include <gtest/gtest.h>

#include "support/DlgFixture.h"
#include "ui/ControlIds.h"
#include "ui/DebugDlg.h"
#include "ui/DeviceCfgDlg.h"

namespace {

DeviceList listWithHubs(int nHubs) {
  DeviceList list;
  for (auto& d : list.dev) d.vFree();
  for (int i = 0; i < nHubs; ++i) {
    list.dev[i].ucIndex = static_cast<uint8_t>(i);
    list.dev[i].m_ucHubBondingOption = static_cast<uint8_t>(i + 1);
  }
  return list;
}

TEST(DebugDlgTest, ThePortListHoldsTheHubsInRecordOrder) {
  EXPECT_TRUE(CDebugDlg::vecPortEntries(listWithHubs(0)).empty());
  EXPECT_EQ(CDebugDlg::vecPortEntries(listWithHubs(3)), (std::vector<std::string>{"0", "1", "2"}));
}

TEST(DebugDlgTest, TheDumpShowsTheTableWithThePackageCodeInFront) {
  DeviceList list = listWithHubs(3);
  list.dev[2].m_ucHubBondingOption = 2;
  CDebugDlg d;
  EXPECT_EQ(d.strReadConfigTable(list, [](int, uint8_t*, uint32_t) { return 0; }), "");  // nothing chosen
  d.m_nSelectedDevice = 2;
  int nReadIndex = -1;
  std::string s = d.strReadConfigTable(list, [&](int n, uint8_t* p, uint32_t dw) {
    nReadIndex = n;
    for (uint32_t i = 0; i < dw; ++i) p[i] = 0xFF;
    return 0;
  });
  EXPECT_EQ(nReadIndex, 2);
  std::string strLine = "FF FF FF FF FF FF FF FF   FF FF FF FF FF FF FF FF ";
  std::string strExpected = "02" + strLine.substr(2);
  for (int i = 1; i < 16; ++i) strExpected += "\n" + strLine;
  EXPECT_EQ(s, strExpected);
  EXPECT_EQ(s.substr(0, 30), "02 FF FF FF FF FF FF FF   FF F");

  uint8_t bytes[20];
  for (int i = 0; i < 20; ++i) bytes[i] = static_cast<uint8_t>(i * 17);
  EXPECT_EQ(CDebugDlg::strDump(bytes, 17), "00 11 22 33 44 55 66 77   88 99 AA BB CC DD EE FF \n10 ");

  d.m_nSelectedImage = 1;  // the image choice reads the same table
  EXPECT_EQ(d.strReadConfigTable(list, [](int, uint8_t*, uint32_t) { return -1; }), "Read Reg FAIL: -1");
}

using MoreConfigTest = DlgFixture;

TEST_F(MoreConfigTest, TheFlagSetIsTheWorkingCopyBetweenLoadAndSave) {
  dir.write(
      "a.ini",
      "[usb_config]\nvendor_id=2F7B\nproduct_id=5A01\ndevice_revision=0100\nU1U2=1\nLPM=0\nPMU=1\nimage0=1\n"
      "image1=0\ncrc32=1\nbc_enable_port1=1\nTL=1\n");
  view.vQueueFile(dir.str() + "/a.ini");
  dlg.OnBnClickedButtonLoadini();
  EXPECT_EQ(dlg.m_moreConfigDlg.m_bU1U2Mode, 1);
  EXPECT_EQ(dlg.m_moreConfigDlg.m_bPMU, 1);
  EXPECT_EQ(dlg.m_moreConfigDlg.m_bCRC32, 1);
  EXPECT_EQ(dlg.m_moreConfigDlg.m_bBatteryChargePort1, 0);  // the load ignores these keys
  EXPECT_EQ(dlg.m_moreConfigDlg.m_bTwoLEDSMode, 0);

  // Saved without opening More Config: the same flags go out.
  dlg.m_bRDMode = true;
  view.vQueueFile(dir.str() + "/b.ini");
  dlg.OnBnClickedButtonSaveIni();
  Ini reread;
  ASSERT_TRUE(reread.vLoadINIFile(dir.str() + "/b.ini"));
  EXPECT_EQ(reread.m_pINI.ucU1U2, 1);
  EXPECT_EQ(reread.m_pINI.ucLPM, 0);
  EXPECT_EQ(reread.m_pINI.ucPMU, 1);
  EXPECT_EQ(reread.m_pINI.ucImage0, 1);
  EXPECT_EQ(reread.m_pINI.ucImage1, 0);
  EXPECT_EQ(reread.m_pINI.ucCrc32, 1);
}

TEST_F(MoreConfigTest, OnlyOkCopiesTheFlagsIntoTheSettings) {
  ini.m_pINI.ucPMU = 0;
  dlg.m_moreConfigDlg.m_bBatteryChargePort2 = 1;
  view.vQueueModal(IDCANCEL);
  dlg.OnBnClickedMoreConfig();
  dlg.m_moreConfigDlg.OnBnClickedPmu(true);  // (as a click in the dialog would)
  EXPECT_EQ(ini.m_pINI.ucPMU, 0);
  view.vQueueModal(IDOK);
  ini.m_pINI.ucLPM = 1;
  dlg.OnBnClickedMoreConfig();
  EXPECT_EQ(ini.m_pINI.ucLPM, 1);              // taken into the flags at opening, back at OK
  EXPECT_EQ(ini.m_pINI.ucBc_enable_port2, 1);  // the battery-charge flags keep the last copy
  EXPECT_EQ(view.modals(), (std::vector<EModalDialog>{EModalDialog::MoreConfig, EModalDialog::MoreConfig}));
}

}  // namespace

#include "ui/UiTextTable.h"

TEST(UiTextTableTest, TheTextsStandInTheirOrder) {
  const CUiTextTable& t = uiTexts();
  ASSERT_EQ(t.m_texts.size(), 16u + 16 + 15 + 12 + 14 + 13 + 17 + 11 + 16 + 4 + 3 + 16);
  EXPECT_EQ(t.m_texts[0], "Port#");
  EXPECT_EQ(t.m_texts[15], "");
  EXPECT_EQ(t.m_texts[16], "DENY");
  EXPECT_EQ(t.m_texts[24], "Velnor VLN318 MP Tool");
  EXPECT_EQ(t.strLogin(0), "Login");
  EXPECT_EQ(t.strLogin(3), "Cancel");
  EXPECT_EQ(t.m_texts[t.m_nAboutTexts], "About MPTool");
  EXPECT_EQ(t.m_texts.back(), "Serial Number Invalid, at least 12 digits");
  EXPECT_EQ(&t, &uiTexts());  // one table for the process
}

TEST(UiTextTableTest, EachBlockBeginsAtItsFirstTextAndReadsPastTheEndAsEmpty) {
  const CUiTextTable& t = uiTexts();
  EXPECT_EQ(t.str(t.m_nCaptionTexts, 0), "Device Configuration");
  EXPECT_EQ(t.str(t.m_nCaptionTexts, 14), "4.From HDDSN");
  EXPECT_EQ(t.str(t.m_nIdleTimerTexts, 0), "3 Min");
  EXPECT_EQ(t.str(t.m_nIdleTimerTexts, 11), "Never");
  EXPECT_EQ(t.str(t.m_nFunctionTexts, 3), "MP Auto Mode");
  EXPECT_EQ(t.str(t.m_nFunctionTexts, 13), "Device Firmware");
  EXPECT_EQ(t.str(t.m_nColumnTitles, 0), "Port#");
  EXPECT_EQ(t.str(t.m_nResultWords, 0), "PASS");
  EXPECT_EQ(t.str(t.m_nResultWords, 9), "Progress Bar");
  EXPECT_EQ(t.str(t.m_nChoiceTexts, 0), "DISABLE");
  EXPECT_EQ(t.vecRange(t.m_nChoiceTexts, 14, 2), (std::vector<std::string>{"MBR", "GPT"}));
  EXPECT_EQ(t.str(t.m_nAboutTexts, 2), "Ok");
  EXPECT_EQ(t.str(t.m_nAboutTexts, 3), "Unknown Error");
  EXPECT_EQ(t.str(t.m_texts.size(), 0), "");
  EXPECT_EQ(t.vecRange(t.m_texts.size() - 1, 0, 2),
            (std::vector<std::string>{"Serial Number Invalid, at least 12 digits", ""}));
}
