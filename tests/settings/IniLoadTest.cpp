// Loading settings files: key rules, checks and their messages, malformed input.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "settings/Ini.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace {

struct Shown {
  std::string strText;
  int nType;
};

class IniLoad : public ::testing::Test {
 protected:
  TempDir dir;
  std::vector<Shown> shown;
  Ini ini{[this](const std::string& t, int n) { shown.push_back({t, n}); }};

  bool bLoad(const std::string& strContent) {
    return ini.vLoadINIFile(dir.write("t.ini", strContent).string());
  }
  std::vector<std::string> texts() const {
    std::vector<std::string> v;
    for (const auto& s : shown) v.push_back(s.strText);
    return v;
  }
};

using Texts = std::vector<std::string>;

TEST_F(IniLoad, CompleteFileLoadsAndSucceeds) {
  ASSERT_TRUE(ini.vLoadINIFile(std::string(MPTOOL_TEST_DATA) + "/settings/complete.ini"));
  EXPECT_TRUE(shown.empty());
  const INISettings& r = ini.m_pINI;
  EXPECT_EQ(r.uiVersion, 1005);
  EXPECT_EQ(r.ucVendor_id, "2F7B");
  EXPECT_EQ(r.ucProduct_id_hub2, "55AB");
  EXPECT_EQ(r.ucDrive_label_name, "BENCH DISK");
  EXPECT_EQ(r.uiRescan_after_relink, -7);
  EXPECT_EQ(r.uiRemove_after_finish, 30);
  EXPECT_EQ(r.uiSN_fix_length, 12);
  EXPECT_EQ(r.ucSlt_down_port_5gx2_en, 1);
  EXPECT_EQ(r.ucLPM, 1);
  EXPECT_EQ(r.ucPMU, 0);
  EXPECT_EQ(r.ucRead_speed, "30.5");
  EXPECT_EQ(r.ucPd_binary_name, "");
  EXPECT_EQ(r.ucAuto_install_filter_driver_enable, 1);
}

TEST_F(IniLoad, SplitsKeyValueAndComments) {
  ASSERT_TRUE(
      bLoad("VENDOR_ID = 2F7B // bench unit\r\n"
            "serial_number=//abc\r\n"
            "product_string=  A=B // x // y\r\n"
            "manufacturer_string=\r\n"));
  EXPECT_EQ(ini.m_pINI.ucVendor_id, "2F7B");
  EXPECT_EQ(ini.m_pINI.ucSerial_number, "//abc");
  EXPECT_EQ(ini.m_pINI.ucProduct_string, "A=B");
  EXPECT_EQ(ini.m_pINI.ucManufacturer_string, "");
  EXPECT_TRUE(shown.empty());
}

TEST_F(IniLoad, NumbersReadAsDecimalAndBytesKeepLowBits) {
  ASSERT_TRUE(
      bLoad("wr_test_count=258\n"      // byte: low 8 bits
            "auto_mp_DevNum= +7xyz\n"  // digits up to the first other character
            "cd_rom_mode=abc\n"        // no digits: 0
            "uiRemove_after_finish=-12\n"
            "rescan_after_relink=99999999999\n"  // saturates instead of wrapping
            "U1U2=1\n"));
  EXPECT_EQ(ini.m_pINI.ucWr_test_count, 2);
  EXPECT_EQ(ini.m_pINI.ucAuto_mp_DevNum, 7);
  EXPECT_EQ(ini.m_pINI.ucCd_rom_mode, 0);
  EXPECT_EQ(ini.m_pINI.uiRemove_after_finish, -12);
  EXPECT_EQ(ini.m_pINI.uiRescan_after_relink, 2147483647);
  EXPECT_EQ(ini.m_pINI.ucU1U2, 1);
}

