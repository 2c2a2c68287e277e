// Storing settings files: exact text, round trip, safe replacement of the old file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "settings/Ini.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace {

std::vector<std::string> vecSplitCRLF(const std::string& s) {
  std::vector<std::string> v;
  size_t nPos = 0;
  while (nPos < s.size()) {
    size_t n = s.find("\r\n", nPos);
    if (n == std::string::npos) {
      v.push_back(s.substr(nPos));
      break;
    }
    v.push_back(s.substr(nPos, n - nPos));
    nPos = n + 2;
  }
  return v;
}

std::string strReadData(const std::string& strName) {
  std::filesystem::path p = std::filesystem::path(MPTOOL_TEST_DATA) / "settings" / strName;
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(IniStore, CompleteFileIsWrittenBackByteForByte) {
  std::vector<std::string> shown;
  Ini ini([&](const std::string& t, int) { shown.push_back(t); });
  std::string strOriginal = strReadData("complete.ini");
  ASSERT_FALSE(strOriginal.empty());
  TempDir dir;
  auto p = dir.write("vlnhub.ini", strOriginal);
  ASSERT_TRUE(ini.vLoadINIFile(p.string()));
  ASSERT_TRUE(ini.vStoreINIFile(p.string()));
  EXPECT_EQ(dir.read("vlnhub.ini"), strOriginal);
  EXPECT_TRUE(shown.empty());
}

TEST(IniStore, LayoutOfAFreshRecord) {
  Ini ini;
  std::string s = ini.strBuildINIText();
  auto lines = vecSplitCRLF(s);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "[ini_version]");
  EXPECT_EQ(lines[1], "version=1005");  // the constant, not uiVersion
  EXPECT_EQ(lines[2], "[usb_func]");    // no empty line before it
  EXPECT_EQ(lines[3], "format_enable=0");
  EXPECT_EQ(lines.back(), "auto_install_filter_driver_enable=0");
  EXPECT_EQ(s.substr(s.size() - 2), "\r\n");
  EXPECT_EQ(s.find("SN_Numbers"), std::string::npos);
  // 76 key lines, 8 headers and 6 empty lines.
  int nKeys = 0, nHeaders = 0, nEmpty = 0;
  for (const auto& l : lines) {
    if (l.empty())
      ++nEmpty;
    else if (l[0] == '[')
      ++nHeaders;
    else if (l.find('=') != std::string::npos)
      ++nKeys;
  }
  EXPECT_EQ(nKeys, 76);
  EXPECT_EQ(nHeaders, 8);
  EXPECT_EQ(nEmpty, 6);
}

TEST(IniStore, NumbersAndTextsAsStored) {
  Ini ini;
  ini.m_pINI.uiVersion = 7;
  ini.m_pINI.ucWr_test_count = 255;
  ini.m_pINI.uiRescan_after_relink = -3;
  ini.m_pINI.ucProduct_string = "Hub // with slashes";
  ini.m_pINI.ucLPM = 1;
  std::string s = ini.strBuildINIText();
  EXPECT_NE(s.find("\r\nversion=1005\r\n"), std::string::npos);
  EXPECT_NE(s.find("\r\nwr_test_count=255\r\n"), std::string::npos);
  EXPECT_NE(s.find("\r\nrescan_after_relink=-3\r\n"), std::string::npos);
  EXPECT_NE(s.find("\r\nproduct_string=Hub // with slashes\r\n"), std::string::npos);
  EXPECT_NE(s.find("\r\nU1U2=0\r\nLPM=1\r\nPMU=0\r\nTL=0\r\n"), std::string::npos);
}

