// The dated result log: header, entry fields and their conditions, one file per day.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "settings/Ini.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace {

std::tm tmAt(int y, int mo, int d, int h, int mi, int s) {
  std::tm t{};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  return t;
}

std::vector<std::string> vecSplit(const std::string& s, const std::string& sep) {
  std::vector<std::string> v;
  size_t nPos = 0;
  for (;;) {
    size_t n = s.find(sep, nPos);
    v.push_back(s.substr(nPos, n == std::string::npos ? std::string::npos : n - nPos));
    if (n == std::string::npos) break;
    nPos = n + sep.size();
  }
  return v;
}

class MPResultLog : public ::testing::Test {
 protected:
  TempDir dir;
  Ini ini;
  DeviceList list;
  std::tm tmNow = tmAt(2024, 3, 9, 7, 5, 4);

  void SetUp() override {
    ini.m_fnLocalTime = [this] { return tmNow; };
    DevRecord& d = list.dev[2];
    d.ucIndex = 2;
    d.nPortId = 3;
    d.strDiskSerialNumber = "";
    d.strVID = "2F7B";
    d.strPID = "55AA";
    d.strDeviceRelease = "0100";
    d.strManufacturer = "Maker";
    d.strProduct = "Hub";
    d.strSerialNumber = "000000000001";
    d.strFWVersion = "0102030a0b0c";
    d.strUSBText = "U3.2_10Gx2";
    d.ucPhysicalDrive = 1;
    d.ucLogicalAddress = 'E';
    d.results.ucUpdateResult = 1;
    d.results.ucRelinkResult = 0;
  }
  // Fields of the entry (the text after the last "\r\n"), split at tabs.
  std::vector<std::string> vecEntryFields(const std::string& strFile) {
    auto lines = vecSplit(strFile, "\r\n");
    return vecSplit(lines.back(), "\t");
  }
};

TEST_F(MPResultLog, FirstEntryOfADayWritesTheHeader) {
  ASSERT_TRUE(ini.vLogMPResult(2, list, dir.str()));
  ASSERT_TRUE(std::filesystem::exists(dir.path() / "20240309.log"));
  std::string s = dir.read("20240309.log");
  auto lines = vecSplit(s, "\r\n");
  ASSERT_EQ(lines.size(), 2u);
  auto titles = vecSplit(lines[0], "\t");
  ASSERT_EQ(titles.size(), 34u);  // 33 titles, each followed by a tab
  EXPECT_EQ(titles[0], "Date");
  EXPECT_EQ(titles[8], "iManugacturer");
  EXPECT_EQ(titles[32], "DoPreloadResult");
  EXPECT_EQ(titles[33], "");
  // 35 fields each ending with a tab; the file's last line has no line end.
  auto f = vecSplit(lines[1], "\t");
  ASSERT_EQ(f.size(), 36u);
  EXPECT_EQ(f[35], "");
  EXPECT_EQ(f[0], "20240309");
  EXPECT_EQ(f[1], "07:05:04");
  EXPECT_EQ(f[2], "02");
  EXPECT_EQ(f[3], "03");
  EXPECT_EQ(f[4], "");  // empty disk serial number written as "%s"
  EXPECT_EQ(f[5], "2F7B");
  EXPECT_EQ(f[11], "0102030a0b0c");
  EXPECT_EQ(f[12], "U3.2_10Gx2");
  EXPECT_EQ(f[13], "01");
  EXPECT_EQ(f[14], "E");
}

TEST_F(MPResultLog, SecondEntryHasNoHeader) {
  ASSERT_TRUE(ini.vLogMPResult(2, list, dir.str()));
  std::string strFirst = dir.read("20240309.log");
  tmNow.tm_sec = 30;
  ASSERT_TRUE(ini.vLogMPResult(2, list, dir.str()));
  std::string s = dir.read("20240309.log");
  ASSERT_EQ(s.substr(0, strFirst.size()), strFirst);
  std::string strAdded = s.substr(strFirst.size());
  EXPECT_EQ(strAdded.substr(0, 2), "\r\n");
  EXPECT_EQ(strAdded.find("Date"), std::string::npos);
  EXPECT_EQ(vecEntryFields(s)[1], "07:05:30");
}

TEST_F(MPResultLog, FirmwareUpdateOffLeavesItsFieldsEmpty) {
  ini.m_pINI.ucFw_enablel = 0;
  ini.m_pINI.ucVendor_id = "AAAA";
  ASSERT_TRUE(ini.vLogMPResult(2, list, dir.str()));
  auto f = vecEntryFields(dir.read("20240309.log"));
  for (int i = 15; i <= 23; ++i) EXPECT_EQ(f[i], " ") << "field " << i + 1;
  EXPECT_EQ(f[28], " ");  // update result
  EXPECT_EQ(f[34], " ");
}