TEST_F(IniLoad, KeysWithTheirOwnRules) {
  struct Case {
    std::string strLine;
    int32_t INISettings::*pField;
    int32_t nExpected;
  };
  const std::vector<Case> cases = {
      {"SN_fix_length=11", &INISettings::uiSN_fix_length, 0},
      {"SN_fix_length=21", &INISettings::uiSN_fix_length, 0},
      {"SN_fix_length=12", &INISettings::uiSN_fix_length, 12},
      {"SN_fix_length=20", &INISettings::uiSN_fix_length, 20},
      {"SN_fix_length=0", &INISettings::uiSN_fix_length, 0},
      {"SN_remain_value_length=25", &INISettings::uiSN_remain_value_length, 20},
      {"SN_remain_value_length=-1", &INISettings::uiSN_remain_value_length, 20},
      {"SN_remain_value_length=5", &INISettings::uiSN_remain_value_length, 5},
      {"SN_remain_value_enable=2", &INISettings::uiSN_remain_value_enable, 0},
      {"SN_remain_value_enable=1", &INISettings::uiSN_remain_value_enable, 1},
      {"SN_Numbers=16", &INISettings::uiSN_Numbers, 16},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(bLoad(c.strLine + "\r\n")) << c.strLine;
    EXPECT_EQ(ini.m_pINI.*(c.pField), c.nExpected) << c.strLine;
  }
  ASSERT_TRUE(bLoad("bc_enable_port3=1\r\nTL=1\r\nbc_enable_port1=5\r\nLPM=1\r\nPMU=1\r\n"));
  EXPECT_EQ(ini.m_pINI.ucBc_enable_port3, 0);
  EXPECT_EQ(ini.m_pINI.ucBc_enable_port1, 0);
  EXPECT_EQ(ini.m_pINI.ucTL, 0);
  EXPECT_EQ(ini.m_pINI.ucLPM, 1);
  EXPECT_EQ(ini.m_pINI.ucPMU, 1);
}

TEST_F(IniLoad, AutoInstallKeyReachesTheHostFlag) {
  int nCalls = 0;
  uint8_t ucFlag = 0xEE;
  ini.m_fnSetAutoInstallFilterDriver = [&](uint8_t v) { ++nCalls, ucFlag = v; };
  ASSERT_TRUE(bLoad("auto_install_filter_driver_enable=1\r\n"));
  EXPECT_EQ(nCalls, 1);
  EXPECT_EQ(ucFlag, 1);
  ASSERT_TRUE(bLoad("vendor_id=2F7B\r\n"));  // no key: flag left alone
  EXPECT_EQ(nCalls, 1);
}

TEST_F(IniLoad, VersionLine) {
  EXPECT_FALSE(bLoad("vendor_id=2F7B\r\nversion=1004\r\nproduct_id=55AA\r\n"));
  EXPECT_EQ(texts(), Texts{"Loaded INI file Versoin[1004] is not suit for current version of MPTool"});
  EXPECT_EQ(ini.m_pINI.uiVersion, 1004);
  EXPECT_EQ(ini.m_pINI.ucVendor_id, "2F7B");  // what was read before the failure stays
  EXPECT_EQ(ini.m_pINI.ucProduct_id, "");     // nothing after it is read

  shown.clear();
  EXPECT_TRUE(bLoad("vendor_id=2F7B\r\n"));  // no version line at all
  EXPECT_EQ(ini.m_pINI.uiVersion, 0);
  EXPECT_TRUE(bLoad("Version = 1005 // current\r\n"));
  EXPECT_EQ(ini.m_pINI.uiVersion, 1005);
  EXPECT_TRUE(shown.empty());
}

TEST_F(IniLoad, UnknownLinesGiveOneMessageNumberedByCountedLines) {
  // [ini_version] and [usb_func] are not counted; [SLT] and known keys are.
  EXPECT_TRUE(bLoad("[ini_version]\r\nabc=1\r\n[usb_func]\r\nvendor_id=2F7B\r\n\r\ndef\r\n[SLT]\r\n=5\r\n"));
  EXPECT_EQ(texts(), Texts{"0 Line of Configuration String in INI file is invalid !\r\n"
                           "2 Line of Configuration String in INI file is invalid !\r\n"
                           "4 Line of Configuration String in INI file is invalid !\r\n"});
  EXPECT_EQ(shown[0].nType, INI_MSG_WARNING);
  EXPECT_EQ(ini.m_pINI.ucVendor_id, "2F7B");
}

