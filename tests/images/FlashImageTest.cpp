// The flash image and configuration ROM files, byte by byte, and "Create Config".
#include <gtest/gtest.h>

#include "ImagesFixture.h"
#include "images/FlashImage.h"
#include "images/HubFirmware.h"
#include "support/LogCapture.h"

TEST(ImageSignature, TypeFromTheFileName) {
  ImageSignature s = stImageSignatureFromName("D:\\fw\\20150B31_1C.bin", false);
  EXPECT_EQ(s.strChars, "31");
  EXPECT_EQ(s.ucValue, 0x31);
  EXPECT_EQ(s.ucType, 3);
  EXPECT_EQ(s.ucSignature, 0x2D);
  EXPECT_EQ(stImageSignatureFromName("/fw/20150B31_1C.bin", true).ucSignature, 0xD2);

  s = stImageSignatureFromName("/fw/123456_0F.bin", false);
  EXPECT_EQ(s.strChars, "0F");
  EXPECT_EQ(s.ucType, 0);
  EXPECT_TRUE(s.bRefused);
  EXPECT_EQ(s.ucSignature, 0);
  EXPECT_EQ(stImageSignatureFromName("/fw/123456_0F.bin", true).ucSignature, 0xA5);

  const struct {
    const char* name;
    uint8_t off, on;
  } kCases[] = {
      {"ABCDEF10.bin", 0x4B, 0xB4},
      {"ABCDEF2a.rom", 0x3C, 0xC3},
      {"A_B_C_D_E_F_3_0_x.bin", 0x2D, 0xD2},
      {"ABCDEF4F.bin", 0, 0},
      {"ABCDEF70.bin", 0, 0},
      {"ABCDEFB0.bin", 0x2D, 0xD2},  // bit 7 dropped
      {"ABCDEF1G.bin", 0, 0xA5},     // "1G" reads 1: type 0
      {"ABCDEFZ1.bin", 0, 0xA5},     // no digit: 0
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(stImageSignatureFromName(c.name, false).ucSignature, c.off) << c.name;
    EXPECT_EQ(stImageSignatureFromName(c.name, true).ucSignature, c.on) << c.name;
  }
}

TEST(ImageSignature, NamesTooShortAndWithoutExtension) {
  for (const char* n : {"ABC.bin", "ABC_1234.bin", "A_B_C_D_E_F_G.bin", "", "/fw/.bin"}) {
    const ImageSignature s = stImageSignatureFromName(n, true);
    EXPECT_TRUE(s.bNameTooShort) << n;
    EXPECT_TRUE(s.bRefused) << n;
  }
  EXPECT_EQ(stImageSignatureFromName("ABC_1234.bin", true).strChars, "4");
  // Without an extension the whole name counts; a dot in a folder name does not cut it.
  EXPECT_EQ(stImageSignatureFromName("/fw.d/ABCDEF30", false).ucSignature, 0x2D);
  EXPECT_EQ(strFileBaseName("/a.b/c"), "c");
  EXPECT_EQ(strFileBaseName("D:\\fw\\ABC_1234.bin"), "ABC_1234");
  EXPECT_EQ(strFileBaseName("x.tar.gz"), "x.tar");
}

TEST(ImagePaths, UnderTheProgramFolder) {
  EXPECT_EQ(strTempBinDataFilePath("/opt/mp"), "/opt/mp/VLNFW_Temp/TempBinData.bin");
  EXPECT_EQ(strConfigRomFilePath("/opt/mp", "D:\\fw\\ABC_1234.bin"),
            "/opt/mp/VLNFW_Temp/Config_ABC_1234.rom");
  EXPECT_EQ(strConfigRomFilePath("/opt/mp", "/fw/ABC.bin"), "/opt/mp/VLNFW_Temp/Config_ABC.rom");
  EXPECT_EQ(strBrowseListFilePath("/opt/mp"), "/opt/mp/BrowsedBINPath.txt");
}

