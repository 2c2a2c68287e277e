// The window's file actions without widgets: the folder every file dialog opens in, the
// firmware and preload browse buttons, "Create Config" from the window's fields, and the run
// flags the settings' check boxes copy into the device list.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "images/ConfigForm.h"
#include "images/ConfigTable.h"
#include "images/FirmwareList.h"
#include "images/HubImages.h"
#include "support/DlgFixture.h"
#include "ui/ControlIds.h"

namespace fs = std::filesystem;

namespace {

// A plain type-2 firmware file: byte 0x203 gives the type, the name "..20" the signature.
std::string strFirmware() {
  std::string s(1000, '\0');
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>(i * 31 + 7);
  s[0x203] = 0x25;
  return s;
}

struct FileActionsTest : DlgFixture {
  std::unique_ptr<IConfigForm> form = dlg.pNewConfigForm();
  CHubImages images{utility, ini.m_pINI, dlg.m_ToolsDevList, *form};
  CFirmwareSelection firmware{images, *form};
  FileActionsTest() {
    dlg.m_pHubImages = &images;
    dlg.m_pFirmwareSelection = &firmware;
  }
  std::string strLastPickFolder() const { return view.picks().back().strInitialPath; }
};

TEST_F(FileActionsTest, DialogsOpenInTheProgramFolderThenInTheFolderOfTheLastChoice) {
  dir.write("ini/a.ini", "[usb_config]\nvendor_id=2F7B\nproduct_id=5A01\ndevice_revision=0100\n");
  view.vQueueFile("");  // cancelled: changes nothing
  dlg.OnBnClickedButtonLoadini();
  EXPECT_EQ(strLastPickFolder(), dir.str());
  EXPECT_EQ(dlg.strDialogFolder(), dir.str());

  view.vQueueFile(dir.str() + "/ini/a.ini");
  dlg.OnBnClickedButtonLoadini();
  EXPECT_EQ(strLastPickFolder(), dir.str());
  EXPECT_EQ(ini.m_pINI.ucVendor_id, "2F7B");
  // the next dialog, of whichever button, starts where the last file was chosen
  view.vSetText(IDC_EDIT_VID, "2F7B");
  view.vSetText(IDC_EDIT_PID, "5A01");
  view.vSetText(IDC_EDIT_REVISION, "0100");
  view.vQueueFile("");
  dlg.OnBnClickedButtonSaveIni();
  EXPECT_TRUE(view.picks().back().bSave);
  EXPECT_EQ(strLastPickFolder(), dir.str() + "/ini");
  view.vQueueFile("");
  dlg.OnBnClickedButtonDevicwfirmwareFwbrowse();
  EXPECT_EQ(strLastPickFolder(), dir.str() + "/ini");
  EXPECT_EQ(view.picks().back().strFilter, FIRMWARE_FILE_FILTER);

  // a folder chosen for the preload files is where the next dialog opens
  fs::create_directories(dir.path() / "preload");
  view.vQueueFile(dir.str() + "/preload");
  dlg.OnBnClickedButtonBrowsePreload();
  EXPECT_TRUE(view.picks().back().bFolder);
  view.vQueueFile("");
  dlg.OnBnClickedButtonLoadini();
  EXPECT_EQ(strLastPickFolder(), dir.str() + "/preload");
}

TEST_F(FileActionsTest, BrowseFirmwarePutsTheFileFirstInTheListAndTheSettings) {
  dlg.m_vecFWBrowse = {"/old/1.bin", "/old/2.bin", "/old/3.bin", "/old/4.bin", "/old/5.bin"};
  const std::string strFw = dir.write("fw/ABCDEF20.bin", strFirmware()).string();
  view.vQueueFile(strFw);
  dlg.OnBnClickedButtonDevicwfirmwareFwbrowse();
  const std::vector<std::string> expected{strFw, "/old/1.bin", "/old/2.bin", "/old/3.bin", "/old/4.bin"};
  EXPECT_EQ(dlg.m_vecFWBrowse, expected);
  EXPECT_EQ(view.list(IDC_COMBO_FW_BROWSE), expected);
  EXPECT_EQ(ini.m_pINI.ucFw_binary_name, strFw);
  EXPECT_EQ(dir.read("BrowsedBINPath.txt"),
            strFw + "\r\n/old/1.bin\r\n/old/2.bin\r\n/old/3.bin\r\n/old/4.bin\r\n");

  // cancelled, or a file that is not there: nothing changes
  view.vQueueFile("");
  dlg.OnBnClickedButtonDevicwfirmwareFwbrowse();
  view.vQueueFile(dir.str() + "/fw/missing.bin");
  dlg.OnBnClickedButtonDevicwfirmwareFwbrowse();
  EXPECT_EQ(dlg.m_vecFWBrowse, expected);
  EXPECT_EQ(ini.m_pINI.ucFw_binary_name, strFw);

  // another entry picked in the list becomes the settings' firmware
  view.vSetText(IDC_COMBO_FW_BROWSE, "/old/2.bin");
  EXPECT_TRUE(dlg.OnSettingsControl(IDC_COMBO_FW_BROWSE));
  EXPECT_EQ(ini.m_pINI.ucFw_binary_name, "/old/2.bin");
}

TEST_F(FileActionsTest, BrowsePreloadTakesAnExistingFolderIntoItsListAndTheSettings) {
  fs::create_directories(dir.path() / "files");
  view.vQueueFile(dir.str() + "/files");
  dlg.OnBnClickedButtonBrowsePreload();
  EXPECT_EQ(view.list(IDC_COMBO_PRELOAD).front(), dir.str() + "/files");
  EXPECT_EQ(ini.m_pINI.ucPreload_folder_path, dir.str() + "/files");
  view.vQueueFile(dir.str() + "/nowhere");
  dlg.OnBnClickedButtonBrowsePreload();
  EXPECT_EQ(ini.m_pINI.ucPreload_folder_path, dir.str() + "/files");
  EXPECT_EQ(view.list(IDC_COMBO_PRELOAD).size(), 1u);
}

TEST_F(FileActionsTest, CreateConfigWritesTheRomWithTheWindowsFieldsOrRefusesARom) {
  const std::string strFw = dir.write("fw/ABCDEF20.bin", strFirmware()).string();
  view.vSetText(IDC_COMBO_FW_BROWSE, strFw);
  ini.m_pINI.ucConfig_format = 1;  // a table is written ("UnChanged" leaves it blank)
  view.vSetText(IDC_EDIT_VID, "1D5C");
  view.vSetText(IDC_EDIT_PID, "5A01");
  view.vSetText(IDC_EDIT_REVISION, "0100");
  view.vSetText(IDC_EDIT_SERIAL_NUMBER, "000000000001");
  dlg.OnBnClickedCreateConfig();
  const std::string strRom = dir.str() + "/VLNFW_Temp/Config_ABCDEF20.rom";
  ASSERT_TRUE(fs::exists(strRom));
  EXPECT_EQ(fs::file_size(strRom), 256u + 1000 + 8);
  ASSERT_EQ(view.boxes().size(), 1u);
  EXPECT_EQ(view.boxes()[0].strText, "The Config Rom File Generation Successful,  " + strRom + " ");
  // the table carries the window's vendor id
  const std::string strRomBytes = dir.read("VLNFW_Temp/Config_ABCDEF20.rom");
  EXPECT_EQ(static_cast<uint8_t>(strRomBytes[CFG_OFS_VID]), 0x5C);
  EXPECT_EQ(static_cast<uint8_t>(strRomBytes[CFG_OFS_VID + 1]), 0x1D);

  // a file that already begins with a (type-0) configuration table: refused, nothing written
  ASSERT_EQ(images.vSetHubConfigInfo(0), ESetConfigResult::Built);
  const auto& table = dlg.m_ToolsDevList.dev[0].ucConfigBlock;
  const std::string strTableFile =
      dir.write("fw/TABLE000.bin", std::string(table.begin(), table.end()) + strFirmware()).string();
  fs::remove_all(dir.path() / "VLNFW_Temp");
  view.vSetText(IDC_COMBO_FW_BROWSE, strTableFile);
  dlg.OnBnClickedCreateConfig();
  ASSERT_EQ(view.boxes().size(), 2u);
  EXPECT_EQ(view.boxes()[1].strText, "Error! " + strTableFile + " is already a Config Rom File");
  EXPECT_FALSE(fs::exists(dir.path() / "VLNFW_Temp"));
}

TEST_F(FileActionsTest, CheckBoxesCopyTheirSettingIntoTheRunFlags) {
  const DevListRunFlags& f = dlg.m_ToolsDevList.flags;
  struct Box {
    int nId;
    const uint8_t* pRunFlag;
  };
  for (Box b : {Box{IDC_CHECK_UPDATE_FW, &f.ucFw_enablel},
                {IDC_CHECK_UPDATE_FW, &f.ucFw_enablel2},
                {IDC_CHECK_RELOAD_FW, &f.ucFw_reload},
                {IDC_CHECK_USB_STATUS, &f.ucCheck_USBStatus_enable},
                {IDC_CHECK_CONFIG_CHECK, &f.ucConfig_Check},
                {IDC_CHECK_AUTO_SAFE_REMOVE, &f.ucAuto_Safe_Remove},
                {IDC_CHECK_FORMAT, &f.ucFormat_enable},
                {IDC_CHECK_WR_TEST, &f.ucWr_test_enable},
                {IDC_CHECK_SPEED_TEST, &f.ucSpeed_test_enable},
                {IDC_CHECK_PRELOAD, &f.ucPreload_enable},
                {IDC_CHECK_CAPACITY, &f.ucHDDCapacityCheck_enable},
                {IDC_CHECK_SLT, &dlg.m_ToolsDevList.ucSLT}}) {
    view.vSetCheck(b.nId, true);
    EXPECT_TRUE(dlg.OnSettingsControl(b.nId));
    EXPECT_EQ(*b.pRunFlag, 1) << b.nId;
    view.vSetCheck(b.nId, false);
    dlg.OnSettingsControl(b.nId);
    EXPECT_EQ(*b.pRunFlag, 0) << b.nId;
  }
  // "S/N Increase" and its list are one choice; the radios give the counting base
  view.vSetCheck(IDC_CHECK_SN_INCREASE, true);
  dlg.OnSettingsControl(IDC_CHECK_SN_INCREASE);
  EXPECT_EQ(ini.m_pINI.ucSerial_number_increase, 1);
  EXPECT_EQ(view.nGetListSelection(IDC_COMBO_SN_INCREASE), 1);
  view.vSetListSelection(IDC_COMBO_SN_INCREASE, 0);
  dlg.OnSettingsControl(IDC_COMBO_SN_INCREASE);
  EXPECT_EQ(ini.m_pINI.ucSerial_number_increase, 0);
  EXPECT_FALSE(view.bGetCheck(IDC_CHECK_SN_INCREASE));
  view.vSetCheck(IDC_RADIO_SN_HEX, false);
  view.vSetCheck(IDC_RADIO_SN_DEC, true);
  dlg.OnSettingsControl(IDC_RADIO_SN_DEC);
  EXPECT_EQ(ini.m_pINI.ucSerial_number_increase_Hex, 0);
  EXPECT_EQ(ini.m_pINI.ucSerial_number_increase_Dec, 1);
  // "Format Type": NTFS takes a 32-character label, the others 11
  view.vSetListSelection(IDC_COMBO_FORMAT_TYPE, 0);
  dlg.OnSettingsControl(IDC_COMBO_FORMAT_TYPE);
  EXPECT_EQ(ini.m_ConfigLimits.m_ucDevice_DiskLabel_Len, 32);
}

}  // namespace