TEST_F(IniLoad, CountingHasNoLimitThatFailsLongFiles) {
  // Far more counted lines than a byte counter holds: numbering carries on past 255.
  std::string s;
  for (int i = 0; i < 300; ++i) s += "vendor_id=2F7B\r\n";
  s += "nonsense\r\n";
  EXPECT_TRUE(bLoad(s));
  EXPECT_EQ(texts(), Texts{"300 Line of Configuration String in INI file is invalid !\r\n"});
}

TEST_F(IniLoad, ChecksAndTheirMessages) {
  EXPECT_FALSE(bLoad("serial_number=123456789012345678901\r\n"));
  EXPECT_EQ(texts(), Texts{"Invalid SN Size"});
  EXPECT_EQ(ini.m_pINI.ucSerial_number, "");

  shown.clear();
  EXPECT_TRUE(bLoad("serial_number=12345678901234567890\r\n"));  // exactly 20
  EXPECT_TRUE(shown.empty());

  EXPECT_FALSE(bLoad("Check_SerialNumber=1\r\nserial_number=12AB34G5\r\n"));
  EXPECT_EQ(texts(), Texts{"Invalid SN String"});
  EXPECT_EQ(ini.m_pINI.ucSerial_number, "");
  shown.clear();
  EXPECT_TRUE(bLoad("Check_SerialNumber=1\r\nserial_number=12ab34F5\r\n"));

  EXPECT_FALSE(bLoad("manufacturer_string=" + std::string(45, 'M') + "\r\n"));
  EXPECT_EQ(texts(), Texts{"Invalid Manufacturer Size"});
  shown.clear();
  EXPECT_TRUE(bLoad("manufacturer_string=" + std::string(44, 'M') + "\r\n"));
  EXPECT_FALSE(bLoad("product_string=" + std::string(49, 'P') + "\r\n"));
  EXPECT_EQ(texts(), Texts{"Invalid Product Size"});
  shown.clear();
  EXPECT_TRUE(bLoad("product_string=" + std::string(48, 'P') + "\r\n"));
}

TEST_F(IniLoad, DriveLabelLimitFollowsTheFormatType) {
  EXPECT_FALSE(bLoad("format_drive_type=1\r\ndrive_label_name=ABCDEFGHIJKL\r\n"));
  EXPECT_EQ(texts(), Texts{"Invalid DiskLabel Size"});
  EXPECT_EQ(ini.m_pINI.ucDrive_label_name, "");
  EXPECT_EQ(ini.m_ConfigLimits.m_ucDevice_DiskLabel_Len, 11);
  shown.clear();
  EXPECT_TRUE(bLoad("format_drive_type=0\r\ndrive_label_name=ABCDEFGHIJKL\r\n"));
  EXPECT_EQ(ini.m_ConfigLimits.m_ucDevice_DiskLabel_Len, 32);
  EXPECT_FALSE(bLoad("drive_label_name=" + std::string(33, 'L') + "\r\n"));
}

TEST_F(IniLoad, SeveralFailedChecksReturnTheLastCode) {
  ini.m_pINI.ucSerial_number = std::string(21, '1');
  ini.m_pINI.ucDrive_label_name = std::string(40, 'L');
  ini.m_pINI.ucProduct_string = std::string(60, 'P');
  EXPECT_EQ(ini.vCheckINIType(), INI_CHECK_LABEL_TOO_LONG);
  EXPECT_EQ(texts(), (Texts{"Invalid SN Size", "Invalid Product Size", "Invalid DiskLabel Size"}));
  EXPECT_EQ(ini.m_pINI.ucSerial_number, "");
  EXPECT_EQ(ini.m_pINI.ucProduct_string, "");
  shown.clear();
  ini.m_pINI.ucCheck_SerialNumber = 1;
  ini.m_pINI.ucSerial_number = "12-34";
  EXPECT_EQ(ini.vCheckINIType(), INI_CHECK_SN_NOT_HEX);
  EXPECT_EQ(ini.vCheckINIType(), INI_CHECK_OK);  // the field was cleared
}