TEST(IniStore, RoundTripKeepsTheRecordExceptTheDocumentedFields) {
  Ini a;
  INISettings& r = a.m_pINI;
  r.ucFormat_enable = 1;
  r.ucFormat_drive_type = 2;
  r.ucDrive_label_name = "LABEL";
  r.ucWr_test_binary_name = "/tmp/wr.bin";
  r.ucAuto_mp_DevNum = 4;
  r.ucSlt_up_port_5gx1_en = 1;
  r.ucSlt_down_port_20_en = 1;
  r.ucHDDCapacity_Threshold = "128";
  r.ucSN_EditType = 2;
  r.ucFw_enablel = 1;
  r.ucFw_binary_name = "/fw/a.bin";
  r.uiRemove_after_finish = 9999;
  r.uiExt_fw_enable = 1;
  r.ucPDFw_enablel = 300;
  r.ucMCUFw_enablel = -1;
  r.ucPd_binary_name = "pd.bin";
  r.ucMcu_binary_name = "mcu.hex";
  r.ucConfig_format = 1;
  r.ucVendor_id = "2F7B";
  r.ucProduct_id = "55AA";
  r.ucProduct_id_hub2 = "55AB";
  r.ucContainer_string = "00112233445566778899AABBCCDDEEFF";
  r.ucDevice_revision = "0100";
  r.ucManufacturer_string = "Maker";
  r.ucProduct_string = "Product";
  r.ucSerial_number = "0000000000FF";
  r.ucSerial_number_increase_Dec = 1;
  r.uiSN_remain_value_enable = 1;
  r.uiSN_remain_value_length = 4;
  r.uiSN_fix_length = 12;
  r.ucU1U2 = 1;
  r.ucPMU = 1;
  r.ucImage1 = 1;
  r.ucCrc32 = 1;
  r.ucCd_rom_mode = 3;
  r.ucRead_speed = "1.5";
  r.ucSpeed_test_file_size = "64";
  r.ucAuto_install_filter_driver_enable = 1;
  // Not carried by the file:
  r.ucBc_enable_port2 = 1;
  r.ucTL = 1;
  r.uiSN_Numbers = 16;
  r.ucIdle_timer = 2;
  r.ucTarget_chip = "VLN6420";

  TempDir dir;
  std::string strPath = Ini::strDefaultINIPath(dir.str());
  EXPECT_EQ(strPath, dir.str() + "/vlnhub.ini");
  ASSERT_TRUE(a.vStoreINIFile(strPath));  // no file there before: created without a message
  Ini b;
  ASSERT_TRUE(b.vLoadINIFile(strPath));

  INISettings expected = r;
  expected.ucBc_enable_port2 = 0;
  expected.ucTL = 0;
  expected.uiSN_Numbers = 0;
  expected.ucIdle_timer = 0;
  expected.ucTarget_chip.clear();
  expected.uiVersion = 1005;
  EXPECT_TRUE(b.m_pINI == expected);
  EXPECT_EQ(b.m_pINI.ucPDFw_enablel, 300);
  EXPECT_EQ(b.m_pINI.ucMCUFw_enablel, -1);
}

TEST(IniStore, RefusedCheckWritesNothing) {
  std::vector<std::string> shown;
  Ini ini([&](const std::string& t, int) { shown.push_back(t); });
  TempDir dir;
  auto p = dir.write("vlnhub.ini", "old contents\r\n");
  ini.m_pINI.ucManufacturer_string = std::string(50, 'M');
  LogCapture log;
  EXPECT_FALSE(ini.vStoreINIFile(p.string()));
  EXPECT_EQ(dir.read("vlnhub.ini"), "old contents\r\n");
  EXPECT_EQ(shown, std::vector<std::string>{"Invalid Manufacturer Size"});
  EXPECT_TRUE(log.contains("vStoreINIFile: Check INI Type Not Valid , strINIFilePath : " + p.string()));
}

TEST(IniStore, ReplacesTheOldFileThroughATemporaryOne) {
  Ini ini;
  TempDir dir;
  auto p = dir.write("vlnhub.ini", std::string(5000, 'z'));  // longer than the new text
  ini.m_pINI.ucVendor_id = "ABCD";
  ASSERT_TRUE(ini.vStoreINIFile(p.string()));
  EXPECT_EQ(dir.read("vlnhub.ini"), ini.strBuildINIText());
  // Nothing is left beside it.
  int nFiles = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++nFiles;
  }
  EXPECT_EQ(nFiles, 1);
}

TEST(IniStore, FailureToWriteKeepsTheOldFileAndLeavesNoTemporary) {
  Ini ini;
  TempDir dir;
  std::filesystem::create_directories(dir.path() / "sub");
  LogCapture log;
  // A folder where the file should be: the rename fails, the folder stays, no temp is left.
  EXPECT_FALSE(ini.vStoreINIFile((dir.path() / "sub").string()));
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "sub"));
  int nFiles = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++nFiles;
  }
  EXPECT_EQ(nFiles, 1);
  EXPECT_TRUE(log.contains("vStoreINIFile: strINIFilePath : " + (dir.path() / "sub").string()));
  // A folder that does not exist.
  EXPECT_FALSE(ini.vStoreINIFile(dir.str() + "/missing/vlnhub.ini"));
}

// A settings file reached through a symbolic link is written where the link points, and the
// file keeps its owner, group and mode, so the operator's next run can still write it.
TEST(IniStore, WritesThroughALinkKeepingOwnerGroupAndMode) {
  Ini ini;
  TempDir dir;
  auto real = dir.write("station/settings.ini", "old\r\n");
  std::filesystem::create_symlink("station/settings.ini", dir.path() / "vlnhub.ini");
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);
  const bool bRoot = geteuid() == 0;
  if (bRoot) {
    ASSERT_EQ(chown(real.c_str(), 1234, 2345), 0);
  }
  ini.m_pINI.ucSerial_number = "000000000042";
  ASSERT_TRUE(ini.vStoreINIFile((dir.path() / "vlnhub.ini").string()));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.path() / "vlnhub.ini"));
  EXPECT_EQ(dir.read("station/settings.ini"), ini.strBuildINIText());
  struct stat st {};
  ASSERT_EQ(stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (bRoot) {
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 2345u);
    // A plain file of the operator's, saved by root, stays the operator's.
    auto plain = dir.write("plain.ini", "old\r\n");
    ASSERT_EQ(chown(plain.c_str(), 1234, 2345), 0);
    ASSERT_TRUE(ini.vStoreINIFile(plain.string()));
    ASSERT_EQ(stat(plain.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 2345u);
    EXPECT_EQ(dir.read("plain.ini"), ini.strBuildINIText());
  }
}