TEST_F(MPResultLog, FirmwareUpdateOnCarriesTheSettings) {
  INISettings& r = ini.m_pINI;
  r.ucFw_enablel = 1;
  r.ucFw_reload = 1;
  r.ucConfig_format = 1;
  r.ucVendor_id = "2F7B";
  r.ucProduct_id = "55AA";
  r.ucDevice_revision = "0100";
  r.ucManufacturer_string = "Maker";
  r.ucProduct_string = "Hub";
  r.ucSerial_number_increase = 1;
  r.ucFw_binary_name = "/fw/a.bin";
  r.ucFormat_enable = 1;
  r.ucFormat_drive_type = 2;
  r.ucDrive_label_name = "LBL";
  r.ucWr_test_enable = 1;
  r.ucWr_test_binary_name = "wr.bin";
  r.ucWr_test_count = 5;
  r.ucPreload_enable = 1;
  list.dev[2].results.ucPartitionResult = 1;
  list.dev[2].results.ucFormatResult = 0;
  list.dev[2].results.ucWrTestResult = 1;
  ASSERT_TRUE(ini.vLogMPResult(2, list, dir.str()));
  auto f = vecEntryFields(dir.read("20240309.log"));
  const std::vector<std::string> expected = {"1",    "2F7B",      "55AA", "0100", "Maker",  "Hub", " ",
                                             "1",    "/fw/a.bin", "2",    "LBL",  "wr.bin", "5",   "PASS",
                                             "FAIL", "PASS",      "FAIL", "PASS", "FAIL",   " "};
  ASSERT_EQ(f.size(), 36u);
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(f[15 + i], expected[i]) << "field " << 16 + i;
}

TEST_F(MPResultLog, ReloadResultCarriesTheDescriptorCheck) {
  INISettings& r = ini.m_pINI;
  r.ucFw_enablel = 1;
  DevResults& res = list.dev[2].results;
  struct Case {
    uint8_t ucReload, ucCheck, ucRelink, ucConfig;
    const char* pszField;
  };
  for (Case c : {Case{1, 1, 1, 0, "FAIL"}, Case{1, 1, 1, 1, "PASS"}, Case{1, 1, 0, 1, "FAIL"},
                 Case{1, 0, 1, 0, "PASS"}, Case{0, 1, 0, 0, "FAIL"}, Case{0, 1, 0, 1, "PASS"},
                 Case{0, 0, 1, 1, " "}}) {
    r.ucFw_reload = c.ucReload;
    r.ucConfig_Check = c.ucCheck;
    res.ucRelinkResult = c.ucRelink;
    res.ucConfigCheckResult = c.ucConfig;
    ASSERT_TRUE(ini.vLogMPResult(2, list, dir.str()));
    auto f = vecEntryFields(dir.read("20240309.log"));
    EXPECT_EQ(f[29], c.pszField) << int(c.ucReload) << int(c.ucCheck) << int(c.ucRelink) << int(c.ucConfig);
    EXPECT_EQ(f[28], "PASS");  // the update result stays the update's
  }
}

TEST_F(MPResultLog, EntriesAcrossMidnightGoToTheirOwnDay) {
  tmNow = tmAt(2024, 12, 31, 23, 59, 59);
  ASSERT_TRUE(ini.vLogMPResult(2, list, dir.str()));
  tmNow = tmAt(2025, 1, 1, 0, 0, 1);
  ASSERT_TRUE(ini.vLogMPResult(2, list, dir.str()));
  auto a = vecSplit(dir.read("20241231.log"), "\r\n");
  auto b = vecSplit(dir.read("20250101.log"), "\r\n");
  EXPECT_EQ(a.size(), 2u);
  EXPECT_EQ(b.size(), 2u);  // a new day starts with its own header
  EXPECT_EQ(vecSplit(b[1], "\t")[0], "20250101");
}

TEST_F(MPResultLog, FreeSlotValuesAndLongTexts) {
  DevRecord& d = list.dev[5];
  d.vFree();
  d.strProduct = std::string(2000, 'P');  // no fixed buffer to overflow
  ASSERT_TRUE(ini.vLogMPResult(5, list, dir.str()));
  auto f = vecEntryFields(dir.read("20240309.log"));
  EXPECT_EQ(f[3], "-1");
  EXPECT_EQ(f[9].size(), 2000u);
  EXPECT_EQ(f[13], "127");
  EXPECT_EQ(f[14], "\x7f");
}

TEST_F(MPResultLog, FailuresAreReportedAndLogged) {
  LogCapture log;
  EXPECT_FALSE(ini.vLogMPResult(2, list, dir.str() + "/missing"));
  EXPECT_EQ(ini.nLastFileError(), ENOENT);  // the open's own error, for the operator's message
  EXPECT_TRUE(log.contains("vLogMPResult: [2] , dwErrorCode 2"));
  EXPECT_FALSE(ini.vLogMPResult(16, list, dir.str()));
}

}  // namespace