TEST(FlashImage, FortyThousandBytesWithoutCrc) {
  ImagesFixture f;
  const std::vector<uint8_t> fw = vecPattern(40000);
  const std::string p = f.strWrite("fw/20150B31_1C.bin", fw);
  ASSERT_TRUE(f.images.vCreateTempBinDataFile(0, p));
  const std::vector<uint8_t> img = vecReadFile(f.pathImage());
  ASSERT_EQ(img.size(), 40008u);
  EXPECT_EQ(img[0], 0x40);
  EXPECT_EQ(img[1], 0x9C);
  EXPECT_TRUE(std::equal(fw.begin(), fw.end(), img.begin() + 2));
  EXPECT_EQ(img[40002], 0x2D);
  uint32_t sum = 0;
  for (uint8_t b : fw) sum += b;
  EXPECT_EQ(img[40003], sum & 0xFF);
  for (size_t i = 40004; i < 40008; ++i) EXPECT_EQ(img[i], 0xFF) << i;
  EXPECT_EQ(f.images.eLastImageFailure(), EImageFailure::Ok);
}

TEST(FlashImage, CrcOfAKnownText) {
  ImagesFixture f;
  const std::string p = f.dir.write("fw/20150B31_1C.bin", "123456789").string();
  LogCapture log;
  ASSERT_TRUE(f.images.vCreateTempBinDataFile(1, p));
  // "123456789": sum 0x1DD, standard CRC-32 CBF43926.
  const std::vector<uint8_t> kExpected = {0x09, 0x00, '1',  '2',  '3',  '4',  '5',  '6', '7',
                                          '8',  '9',  0xD2, 0xDD, 0x26, 0x39, 0xF4, 0xCB};
  EXPECT_EQ(vecReadFile(f.pathImage()), kExpected);
  EXPECT_TRUE(log.contains("  RdBytes[9]bytes, [0]KB"));
  EXPECT_TRUE(log.contains("  [cbf43926]"));
}

TEST(FlashImage, LengthFieldAtTheSizeLimits) {
  ImagesFixture f;
  std::string p = f.strWrite("fw/ABCDEF10.rom", vecPattern(65536));
  ASSERT_TRUE(f.images.vCreateTempBinDataFile(0, p));
  std::vector<uint8_t> img = vecReadFile(f.pathImage());
  ASSERT_EQ(img.size(), 65544u);
  EXPECT_EQ(img[0], 0x00);
  EXPECT_EQ(img[1], 0x00);
  EXPECT_EQ(img[65538], 0x4B);

  p = f.strWrite("fw/ABCDEF10.bin", vecPattern(65535));
  ASSERT_TRUE(f.images.vCreateTempBinDataFile(0, p));
  img = vecReadFile(f.pathImage());
  EXPECT_EQ(img[0], 0xFF);
  EXPECT_EQ(img[1], 0xFF);

  p = f.strWrite("fw/ABCDEF10.bin", vecPattern(1));
  ASSERT_TRUE(f.images.vCreateTempBinDataFile(0, p));
  EXPECT_EQ(vecReadFile(f.pathImage()).size(), 9u);
}

TEST(FlashImage, FailuresLeaveAnEmptyImageAndSayWhy) {
  ImagesFixture f;
  // A good image first, so that each failure is seen to remove it.
  const std::string good = f.strWrite("fw/ABCDEF10.bin", vecPattern(100));
  auto expectFailure = [&](uint8_t ucCrc, const std::string& p, EImageFailure e) {
    ASSERT_TRUE(f.images.vCreateTempBinDataFile(0, good));
    EXPECT_FALSE(f.images.vCreateTempBinDataFile(ucCrc, p)) << p;
    EXPECT_EQ(f.images.eLastImageFailure(), e) << p;
    ASSERT_TRUE(std::filesystem::exists(f.pathImage()));
    EXPECT_EQ(std::filesystem::file_size(f.pathImage()), 0u) << p;
  };
  LogCapture log;
  expectFailure(0, f.strWrite("fw/123456_0F.bin", vecPattern(100)), EImageFailure::RefusedType);
  EXPECT_TRUE(log.contains("strGetFWFileCSignature[0F] ERROR"));
  expectFailure(1, f.strWrite("fw/ABC.bin", vecPattern(100)), EImageFailure::RefusedType);
  expectFailure(1, f.strWrite("fw/ABCDEF40.bin", vecPattern(100)), EImageFailure::RefusedType);
  expectFailure(0, f.strWrite("fw/ABCDEF10x.bin", vecPattern(65537)), EImageFailure::FirmwareSize);
  expectFailure(0, f.strWrite("fw/ABCDEF10y.bin", {}), EImageFailure::FirmwareSize);
  expectFailure(0, (f.dir.path() / "fw/missing10.bin").string(), EImageFailure::FirmwareRead);
  std::filesystem::create_directories(f.dir.path() / "fw/ABCDEF10.dir");
  expectFailure(0, (f.dir.path() / "fw/ABCDEF10.dir").string(), EImageFailure::FirmwareRead);
}