// Temporary files of a save that was cut off are removed by the next save; files that only
// look alike stay.
TEST(IniStore, StaleTemporaryFilesOfAnInterruptedSaveGo) {
  Ini ini;
  TempDir dir;
  auto p = dir.write("vlnhub.ini", "old\r\n");
  dir.write("vlnhub.ini.tmp-Ab3xYz", "half");
  dir.write("vlnhub.ini.tmp-notmine", "keep");
  dir.write("other.ini.tmp-Ab3xYz", "keep");
  ASSERT_TRUE(ini.vStoreINIFile(p.string()));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "vlnhub.ini.tmp-Ab3xYz"));
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "vlnhub.ini.tmp-notmine"));
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "other.ini.tmp-Ab3xYz"));
}

// A folder that takes no new file: the settings file is rewritten where it is (same file,
// new content, nothing left beside it). When the file cannot be written either, the store
// fails with the reason and the old content stays.
TEST(IniStore, FolderThatTakesNoTemporaryFileFallsBackToTheFileItself) {
  Ini ini;
  TempDir dir;
  auto p = dir.write("vlnhub.ini", std::string(5000, 'z'));
  struct stat before {};
  ASSERT_EQ(stat(p.c_str(), &before), 0);
  ini.m_storeFaults.nMakeTempErrno = EACCES;
  ini.m_pINI.ucSerial_number = "000000000007";
  ASSERT_TRUE(ini.vStoreINIFile(p.string()));
  EXPECT_EQ(dir.read("vlnhub.ini"), ini.strBuildINIText());  // cut to the new length
  struct stat after {};
  ASSERT_EQ(stat(p.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(
      std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()),
      1);

  const std::string strWritten = dir.read("vlnhub.ini");
  ini.m_storeFaults.nInPlaceErrno = EACCES;
  ini.m_pINI.ucSerial_number = "000000000008";
  EXPECT_FALSE(ini.vStoreINIFile(p.string()));
  EXPECT_EQ(ini.nLastFileError(), EACCES);
  EXPECT_EQ(dir.read("vlnhub.ini"), strWritten);
  // No file to rewrite and no temporary file: nothing can be written.
  ini.m_storeFaults.nInPlaceErrno = 0;
  EXPECT_FALSE(ini.vStoreINIFile(dir.str() + "/new.ini"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "new.ini"));
}

// A text the load refused is cleared in the record, but a later save (the run's next serial
// number) writes the user's text back as it was, not an empty field.
TEST(IniStore, TextRefusedAtLoadIsNotErasedFromTheFile) {
  std::vector<std::string> shown;
  Ini ini([&](const std::string& t, int) { shown.push_back(t); });
  TempDir dir;
  const std::string strMaker(50, 'M'), strLabel(40, 'L');
  auto p = dir.write("vlnhub.ini", "[usb_config]\r\nmanufacturer_string=" + strMaker +
                                       "\r\nserial_number=0001\r\ndrive_label_name=" + strLabel + "\r\n");
  EXPECT_FALSE(ini.vLoadINIFile(p.string()));
  EXPECT_EQ(ini.m_pINI.ucManufacturer_string, "");
  ASSERT_EQ(ini.vecRefusedAtLoad().size(), 2u);
  EXPECT_EQ(ini.vecRefusedAtLoad()[0].strKey, "manufacturer_string");
  EXPECT_EQ(ini.vecRefusedAtLoad()[0].strMessage, "Invalid Manufacturer Size");
  ini.m_pINI.ucSerial_number = "0002";
  ASSERT_TRUE(ini.vStoreINIFile(p.string()));
  const std::string strFile = dir.read("vlnhub.ini");
  EXPECT_NE(strFile.find("\r\nmanufacturer_string=" + strMaker + "\r\n"), std::string::npos);
  EXPECT_NE(strFile.find("\r\ndrive_label_name=" + strLabel + "\r\n"), std::string::npos);
  EXPECT_NE(strFile.find("\r\nserial_number=0002\r\n"), std::string::npos);
  // A value set since the load is what the save writes.
  ini.m_pINI.ucManufacturer_string = "Maker";
  ASSERT_TRUE(ini.vStoreINIFile(p.string()));
  EXPECT_NE(dir.read("vlnhub.ini").find("\r\nmanufacturer_string=Maker\r\n"), std::string::npos);
  // A refusal at save time is no user's text: never written back later.
  ini.m_pINI.ucProduct_string = std::string(60, 'P');
  EXPECT_FALSE(ini.vStoreINIFile(p.string()));
  ASSERT_TRUE(ini.vStoreINIFile(p.string()));
  EXPECT_NE(dir.read("vlnhub.ini").find("\r\nproduct_string=\r\n"), std::string::npos);
}

}  // namespace
