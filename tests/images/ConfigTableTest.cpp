// The configuration tables of every device, byte by byte against values worked out by hand.
#include <gtest/gtest.h>

#include "ImagesFixture.h"
#include "images/ConfigTable.h"
#include "support/LogCapture.h"

namespace {

const uint8_t kContainer[16] = {0x67, 0x45, 0x23, 0x01, 0xAB, 0x89, 0xEF, 0xCD,
                                0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

// Every byte of a default-descriptor table with the given serial number, signature and sum.
ConfigTable stExpectedTable(const std::string& strSN, uint8_t ucSig, uint8_t ucSum, uint8_t ucFlags = 0xAF) {
  ConfigTable t;
  t.fill(0xFF);
  for (size_t i = 0; i < strSN.size(); ++i) t[4 + i] = static_cast<uint8_t>(strSN[i]);
  const char* m = "VLNT";
  for (int i = 0; i < 4; ++i) t[0x18 + i] = static_cast<uint8_t>(m[i]);
  const char* p = "VLNT725x";
  for (int i = 0; i < 8; ++i) t[0x44 + i] = static_cast<uint8_t>(p[i]);
  std::copy(kContainer, kContainer + 16, t.begin() + 0x74);
  t[0x84] = 0x7B;
  t[0x85] = 0x2F;  // VID 2F7B
  t[0x86] = 0xAA;
  t[0x87] = 0x55;  // PID 55AA
  t[0x88] = 0x00;
  t[0x89] = 0x01;  // revision 0100
  t[0x8C] = ucFlags;
  t[0xF8] = 0xAB;
  t[0xF9] = 0x55;  // PID_U2 55AB
  t[0xFE] = ucSig;
  t[0xFF] = ucSum;
  return t;
}

}  // namespace

TEST(ConfigTable, ThreeDevicesHexSerialsEachWithItsOwnChecksum) {
  ImagesFixture f;
  f.ini.ucSN_EditType = 1;
  f.ini.ucU1U2 = 1;
  f.ini.ucPMU = 1;
  f.devList.DevNums = 3;
  ASSERT_EQ(f.images.vSetHubConfigInfo(1), ESetConfigResult::Built);
  EXPECT_EQ(f.devList.dev[0].ucConfigBlock, stExpectedTable("00000000000E", 0x4B, 0x4E));
  EXPECT_EQ(f.devList.dev[1].ucConfigBlock, stExpectedTable("00000000000F", 0x4B, 0x4F));
  EXPECT_EQ(f.devList.dev[2].ucConfigBlock, stExpectedTable("000000000010", 0x4B, 0x3A));
  // The working table holds the last device's table.
  EXPECT_EQ(f.images.m_ucConfigTable, f.devList.dev[2].ucConfigBlock);
}

TEST(ConfigTable, DecimalSerialsAndTypeThreeSignature) {
  ImagesFixture f;
  f.ini.ucSN_EditType = 2;
  f.ini.ucU1U2 = 1;
  f.ini.ucPMU = 1;
  f.form.m_texts.m_strEditDeviceConfigurationSerialNumber = "0000000009";
  f.devList.DevNums = 3;
  ASSERT_EQ(f.images.vSetHubConfigInfo(3), ESetConfigResult::Built);
  EXPECT_EQ(f.devList.dev[0].ucConfigBlock, stExpectedTable("0000000009", 0x2D, 0xC2));
  EXPECT_EQ(f.devList.dev[1].ucConfigBlock, stExpectedTable("0000000010", 0x2D, 0xBA));
  EXPECT_EQ(f.devList.dev[2].ucConfigBlock, stExpectedTable("0000000011", 0x2D, 0xBB));
}

TEST(ConfigTable, UserSerialIsTheSameForAllAndEmptyListBuildsOne) {
  ImagesFixture f;
  f.ini.ucSN_EditType = 0;
  f.devList.dev[1].ucConfigBlock.fill(0x11);
  f.devList.DevNums = 0;
  ASSERT_EQ(f.images.vSetHubConfigInfo(0), ESetConfigResult::Built);
  const ConfigTable& t = f.devList.dev[0].ucConfigBlock;
  EXPECT_EQ(t[0xFE], 0xAA);
  EXPECT_EQ(t[0xFF], ucConfigTableChecksum(t));
  EXPECT_EQ(t[0x8C], 0xFF);                            // no option on
  EXPECT_EQ(f.devList.dev[1].ucConfigBlock[0], 0x11);  // only the one device was touched
}

TEST(ConfigTable, SignaturesByType) {
  EXPECT_EQ(optConfigSignature(0), 0xAA);
  EXPECT_EQ(optConfigSignature(1), 0x4B);
  EXPECT_EQ(optConfigSignature(2), 0x3C);
  EXPECT_EQ(optConfigSignature(3), 0x2D);
  for (int n : {4, 7, 0xF2, 0xF6, 0xFF})
    EXPECT_FALSE(optConfigSignature(static_cast<uint8_t>(n)).has_value());
}

TEST(ConfigTable, OptionFlagBitsAreInvertedInOrder) {
  INISettings ini;
  EXPECT_EQ(ucConfigOptionFlags(ini), 0xFF);
  ini.ucU1U2 = 1;
  ini.ucPMU = 1;
  EXPECT_EQ(ucConfigOptionFlags(ini), 0xAF);
  uint8_t INISettings::*flags[8] = {&INISettings::ucBc_enable_port1,
                                    &INISettings::ucBc_enable_port2,
                                    &INISettings::ucBc_enable_port3,
                                    &INISettings::ucBc_enable_port4,
                                    &INISettings::ucU1U2,
                                    &INISettings::ucLPM,
                                    &INISettings::ucPMU,
                                    &INISettings::ucTL};
  for (int b = 0; b < 8; ++b) {
    INISettings one;
    one.*flags[b] = 1;
    EXPECT_EQ(ucConfigOptionFlags(one), static_cast<uint8_t>(~(1u << b))) << b;
  }
  // A flag the file gave as 2 counts as on and touches no other bit.
  INISettings two;
  two.ucLPM = 2;
  EXPECT_EQ(ucConfigOptionFlags(two), 0xDF);
}

TEST(ConfigTable, InvalidTypeRefusedInWindowWithMessageAndNothingWritten) {
  ImagesFixture f;
  f.devList.DevNums = 2;
  f.devList.dev[0].ucConfigBlock.fill(0x12);
  f.devList.dev[1].ucConfigBlock.fill(0x34);
  f.images.m_ucConfigTable.fill(0x56);
  for (uint8_t ucType : {uint8_t{4}, uint8_t{0xF2}, uint8_t{0xFF}}) {
    EXPECT_EQ(f.images.vSetHubConfigInfo(ucType), ESetConfigResult::InvalidFirmwareType);
    EXPECT_EQ(nCommandLineExitCode(ESetConfigResult::InvalidFirmwareType), -13);
  }
  EXPECT_EQ(f.devList.dev[0].ucConfigBlock[0], 0x12);
  EXPECT_EQ(f.devList.dev[1].ucConfigBlock[255], 0x34);
  EXPECT_EQ(f.images.m_ucConfigTable[0], 0x56);
  ASSERT_EQ(f.view.m_vecTexts.size(), 3u);
  EXPECT_NE(f.view.m_vecTexts[0].find("Invalid Config Type"), std::string::npos);
  EXPECT_NE(f.view.m_vecTexts[0].find("[4]"), std::string::npos);
  EXPECT_NE(f.view.m_vecFlags[0] & MB_ICONERROR, 0u);
  EXPECT_EQ(nCommandLineExitCode(ESetConfigResult::Built), 0);
}

TEST(ConfigTable, InvalidTypeInCommandLineModeShowsNothing) {
  ImagesFixture f;
  CurrentDir cwd(f.dir.path());
  f.images.m_bShowGUI = false;
  LogCapture log;
  EXPECT_EQ(f.images.vSetHubConfigInfo(5), ESetConfigResult::InvalidFirmwareType);
  EXPECT_TRUE(f.view.m_vecTexts.empty());
  EXPECT_FALSE(std::filesystem::exists(f.dir.path() / "ProgramMSG.txt"));
  EXPECT_TRUE(log.contains("bFwType[5] INVALID"));
}

TEST(ConfigTable, OtherFormatLeavesEveryTableErased) {
  ImagesFixture f;
  f.ini.ucConfig_format = 0;
  f.devList.DevNums = 3;
  for (auto& d : f.devList.dev) d.ucConfigBlock.fill(0x00);
  LogCapture log;
  ASSERT_EQ(f.images.vSetHubConfigInfo(0), ESetConfigResult::Built);
  ConfigTable ff;
  ff.fill(0xFF);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(f.devList.dev[i].ucConfigBlock, ff) << i;
  EXPECT_EQ(f.devList.dev[3].ucConfigBlock[0], 0x00);
  EXPECT_TRUE(log.contains("InValid Config Table[0]"));
}

TEST(ConfigTable, DeviceCountAboveTheListIsBounded) {
  ImagesFixture f;
  f.ini.ucSN_EditType = 1;
  f.devList.DevNums = 40;  // never more than the 16 records
  ASSERT_EQ(f.images.vSetHubConfigInfo(2), ESetConfigResult::Built);
  EXPECT_EQ(strGetConfigText(f.devList.dev[15].ucConfigBlock, 4, 20), "00000000001D");
  f.devList.DevNums = -3;
  f.devList.dev[1].ucConfigBlock.fill(0);
  ASSERT_EQ(f.images.vSetHubConfigInfo(2), ESetConfigResult::Built);
  EXPECT_EQ(f.devList.dev[1].ucConfigBlock[0], 0);
}

TEST(ConfigTable, TextsFillTheirFieldsAndNeverSpillOver) {
  ImagesFixture f;
  const std::string m44(44, 'M'), p48(48, 'P'), s20 = "ABCDEFGHIJ0123456789";
  f.form.m_texts.m_strEditDeviceConfigurationManufacturerString = m44 + "overflow";
  f.form.m_texts.m_strEditDeviceConfigurationProductString = p48 + "overflow";
  f.form.m_texts.m_strEditDeviceConfigurationSerialNumber = s20 + "XY";
  ASSERT_EQ(f.images.vSetHubConfigInfo(0), ESetConfigResult::Built);
  const ConfigTable& t = f.devList.dev[0].ucConfigBlock;
  EXPECT_EQ(strGetConfigText(t, 0x04, 20), s20);
  EXPECT_EQ(strGetConfigText(t, 0x18, 44), m44);
  EXPECT_EQ(strGetConfigText(t, 0x44, 48), p48);
  EXPECT_EQ(t[0x74], 0x67);  // the container id right after the product string is intact
}

TEST(ConfigTable, ShortSerialLeavesTheRestOfItsFieldErased) {
  ImagesFixture f;
  f.ini.ucSN_EditType = 0;
  f.form.m_texts.m_strEditDeviceConfigurationSerialNumber = "12345678901234567890";
  ASSERT_EQ(f.images.vSetHubConfigInfo(0), ESetConfigResult::Built);
  f.form.m_texts.m_strEditDeviceConfigurationSerialNumber = "AB";
  ASSERT_EQ(f.images.vSetHubConfigInfo(0), ESetConfigResult::Built);
  const ConfigTable& t = f.devList.dev[0].ucConfigBlock;
  EXPECT_EQ(t[4], 'A');
  EXPECT_EQ(t[5], 'B');
  for (int i = 6; i < 24; ++i) EXPECT_EQ(t[i], 0xFF) << i;
}

TEST(ConfigTable, ContainerTextsShortOrNotHex) {
  auto fnHex = [](const std::string& s) {
    uint32_t v = 0;
    for (char c : s) {
      int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
              : (c >= 'A' && c <= 'F')                    ? c - 'A' + 10
              : (c >= 'a' && c <= 'f')                    ? c - 'a' + 10
                                                          : -1;
      if (d < 0) break;
      v = v * 16 + static_cast<uint32_t>(d);
    }
    return v;
  };
  auto full = stContainerIdBytes("0123456789ABCDEF0123456789ABCDEF", fnHex);
  EXPECT_TRUE(std::equal(full.begin(), full.end(), kContainer));
  // Ten digits: the first number whole, two digits of the second, nothing else.
  auto ten = stContainerIdBytes("0123456789", fnHex);
  const uint8_t kTen[16] = {0x67, 0x45, 0x23, 0x01, 0x89, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_TRUE(std::equal(ten.begin(), ten.end(), kTen));
  auto none = stContainerIdBytes("", fnHex);
  for (uint8_t b : none) EXPECT_EQ(b, 0);
  // A non-hex character ends the number of its group only.
  auto bad = stContainerIdBytes("01234G6789ABCDEF01Z3456789ABCDEF", fnHex);
  const uint8_t kBad[16] = {0x34, 0x12, 0x00, 0x00, 0xAB, 0x89, 0xEF, 0xCD,
                            0x01, 0x00, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
  EXPECT_TRUE(std::equal(bad.begin(), bad.end(), kBad));
}

TEST(ConfigTable, ContainerAndIdsThroughTheBuilder) {
  ImagesFixture f;
  f.form.m_texts.m_strEditDeviceConfigurationContainerID = "0123";
  f.form.m_texts.m_strEditDeviceConfigurationVendorID = "2f7b";
  f.form.m_texts.m_strEditDeviceConfigurationProductIDU2 = "";
  ASSERT_EQ(f.images.vSetHubConfigInfo(0), ESetConfigResult::Built);
  const ConfigTable& t = f.devList.dev[0].ucConfigBlock;
  const uint8_t kShort[16] = {0x23, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_TRUE(std::equal(t.begin() + 0x74, t.begin() + 0x84, kShort));
  EXPECT_EQ(t[0x84], 0x7B);
  EXPECT_EQ(t[0x85], 0x2F);
  EXPECT_EQ(t[0xF8], 0x00);
  EXPECT_EQ(t[0xF9], 0x00);
  EXPECT_EQ(t[0x8A], 0xFF);
  EXPECT_EQ(t[0x8B], 0xFF);
}

TEST(ConfigTable, DefaultConfigurationTest) {
  ImagesFixture f;
  EXPECT_TRUE(f.images.bIsDefaultConfiguration());
  f.form.m_texts.m_strEditDeviceConfigurationVendorID = "2f7b";
  f.form.m_texts.m_strEditDeviceConfigurationProductID = "55aa";
  EXPECT_TRUE(f.images.bIsDefaultConfiguration());  // ids compared in upper case
  f.form.m_texts.m_strEditDeviceConfigurationProductString = "vlnt725x";
  EXPECT_FALSE(f.images.bIsDefaultConfiguration());  // strings exactly
  f.vSetDefaultDescriptor();
  f.form.m_texts.m_strEditDeviceConfigurationManufacturerString = "VLNT ";
  EXPECT_FALSE(f.images.bIsDefaultConfiguration());
  f.vSetDefaultDescriptor();
  f.form.m_texts.m_strEditDeviceConfigurationVendorID = "2F7C";
  EXPECT_FALSE(f.images.bIsDefaultConfiguration());
}