TEST(FlashImage, TheImageFileItselfCanServeAsFirmware) {
  ImagesFixture f;
  ASSERT_TRUE(f.images.vCreateTempBinDataFile(0, f.strWrite("fw/ABCDEF10.bin", vecPattern(50))));
  const std::vector<uint8_t> first = vecReadFile(f.pathImage());
  // Its name gives no type, so it is refused, but only after it was read whole.
  EXPECT_FALSE(f.images.vCreateTempBinDataFile(0, f.pathImage().string()));
  EXPECT_EQ(f.images.eLastImageFailure(), EImageFailure::RefusedType);
  EXPECT_EQ(first.size(), 58u);
}

TEST(ConfigRomFile, TableOfTheFirstDeviceThenTheImage) {
  ImagesFixture f;
  f.devList.DevNums = 2;
  ASSERT_EQ(f.images.vSetHubConfigInfo(1), ESetConfigResult::Built);
  const std::vector<uint8_t> fw = vecPattern(3000);
  const std::string p = f.strWrite("fw/20150B31_1C.bin", fw);
  ASSERT_TRUE(f.images.vCreateConfigRomFile(0, p));
  const std::vector<uint8_t> rom =
      vecReadFile(std::filesystem::path(f.strApp()) / "VLNFW_Temp/Config_20150B31_1C.rom");
  ASSERT_EQ(rom.size(), 256u + 3000u + 8u);
  EXPECT_TRUE(std::equal(rom.begin(), rom.begin() + 256, f.devList.dev[0].ucConfigBlock.begin()));
  EXPECT_EQ(std::vector<uint8_t>(rom.begin() + 256, rom.end()), vecReadFile(f.pathImage()));
  EXPECT_EQ(rom[256], 0xB8);  // 3000 = 0x0BB8
  EXPECT_EQ(rom[257], 0x0B);
  // Type-1 table: not taken for a type-0 configuration ROM file, but loadable back.
  const std::string strRom = f.images.strConfigRomFilePath(p);
  EXPECT_FALSE(bIsFirmwareRomFile(strRom));
  EXPECT_EQ(f.images.vReadConfigFromFile(strRom), EReadConfigResult::Loaded);
  EXPECT_EQ(vecReadFile(f.pathImage()), std::vector<uint8_t>(rom.begin() + 256, rom.end()));
}

TEST(ConfigRomFile, RefusedImageLeavesNoRomFile) {
  ImagesFixture f;
  ASSERT_EQ(f.images.vSetHubConfigInfo(0), ESetConfigResult::Built);
  const std::string p = f.strWrite("fw/123456_0F.bin", vecPattern(100));
  LogCapture log;
  EXPECT_FALSE(f.images.vCreateConfigRomFile(0, p));
  EXPECT_EQ(f.images.eLastImageFailure(), EImageFailure::RefusedType);
  EXPECT_TRUE(log.contains("vCreateTempBinDataFile Fail , strTempBinDataFilePath["));
  EXPECT_FALSE(std::filesystem::exists(f.images.strConfigRomFilePath(p)));
}

