// The settings screen: the field editors' filters and limits, Save INI and Load INI.
#include <gtest/gtest.h>

#include "support/DlgFixture.h"
#include "ui/ControlIds.h"

namespace {

struct SettingsScreenTest : DlgFixture {
  // The operator types strText into the field: the field's editor runs on the change.
  std::string type(int nId, const std::string& strText) {
    view.vSetText(nId, strText);
    EXPECT_TRUE(dlg.OnEnChangeField(nId));
    return view.text(nId);
  }
};

TEST_F(SettingsScreenTest, FieldEditorsKeepTheirCharactersUpToTheLimitAndCopyThemIntoTheSettings) {
  EXPECT_EQ(type(IDC_EDIT_VID, "2F7BC"), "2F7B");
  EXPECT_EQ(ini.m_pINI.ucVendor_id, "2F7B");
  EXPECT_EQ(type(IDC_EDIT_VID, "2g7b"), "27b");
  EXPECT_EQ(type(IDC_EDIT_PID, "x5a01"), "5a01");
  EXPECT_EQ(ini.m_pINI.ucProduct_id, "5a01");
  EXPECT_EQ(type(IDC_EDIT_REVISION, "01.0"), "010");
  EXPECT_EQ(type(IDC_EDIT_REVISION, "abcde"), "abcd");
  EXPECT_EQ(ini.m_pINI.ucDevice_revision, "abcd");
  EXPECT_EQ(type(IDC_EDIT_MANUFACTURER, std::string("Ma\x01ker\x7F") + std::string(50, 'x')).size(), 44u);
  EXPECT_EQ(ini.m_pINI.ucManufacturer_string.substr(0, 6), "Maker\x7F");
  EXPECT_EQ(type(IDC_EDIT_PRODUCT, std::string(60, 'p')).size(), 48u);
  EXPECT_EQ(type(IDC_EDIT_SECONDS, "12345"), "1234");
  EXPECT_EQ(ini.m_pINI.uiRemove_after_finish, 1234);
  EXPECT_EQ(type(IDC_EDIT_READ_SPEED, "1a2.5x"), "12.5");
  EXPECT_EQ(type(IDC_EDIT_CAPACITY, "1 000 000 GB"), "1000000");
  EXPECT_EQ(ini.m_pINI.ucHDDCapacity_Threshold, "1000000");
  EXPECT_FALSE(dlg.OnEnChangeField(IDC_BUTTON_START));  // no editor there
}

TEST_F(SettingsScreenTest, SerialNumberFollowsTheHexCheckAndItsLength) {
  EXPECT_EQ(type(IDC_EDIT_SERIAL_NUMBER, "SN-01 " + std::string(30, '7')).size(), 20u);
  ini.m_pINI.ucCheck_SerialNumber = 1;
  ini.m_pINI.uiSN_Numbers = 12;
  EXPECT_EQ(type(IDC_EDIT_SERIAL_NUMBER, "12-34-56-78-90-AB-CD"), "1234567890AB");
  EXPECT_EQ(ini.m_pINI.ucSerial_number, "1234567890AB");
  ini.m_pINI.uiSN_Numbers = 0;
  EXPECT_EQ(type(IDC_EDIT_SERIAL_NUMBER, "G12"), "1");  // the first hexadecimal digit always stays
}

TEST_F(SettingsScreenTest, DriveLabelOverItsLimitWarnsAndEmptiesTheField) {
  view.vSetText(IDC_EDIT_DRIVE_LABEL, std::string(32, 'L'));
  dlg.OnEnChangeField(IDC_EDIT_DRIVE_LABEL);
  EXPECT_EQ(view.text(IDC_EDIT_DRIVE_LABEL), std::string(32, 'L'));  // NTFS takes 32
  EXPECT_TRUE(view.boxes().empty());
  ini.m_pINI.ucFormat_drive_type = 1;  // FAT32
  view.vSetText(IDC_EDIT_DRIVE_LABEL, "ELEVENCHARS");
  dlg.OnEnChangeField(IDC_EDIT_DRIVE_LABEL);
  EXPECT_EQ(ini.m_pINI.ucDrive_label_name, "ELEVENCHARS");
  view.vSetText(IDC_EDIT_DRIVE_LABEL, "ELEVENCHARSX");
  dlg.OnEnChangeField(IDC_EDIT_DRIVE_LABEL);
  ASSERT_EQ(view.boxes().size(), 1u);
  EXPECT_EQ(view.boxes()[0].strText, "Invalid DiskLabel Size\r\n");
  EXPECT_EQ(view.text(IDC_EDIT_DRIVE_LABEL), "");
  EXPECT_EQ(ini.m_pINI.ucDrive_label_name, "");
}

TEST_F(SettingsScreenTest, SaveIniRefusesAShortVidWithoutAFileDialog) {
  view.vSetText(IDC_EDIT_VID, "2F7");
  view.vSetText(IDC_EDIT_PID, "5A01");
  view.vSetText(IDC_EDIT_REVISION, "01");
  view.vQueueFile(dir.str() + "/never.ini");
  dlg.OnBnClickedButtonSaveIni();
  ASSERT_EQ(view.boxes().size(), 1u);
  EXPECT_EQ(view.boxes()[0].strText, "VID Format not valid \r\nDevice Revision Format not valid \r\n");
  EXPECT_FALSE(view.bCalled("pickfile"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "never.ini"));
}

TEST_F(SettingsScreenTest, SaveIniCancelledLeavesTheRecordAndSavedWritesTheScreen) {
  dir.write("a.ini",
            "[usb_config]\nvendor_id=2F7B\nproduct_id=5A01\ndevice_revision=0100\nSN_fix_length=14\n");
  ASSERT_TRUE(ini.vLoadINIFile(dir.str() + "/a.ini"));
  view.vSetText(IDC_EDIT_VID, "1234");
  view.vSetText(IDC_EDIT_PID, "5678");
  view.vSetText(IDC_EDIT_REVISION, "0200");
  const INISettings before = ini.m_pINI;
  view.vQueueFile("");  // cancelled
  dlg.OnBnClickedButtonSaveIni();
  EXPECT_TRUE(ini.m_pINI == before);
  EXPECT_TRUE(view.boxes().empty());

  view.vQueueFile(dir.str() + "/b.ini");
  dlg.OnBnClickedButtonSaveIni();
  EXPECT_EQ(ini.m_pINI.ucVendor_id, "1234");
  EXPECT_EQ(ini.m_pINI.uiSN_fix_length, 14);  // not on the screen: kept from the record
  Ini reread;
  ASSERT_TRUE(reread.vLoadINIFile(dir.str() + "/b.ini"));
  EXPECT_EQ(reread.m_pINI.ucVendor_id, "1234");
  EXPECT_EQ(reread.m_pINI.ucProduct_id, "5678");
  EXPECT_EQ(reread.m_pINI.ucDevice_revision, "0200");
}

TEST_F(SettingsScreenTest, LoadIniRefreshesEveryFieldEvenWhenTheLoadFails) {
  dir.write("good.ini",
            "[usb_config]\nvendor_id=2F7B\nproduct_id=5A01\nproduct_id_hub2=5A02\nmanufacturer_string=Maker\n"
            "[usb_fw]\nfw_enable=1\nfw_binary_name=fw.bin\n[usb_func]\nauto_mp=1\n");
  view.vQueueFile(dir.str() + "/good.ini");
  dlg.OnBnClickedButtonLoadini();
  EXPECT_EQ(view.text(IDC_EDIT_VID), "2F7B");
  EXPECT_EQ(view.text(IDC_EDIT_PID_U2), "5A02");
  EXPECT_EQ(view.text(IDC_EDIT_MANUFACTURER), "Maker");
  EXPECT_EQ(view.bGetCheck(IDC_CHECK_UPDATE_FW), true);
  EXPECT_EQ(view.list(IDC_COMBO_FW_BROWSE).front(), dir.str() + "/fw.bin");
  EXPECT_EQ(view.enabled(IDC_BUTTON_START), 0);  // auto mode's state after a good load

  // A file that holds no setting: the load fails, the fields still show the record.
  dir.write("empty.ini", "\n");
  view.vSetText(IDC_EDIT_VID, "typed");
  view.vEnableControl(IDC_BUTTON_START, true);
  view.vQueueFile(dir.str() + "/empty.ini");
  dlg.OnBnClickedButtonLoadini();
  EXPECT_EQ(view.text(IDC_EDIT_VID), ini.m_pINI.ucVendor_id);
  EXPECT_EQ(view.enabled(IDC_BUTTON_START), 1);  // no state change after a failed load

  // Cancelled: nothing happens.
  view.vSetText(IDC_EDIT_VID, "typed");
  view.vQueueFile("");
  dlg.OnBnClickedButtonLoadini();
  EXPECT_EQ(view.text(IDC_EDIT_VID), "typed");
}

TEST_F(SettingsScreenTest, CheckBoxesAndListsSetTheirSettings) {
  view.vSetCheck(IDC_CHECK_RELOAD_FW, true);
  EXPECT_TRUE(dlg.OnSettingsControl(IDC_CHECK_RELOAD_FW));
  EXPECT_EQ(ini.m_pINI.ucFw_reload, 1);
  view.vSetListSelection(IDC_COMBO_FORMAT_TYPE, 1);
  dlg.OnSettingsControl(IDC_COMBO_FORMAT_TYPE);
  EXPECT_EQ(ini.m_pINI.ucFormat_drive_type, 1);
  EXPECT_EQ(ini.m_ConfigLimits.m_ucDevice_DiskLabel_Len, 11);
  view.vSetCheck(IDC_CHECK_AUTO_MP, true);
  dlg.OnSettingsControl(IDC_CHECK_AUTO_MP);
  EXPECT_EQ(ini.m_pINI.ucAuto_mp, 1);
  EXPECT_EQ(view.enabled(IDC_BUTTON_START), 0);
  EXPECT_EQ(view.enabled(IDC_COMBO_AUTO_MP_DEVNUM), 1);
  // "3.From Barcode": an empty, writable serial-number box with the focus
  view.vSetText(IDC_EDIT_SERIAL_NUMBER, "000000000001");
  view.vSetListSelection(IDC_COMBO_SN_EDIT_TYPE, 3);
  dlg.OnSettingsControl(IDC_COMBO_SN_EDIT_TYPE);
  EXPECT_EQ(view.text(IDC_EDIT_SERIAL_NUMBER), "");
  EXPECT_EQ(view.enabled(IDC_EDIT_SERIAL_NUMBER), 1);
  EXPECT_TRUE(view.bCalled("focus " + std::to_string(IDC_EDIT_SERIAL_NUMBER)));
  // "Input From HDDSN" locks the box and clears the barcode choice
  view.vSetCheck(IDC_CHECK_INPUT_BARCODE, true);
  view.vSetCheck(IDC_CHECK_INPUT_HDDSN, true);
  dlg.OnSettingsControl(IDC_CHECK_INPUT_HDDSN);
  EXPECT_EQ(view.enabled(IDC_EDIT_SERIAL_NUMBER), 0);
  EXPECT_FALSE(view.bGetCheck(IDC_CHECK_INPUT_BARCODE));
  EXPECT_FALSE(dlg.OnSettingsControl(IDC_BUTTON_START));
}

}  // namespace