TEST_F(IniLoad, RepeatedTextKeyReplacesTheWholeValue) {
  EXPECT_TRUE(bLoad("product_string=Long Product Name\r\nproduct_string=Hub\r\n"));
  EXPECT_EQ(ini.m_pINI.ucProduct_string, "Hub");
}

TEST_F(IniLoad, OverlongTextIsCutWithWarning) {
  LogCapture log(2);
  std::string strLong(300, 'x');
  EXPECT_TRUE(bLoad("fw_binary_name=" + strLong + "\r\nread_speed=" + std::string(260, '9') + "\r\n"));
  EXPECT_EQ(ini.m_pINI.ucFw_binary_name, std::string(254, 'x'));
  EXPECT_EQ(ini.m_pINI.ucRead_speed, std::string(254, '9'));
  EXPECT_TRUE(log.contains("WRN::Ini::vLoadINIFile:"));
  EXPECT_TRUE(log.contains("fw_binary_name value of 300 characters cut to 254"));
}

TEST_F(IniLoad, TenThousandCharacterLines) {
  LogCapture log(3);
  std::string strHuge(10000, 'A');
  EXPECT_TRUE(bLoad(strHuge + "\r\nvendor_id=" + strHuge + "\r\nproduct_id=55AA\r\n"));
  EXPECT_EQ(texts(), Texts{"0 Line of Configuration String in INI file is invalid !\r\n"});
  EXPECT_EQ(ini.m_pINI.ucVendor_id.size(), 254u);
  EXPECT_EQ(ini.m_pINI.ucProduct_id, "55AA");
}

TEST_F(IniLoad, BinaryBytesNeitherCrashNorLeak) {
  std::string s = "vendor_id=2F";
  s += '\0';
  s += "7B\r\n";
  s += std::string("\x01\x02\xff\xfe=\x80\r\n", 8);
  s += "\xff\xfe\r\nproduct_id=55AA\n";
  EXPECT_TRUE(bLoad(s));
  EXPECT_EQ(ini.m_pINI.ucVendor_id, "2F");  // a text ends at its zero byte
  EXPECT_EQ(ini.m_pINI.ucProduct_id, "55AA");
  EXPECT_EQ(texts(), Texts{"1 Line of Configuration String in INI file is invalid !\r\n"
                           "2 Line of Configuration String in INI file is invalid !\r\n"});
}

TEST_F(IniLoad, LineEndingsAndBlankLines) {
  // LF only, spaces-only line (an empty key), no line end at the end of the file.
  EXPECT_TRUE(bLoad("vendor_id=2F7B\n\n   \nproduct_id=55AA"));
  EXPECT_EQ(ini.m_pINI.ucProduct_id, "55AA");
  EXPECT_EQ(texts(), Texts{"1 Line of Configuration String in INI file is invalid !\r\n"});
}

TEST_F(IniLoad, RecordIsClearedAtEveryLoad) {
  ini.m_pINI.ucIdle_timer = 3;
  ini.m_pINI.ucTarget_chip = "VLN6420";
  ini.m_pINI.ucProduct_string = "old";
  EXPECT_TRUE(bLoad("vendor_id=2F7B\r\n"));
  EXPECT_EQ(ini.m_pINI.ucIdle_timer, 0);
  EXPECT_EQ(ini.m_pINI.ucTarget_chip, "");
  EXPECT_EQ(ini.m_pINI.ucProduct_string, "");
}