TEST(CreateConfig, WritesTheRomAndTellsTheOperator) {
  ImagesFixture f;
  std::vector<uint8_t> fw = vecPattern(65272);
  fw[0x203] = 0x25;  // type 2
  const std::string p = f.strWrite("fw/ABCDEF20.bin", fw);
  ASSERT_EQ(f.images.OnBnClickedCreateConfig(p), ECreateConfigResult::Created);
  EXPECT_EQ(f.utility.m_strFWFilePath, p);
  const std::string strRom = f.strApp() + "/VLNFW_Temp/Config_ABCDEF20.rom";
  ASSERT_EQ(f.view.m_vecTexts.size(), 1u);
  EXPECT_EQ(f.view.m_vecTexts[0], "The Config Rom File Generation Successful,  " + strRom + " ");
  EXPECT_NE(f.view.m_vecFlags[0] & MB_ICONINFORMATION, 0u);
  const std::vector<uint8_t> rom = vecReadFile(strRom);
  ASSERT_EQ(rom.size(), 65536u);  // a full-size firmware makes a ROM the size of a flash image
  EXPECT_EQ(rom[0xFE], 0x3C);
  // Create Config never adds a CRC.
  for (size_t i = rom.size() - 4; i < rom.size(); ++i) EXPECT_EQ(rom[i], 0xFF);
  // Such a ROM passes the firmware check as a ".rom" of the same type.
  EXPECT_EQ(vIsValidHubFirmware(strRom), 2);
}

TEST(CreateConfig, AlreadyAConfigRomFileWritesNothing) {
  ImagesFixture f;
  ASSERT_EQ(f.images.vSetHubConfigInfo(0), ESetConfigResult::Built);
  std::vector<uint8_t> file(f.devList.dev[0].ucConfigBlock.begin(), f.devList.dev[0].ucConfigBlock.end());
  std::vector<uint8_t> more = vecPattern(500);
  file.insert(file.end(), more.begin(), more.end());
  const std::string p = f.strWrite("fw/ABCDEF10.bin", file);
  EXPECT_EQ(f.images.OnBnClickedCreateConfig(p), ECreateConfigResult::AlreadyConfigRom);
  ASSERT_EQ(f.view.m_vecTexts.size(), 1u);
  EXPECT_EQ(f.view.m_vecTexts[0], "Error! " + p + " is already a Config Rom File");
  EXPECT_NE(f.view.m_vecFlags[0] & MB_ICONERROR, 0u);
  EXPECT_FALSE(std::filesystem::exists(f.strApp() + "/VLNFW_Temp"));
}

TEST(CreateConfig, InvalidTypeIsRefusedWithoutWriting) {
  ImagesFixture f;
  f.devList.dev[0].ucConfigBlock.fill(0x42);
  std::vector<uint8_t> fw = vecPattern(1000);
  fw[0x203] = 0x40;
  const std::string p = f.strWrite("fw/ABCDEF10.bin", fw);
  EXPECT_EQ(f.images.OnBnClickedCreateConfig(p), ECreateConfigResult::InvalidFirmwareType);
  EXPECT_EQ(f.devList.dev[0].ucConfigBlock[0], 0x42);
  EXPECT_FALSE(std::filesystem::exists(f.strApp() + "/VLNFW_Temp"));
  ASSERT_EQ(f.view.m_vecTexts.size(), 1u);
  EXPECT_NE(f.view.m_vecTexts[0].find("Invalid Config Type"), std::string::npos);
}

TEST(CreateConfig, RefusedFileNameTypeFailsSilently) {
  ImagesFixture f;
  std::vector<uint8_t> fw = vecPattern(1000);
  fw[0x203] = 0x10;
  const std::string p = f.strWrite("fw/123456_0F.bin", fw);  // content type 1, name type 0
  EXPECT_EQ(f.images.OnBnClickedCreateConfig(p), ECreateConfigResult::Failed);
  EXPECT_TRUE(f.view.m_vecTexts.empty());
  EXPECT_FALSE(std::filesystem::exists(f.images.strConfigRomFilePath(p)));
}

