// The firmware file check and the configuration ROM recognition, at every size boundary and
// with the files no check should trip over.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ImagesFixture.h"
#include "images/HubFirmware.h"
#include "support/LogCapture.h"

namespace {

// A ".bin" of n bytes whose type byte (0x203) is ucType, version bytes 01 02 03 <type> 05 06.
std::vector<uint8_t> vecBin(size_t n, uint8_t ucType) {
  std::vector<uint8_t> v = vecPattern(n);
  if (n >= 0x206) {
    const uint8_t ver[6] = {0x01, 0x02, 0x03, ucType, 0x05, 0x06};
    std::copy(ver, ver + 6, v.begin() + 0x200);
  }
  return v;
}

// A valid type-0 configuration table (signature 0xAA, correct sum) followed by extra bytes.
std::vector<uint8_t> vecType0Rom(size_t nExtra, uint8_t ucSig = 0xAA) {
  std::vector<uint8_t> v = vecPattern(256 + nExtra, 3);
  v[254] = ucSig;
  uint8_t s = 0;
  for (int i = 4; i <= 254; ++i) s = static_cast<uint8_t>(s + v[i]);
  v[255] = s;
  return v;
}

}  // namespace

TEST(FirmwareCheck, BinSizeBoundaryAndUpperCaseExtension) {
  TempDir d;
  LogCapture log;
  EXPECT_EQ(vIsValidHubFirmware(d.write("a.BIN", strBytes(vecBin(65272, 0x35))).string()), 3);
  EXPECT_TRUE(log.contains("vRead Firmware Version from Binary: 010203350506"));
  EXPECT_TRUE(log.contains("bMajorType 3"));
  EXPECT_EQ(vIsValidHubFirmware(d.write("b.bin", strBytes(vecBin(65273, 0x35))).string()),
            FW_CHECK_BIN_TOO_LARGE);
  // A huge sparse ".bin" is refused by its size without being read.
  const std::string strHuge = (d.path() / "huge.bin").string();
  ASSERT_EQ(truncate(d.write("huge.bin", "").c_str(), 1LL << 32), 0);
  EXPECT_EQ(vIsValidHubFirmware(strHuge), FW_CHECK_BIN_TOO_LARGE);
}

TEST(FirmwareCheck, TypeByteDecidesAndTypesFourToSevenAreRefused) {
  TempDir d;
  for (uint8_t ucType : {0x05, 0x1F, 0x2A, 0xB5}) {  // bit 7 is not part of the type
    EXPECT_EQ(vIsValidHubFirmware(d.write("t.bin", strBytes(vecBin(4096, ucType))).string()),
              (ucType >> 4) & 7)
        << int(ucType);
  }
  LogCapture log;
  EXPECT_EQ(vIsValidHubFirmware(d.write("t.bin", strBytes(vecBin(4096, 0x4F))).string()), FW_CHECK_FAILED);
  EXPECT_TRUE(log.contains("bMajorType[4]. ERROR"));
  EXPECT_EQ(vIsValidHubFirmware(d.write("t.bin", strBytes(vecBin(4096, 0x70))).string()), FW_CHECK_FAILED);
}

TEST(FirmwareCheck, RomSizeMustBeExact) {
  TempDir d;
  std::vector<uint8_t> rom = vecPattern(65536);
  const uint8_t ver[6] = {0xA0, 0xB1, 0xC2, 0x25, 0xE4, 0xF5};
  std::copy(ver, ver + 6, rom.begin() + 0x302);
  LogCapture log;
  EXPECT_EQ(vIsValidHubFirmware(d.write("f.Rom", strBytes(rom)).string()), 2);
  EXPECT_TRUE(log.contains("vRead Firmware Version from Binary: A0B1C225E4F5"));
  rom.pop_back();
  EXPECT_EQ(vIsValidHubFirmware(d.write("f.rom", strBytes(rom)).string()), FW_CHECK_ROM_BAD_SIZE);
  rom.resize(65537);
  EXPECT_EQ(vIsValidHubFirmware(d.write("f.rom", strBytes(rom)).string()), FW_CHECK_ROM_BAD_SIZE);
  EXPECT_EQ(vIsValidHubFirmware(d.write("e.rom", "").string()), FW_CHECK_ROM_BAD_SIZE);
}

TEST(FirmwareCheck, UnknownExtensionLogsFF) {
  TempDir d;
  LogCapture log;
  EXPECT_EQ(vIsValidHubFirmware(d.write("fw.hex", strBytes(vecBin(4096, 0x10))).string()), FW_CHECK_FAILED);
  EXPECT_TRUE(log.contains("bMajorType[FF]. ERROR"));
  EXPECT_EQ(vIsValidHubFirmware(d.write("bin", strBytes(vecBin(4096, 0x10))).string()), FW_CHECK_FAILED);
  EXPECT_EQ(vIsValidHubFirmware(""), FW_CHECK_FAILED);
  EXPECT_EQ(vIsValidHubFirmware("x.b"), FW_CHECK_FAILED);
}

