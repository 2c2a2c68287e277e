// The firmware list and its two handlers, without a window.
#include <gtest/gtest.h>

#include "ImagesFixture.h"
#include "images/ConfigTable.h"
#include "images/FirmwareList.h"
#include "support/LogCapture.h"

TEST(FirmwareList, NewestFirstAtMostFive) {
  CFirmwareList l;
  for (int i = 1; i <= 5; ++i) l.vInsertNewest("/fw/" + std::to_string(i) + ".bin");
  EXPECT_EQ(l.vecEntries(),
            (std::vector<std::string>{"/fw/5.bin", "/fw/4.bin", "/fw/3.bin", "/fw/2.bin", "/fw/1.bin"}));
  l.vInsertNewest("/fw/6.bin");  // the oldest goes
  EXPECT_EQ(l.vecEntries(),
            (std::vector<std::string>{"/fw/6.bin", "/fw/5.bin", "/fw/4.bin", "/fw/3.bin", "/fw/2.bin"}));
  EXPECT_EQ(l.strBrowseListText(), "/fw/6.bin\r\n/fw/5.bin\r\n/fw/4.bin\r\n/fw/3.bin\r\n/fw/2.bin\r\n");
  l.vSetEntries({"a", "b", "c", "d", "e", "f", "g"});
  EXPECT_EQ(l.vecEntries().size(), 5u);
  EXPECT_EQ(l.vecEntries().back(), "e");
  CFirmwareList empty;
  EXPECT_EQ(empty.strBrowseListText(), "");
}

TEST(FirmwareBrowse, ChoiceGoesFirstIsSavedAndFollowsUpdateFw) {
  ImagesFixture f;
  CFirmwareSelection sel(f.images, f.form);
  EXPECT_EQ(sel.strDialogFolder(), f.strApp());
  std::vector<std::string> paths;
  paths.reserve(6);
  for (int i = 0; i < 6; ++i)
    paths.push_back(f.strWrite("fw/f" + std::to_string(i) + ".bin", vecPattern(10)));
  f.ini.ucFw_enablel = 1;
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(sel.OnBnClickedButtonDevicwfirmwareFwbrowse(paths[i]), EFirmwareChoice::Chosen);
  EXPECT_EQ(f.form.m_vecFirmwareList,
            (std::vector<std::string>{paths[5], paths[4], paths[3], paths[2], paths[1]}));
  EXPECT_EQ(f.form.m_nFirmwareSelected, 0);
  EXPECT_EQ(sel.m_strComboBoxDeviceFirmwareFWBrowse, paths[5]);
  EXPECT_EQ(f.ini.ucFw_binary_name, paths[5]);
  EXPECT_EQ(f.dir.read("app/BrowsedBINPath.txt"), paths[5] + "\r\n" + paths[4] + "\r\n" + paths[3] + "\r\n" +
                                                      paths[2] + "\r\n" + paths[1] + "\r\n");
  EXPECT_TRUE(f.form.m_bFieldsEnabled);
  f.ini.ucFw_enablel = 0;
  EXPECT_EQ(sel.OnBnClickedButtonDevicwfirmwareFwbrowse(paths[0]), EFirmwareChoice::Chosen);
  EXPECT_FALSE(f.form.m_bFieldsEnabled);
  EXPECT_TRUE(f.view.m_vecTexts.empty());
}

TEST(FirmwareBrowse, CancelAndMissingFileChangeNothing) {
  ImagesFixture f;
  CFirmwareSelection sel(f.images, f.form);
  f.ini.ucFw_binary_name = "/old.bin";
  EXPECT_EQ(sel.OnBnClickedButtonDevicwfirmwareFwbrowse(""), EFirmwareChoice::Unchanged);
  const std::string missing = (f.dir.path() / "gone.bin").string();
  EXPECT_EQ(sel.OnBnClickedButtonDevicwfirmwareFwbrowse(missing), EFirmwareChoice::Unchanged);
  ASSERT_EQ(f.view.m_vecTexts.size(), 1u);  // only the path check's message
  EXPECT_EQ(f.view.m_vecTexts[0], missing + " File/Path Not Read/Write");
  EXPECT_TRUE(sel.m_FirmwareList.vecEntries().empty());
  EXPECT_EQ(f.ini.ucFw_binary_name, "/old.bin");
  EXPECT_FALSE(std::filesystem::exists(f.strApp() + "/BrowsedBINPath.txt"));
  EXPECT_EQ(f.form.m_nFieldLockChanges, 0);
}

TEST(FirmwareBrowse, ConfigPathLoadsTheRomAndLocksTheFields) {
  ImagesFixture f;
  CFirmwareSelection sel(f.images, f.form);
  f.ini.ucFw_enablel = 1;
  f.form.m_bFieldsEnabled = true;
  ConfigTableValues v;
  v.strSerialNumber = "ROMSERIAL";
  v.wVID = 0x1234;
  v.ucSignature = 0x4B;
  ConfigTable t = stBuildConfigTable(v);
  std::vector<uint8_t> rom(t.begin(), t.end());
  rom.resize(300, 0x5A);
  const std::string p = f.strWrite("Config_files/fw.bin", rom);  // the mark anywhere in the path
  EXPECT_EQ(sel.OnBnClickedButtonDevicwfirmwareFwbrowse(p), EFirmwareChoice::ConfigRomLoaded);
  EXPECT_FALSE(f.form.m_bFieldsEnabled);
  EXPECT_EQ(f.form.m_texts.m_strEditDeviceConfigurationVendorID, "1234");
  EXPECT_EQ(f.ini.ucSerial_number, "ROMSERIAL");
  EXPECT_EQ(vecReadFile(f.pathImage()).size(), 44u);

  // A refused file still locks the fields and keeps the values.
  rom[0xFE] = 0xAA;
  const std::string bad = f.strWrite("Config_bad.rom", rom);
  f.form.m_bFieldsEnabled = true;
  EXPECT_EQ(sel.OnCbnSelchangeComboDevicwfirmwareFwbrowse(bad), EFirmwareChoice::ConfigRomRefused);
  EXPECT_EQ(sel.eLastConfigRomResult(), EReadConfigResult::InvalidSignature);
  EXPECT_FALSE(f.form.m_bFieldsEnabled);
  EXPECT_EQ(f.ini.ucFw_binary_name, bad);
  EXPECT_EQ(f.ini.ucSerial_number, "ROMSERIAL");
}

TEST(FirmwareSelection, TakesTheTextAndCutsItToTheField) {
  ImagesFixture f;
  CFirmwareSelection sel(f.images, f.form);
  f.ini.ucFw_enablel = 1;
  const std::string strLong = "/" + std::string(300, 'p') + ".bin";
  EXPECT_EQ(sel.OnCbnSelchangeComboDevicwfirmwareFwbrowse(strLong), EFirmwareChoice::Chosen);
  EXPECT_EQ(sel.m_strComboBoxDeviceFirmwareFWBrowse, strLong);
  EXPECT_EQ(f.ini.ucFw_binary_name, strLong.substr(0, 254));
  EXPECT_TRUE(f.form.m_bFieldsEnabled);
  // The selection handler never checks the file or writes the list file.
  EXPECT_TRUE(f.view.m_vecTexts.empty());
  EXPECT_FALSE(std::filesystem::exists(f.strApp() + "/BrowsedBINPath.txt"));
}