TEST_F(IniLoad, MissingFolderOrUnreadableFile) {
  ini.m_pINI.ucVendor_id = "old";
  std::string strMissing = dir.str() + "/none.ini";
  EXPECT_FALSE(ini.vLoadINIFile(strMissing));
  EXPECT_EQ(texts(), Texts{strMissing + " File/Path Not Read/Write"});
  EXPECT_EQ(ini.m_pINI, INISettings{});
  EXPECT_EQ(ini.strLoadProblem(), strMissing + " File/Path Not Read/Write");

  shown.clear();
  EXPECT_FALSE(ini.vLoadINIFile(dir.str()));  // a folder given as the file
  EXPECT_EQ(texts(), Texts{dir.str() + " File/Path Not Read/Write"});

  shown.clear();
  EXPECT_FALSE(ini.vLoadINIFile(""));
  EXPECT_EQ(texts(), Texts{" File/Path Not Read/Write"});

  if (geteuid() != 0) {  // root reads everything
    auto p = dir.write("ro.ini", "vendor_id=2F7B\r\n");
    chmod(p.c_str(), 0400);
    shown.clear();
    EXPECT_FALSE(ini.vLoadINIFile(p.string()));
    EXPECT_EQ(texts(), Texts{p.string() + " File/Path Not Read/Write"});
  }
}

// A file without a single setting (empty, NUL bytes, random bytes, UTF-16) is no settings
// file: the load says so in one message, fails and keeps the record; a version line alone
// still makes an (empty) settings file.
TEST_F(IniLoad, FileWithoutAnySettingIsRefusedAndChangesNothing) {
  std::string strUtf16 = "\xff\xfe";
  for (char c : std::string("vendor_id=2F7B\r\nproduct_id=55AA\r\n")) strUtf16 += std::string{c, '\0'};
  std::string strRandom;
  uint32_t x = 12345;
  for (int i = 0; i < 4000; ++i) strRandom += static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
  const std::string strPath = (dir.path() / "t.ini").string();
  for (const std::string& strContent : {std::string(), std::string(5000, '\0'), strRandom, strUtf16}) {
    ini.m_pINI = INISettings{};
    ini.m_pINI.ucVendor_id = "ABCD";
    ini.m_pINI.ucAuto_mp_DevNum = 3;
    shown.clear();
    EXPECT_FALSE(bLoad(strContent)) << strContent.size();
    EXPECT_EQ(texts(),
              Texts{strPath + " holds no setting (empty, or not a single-byte text settings file): nothing "
                              "loaded"});
    EXPECT_EQ(ini.strLoadProblem(), texts().front());
    EXPECT_EQ(ini.m_pINI.ucVendor_id, "ABCD");
    EXPECT_EQ(ini.m_pINI.ucAuto_mp_DevNum, 3);
  }
  shown.clear();
  EXPECT_TRUE(bLoad("[ini_version]\r\nversion=1005\r\n"));
  EXPECT_TRUE(shown.empty());
  EXPECT_TRUE(ini.strLoadProblem().empty());
  EXPECT_EQ(ini.m_pINI.ucVendor_id, "");
}

// A file over the limit is refused without being read whole and without touching the
// record; one just under it loads.
TEST_F(IniLoad, OversizedFileIsRefusedAndChangesNothing) {
  ini.m_pINI.ucVendor_id = "ABCD";
  const std::string strLine = "vendor_id=2F7B\r\n";
  std::string strBig;
  while (strBig.size() + strLine.size() <= INI_FILE_MAX_SIZE) strBig += strLine;
  std::string strOver = strBig + std::string(INI_FILE_MAX_SIZE + 1 - strBig.size(), '\n');
  EXPECT_FALSE(bLoad(strOver));
  const std::string strPath = (dir.path() / "t.ini").string();
  EXPECT_EQ(texts(), Texts{strPath + " is larger than 1048576 bytes: not a settings file, nothing loaded"});
  EXPECT_EQ(ini.strLoadProblem(), texts().front());
  EXPECT_EQ(ini.m_pINI.ucVendor_id, "ABCD");
  shown.clear();
  EXPECT_TRUE(bLoad(strBig));
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(ini.m_pINI.ucVendor_id, "2F7B");
  EXPECT_TRUE(ini.strLoadProblem().empty());
}

}  // namespace