TEST(BrowseListFile, ReplacedByExactlyTheText) {
  ImagesFixture f;
  f.dir.write("app/BrowsedBINPath.txt", std::string(1000, 'x'));
  ASSERT_TRUE(f.images.vSaveBINBrowseList("/a.bin\r\n/b.bin\r\n"));
  EXPECT_EQ(f.dir.read("app/BrowsedBINPath.txt"), "/a.bin\r\n/b.bin\r\n");
  ASSERT_TRUE(f.images.vSaveBINBrowseList(""));
  EXPECT_EQ(f.dir.read("app/BrowsedBINPath.txt"), "");
}

// What a hub's firmware area takes: firmware lengths 0x5000 to 0xFEF8 in the length field,
// the image exactly that firmware plus its 8 bytes, rounded up to 32 bytes within the area.
TEST(FlashImage, HubTakesOnlyImagesInsideTheFirmwareWindow) {
  auto why = [](size_t nFirmware, int nSizeDelta = 0) {
    std::vector<uint8_t> img = vecBuildFlashImage(vecPattern(nFirmware), 0x4B, false, 0);
    img.resize(static_cast<size_t>(static_cast<long>(img.size()) + nSizeDelta), 0xFF);
    std::string strWhy = "unset";
    const bool bOk = bIsHubFlashImage(img.data(), img.size(), strWhy);
    EXPECT_EQ(bOk, strWhy.empty()) << nFirmware;
    return strWhy;
  };
  EXPECT_EQ(why(0x5000), "");
  EXPECT_EQ(why(0xFEF8), "");  // its image fills the area exactly
  EXPECT_EQ(why(0x4FFF), "a firmware of 20479 bytes is outside the 20480 to 65272 bytes the hub takes");
  EXPECT_EQ(why(0x300), "a firmware of 768 bytes is outside the 20480 to 65272 bytes the hub takes");
  EXPECT_EQ(why(0xFEF9), "the image of 65281 bytes is larger than the hub's firmware area of 65280 bytes");
  EXPECT_EQ(why(65536), "the image of 65544 bytes is larger than the hub's firmware area of 65280 bytes");
  EXPECT_EQ(why(0x6000, 1), "the image holds 24585 bytes, but its length field gives 24584");
  EXPECT_EQ(why(0x6000, -1), "the image holds 24583 bytes, but its length field gives 24584");
  std::string strWhy;
  EXPECT_FALSE(bIsHubFlashImage(nullptr, 0, strWhy));
  EXPECT_FALSE(strWhy.empty());
  // The write's own rule: whole 32-byte requests within the area.
  EXPECT_TRUE(bImageFitsFirmwareArea(0xFF00));
  EXPECT_TRUE(bImageFitsFirmwareArea(0xFEE1));
  EXPECT_FALSE(bImageFitsFirmwareArea(0xFF01));
  EXPECT_TRUE(bFirmwareLengthInWindow(0x5000) && bFirmwareLengthInWindow(0xFEF8));
  EXPECT_FALSE(bFirmwareLengthInWindow(0x4FFF) || bFirmwareLengthInWindow(0xFEF9));
}

TEST(FlashImage, ImageFileCheckReadsTheFileAndRefusesWhatItCannotRead) {
  ImagesFixture f;
  const std::vector<uint8_t> good = vecBuildFlashImage(vecPattern(0x5800), 0x2D, false, 0);
  std::string strWhy;
  EXPECT_TRUE(bIsHubFlashImageFile(f.strWrite("good.img", good), strWhy)) << strWhy;
  EXPECT_FALSE(bIsHubFlashImageFile(f.strWrite("big.img", std::vector<uint8_t>(200000, 0)), strWhy));
  EXPECT_EQ(strWhy, "the image of 200000 bytes is larger than the hub's firmware area of 65280 bytes");
  EXPECT_FALSE(bIsHubFlashImageFile(f.strWrite("empty.img", {}), strWhy));
  EXPECT_FALSE(bIsHubFlashImageFile((f.dir.path() / "none.img").string(), strWhy));
  EXPECT_NE(strWhy.find("cannot be read"), std::string::npos);
}