TEST(FirmwareCheck, ShortEmptyMissingAndNonRegularFilesGiveFF) {
  TempDir d;
  // 0x206 bytes hold the version and the type; one byte fewer does not.
  EXPECT_EQ(vIsValidHubFirmware(d.write("ok.bin", strBytes(vecBin(0x206, 0x15))).string()), 1);
  std::vector<uint8_t> v = vecBin(0x206, 0x15);
  v.pop_back();
  LogCapture log;
  EXPECT_EQ(vIsValidHubFirmware(d.write("short.bin", strBytes(v)).string()), FW_CHECK_FAILED);
  EXPECT_TRUE(log.contains("too short for version and type"));
  EXPECT_EQ(vIsValidHubFirmware(d.write("empty.bin", "").string()), FW_CHECK_FAILED);

  LogCapture quiet;  // a file that cannot be opened gives 0xFF without a log entry
  EXPECT_EQ(vIsValidHubFirmware((d.path() / "missing.bin").string()), FW_CHECK_FAILED);
  std::filesystem::create_directories(d.path() / "dir.bin");
  EXPECT_EQ(vIsValidHubFirmware((d.path() / "dir.bin").string()), FW_CHECK_FAILED);
  ASSERT_EQ(mkfifo((d.path() / "fifo.bin").c_str(), 0600), 0);
  EXPECT_EQ(vIsValidHubFirmware((d.path() / "fifo.bin").string()), FW_CHECK_FAILED);  // and does not block
  EXPECT_TRUE(quiet.entries().empty()) << quiet.all();
}

TEST(FirmwareCheck, UnreadableFileGivesFF) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  TempDir d;
  const std::string p = d.write("locked.bin", strBytes(vecBin(4096, 0x10))).string();
  ASSERT_EQ(chmod(p.c_str(), 0), 0);
  EXPECT_EQ(vIsValidHubFirmware(p), FW_CHECK_FAILED);
  EXPECT_FALSE(bIsFirmwareRomFile(p));
}

TEST(FirmwareCheck, KindsByExtensionAndConfigMark) {
  EXPECT_EQ(eFirmwareKindOf("/x/a.bin"), EFirmwareKind::Bin);
  EXPECT_EQ(eFirmwareKindOf("/x/a.BiN"), EFirmwareKind::Bin);
  EXPECT_EQ(eFirmwareKindOf("/x/a.rom"), EFirmwareKind::Rom);
  EXPECT_EQ(eFirmwareKindOf("/x/Config_a.ROM"), EFirmwareKind::ConfigRom);
  EXPECT_EQ(eFirmwareKindOf("/x/a.rom.txt"), EFirmwareKind::Unknown);
  EXPECT_EQ(eFirmwareKindOf("rom"), EFirmwareKind::Unknown);
  EXPECT_TRUE(bPathNamesConfigRom("C:\\Config_files\\fw.bin"));
  EXPECT_FALSE(bPathNamesConfigRom("/x/config_a.rom"));  // the mark is case-sensitive
}

TEST(ConfigRomRecognition, SizeSignatureAndSum) {
  TempDir d;
  EXPECT_TRUE(bIsFirmwareRomFile(d.write("a.rom", strBytes(vecType0Rom(0))).string()));
  EXPECT_TRUE(bIsFirmwareRomFile(d.write("b.bin", strBytes(vecType0Rom(40008))).string()));

  std::vector<uint8_t> v = vecType0Rom(0);
  v[255] = static_cast<uint8_t>(v[255] + 1);
  EXPECT_FALSE(bIsFirmwareRomFile(d.write("sum.rom", strBytes(v)).string()));
  // Bytes 0..3 are outside the sum.
  v = vecType0Rom(0);
  v[0] ^= 0x55;
  v[3] ^= 0x55;
  EXPECT_TRUE(bIsFirmwareRomFile(d.write("head.rom", strBytes(v)).string()));
  // A type-1 signature with a correct sum is not recognised.
  EXPECT_FALSE(bIsFirmwareRomFile(d.write("t1.rom", strBytes(vecType0Rom(0, 0x4B))).string()));

  LogCapture log;
  v = vecType0Rom(0);
  v.pop_back();
  EXPECT_FALSE(bIsFirmwareRomFile(d.write("255.rom", strBytes(v)).string()));
  EXPECT_TRUE(log.contains("File size is less than 256"));
  EXPECT_FALSE(bIsFirmwareRomFile(d.write("0.rom", "").string()));
  EXPECT_FALSE(bIsFirmwareRomFile((d.path() / "missing.rom").string()));
  EXPECT_TRUE(log.contains("fopen Failed: ["));
  std::filesystem::create_directories(d.path() / "dir.rom");
  EXPECT_FALSE(bIsFirmwareRomFile((d.path() / "dir.rom").string()));
}

TEST(ConfigRomRecognition, MemoryVariantNeverReadsPastTheBuffer) {
  std::vector<uint8_t> v = vecType0Rom(0);
  EXPECT_TRUE(bIsFirmwareRomData(v.data(), v.size()));
  for (size_t n : {size_t{0}, size_t{1}, size_t{254}, size_t{255}}) {
    std::vector<uint8_t> part(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_FALSE(bIsFirmwareRomData(part.data(), part.size())) << n;
  }
  EXPECT_FALSE(bIsFirmwareRomData(nullptr, 300));
}

// The seed files of the fuzz target are what their names say.
TEST(FirmwareCheck, SeedFilesInTheTree) {
  const std::string d = std::string(MPTOOL_TEST_DATA) + "/images/";
  EXPECT_EQ(vIsValidHubFirmware(d + "firmware_min_type3.bin"), 3);
  EXPECT_TRUE(bIsFirmwareRomFile(d + "config_table_type0.rom"));
  EXPECT_FALSE(bIsFirmwareRomFile(d + "config_rom_type1.rom"));
  ImagesFixture f;
  EXPECT_EQ(f.images.vReadConfigFromFile(d + "config_rom_type1.rom"), EReadConfigResult::Loaded);
  EXPECT_EQ(f.form.m_texts.m_strEditDeviceConfigurationSerialNumber, "SN0001");
  EXPECT_EQ(std::filesystem::file_size(f.pathImage()), 24u);
}
