// Loading a configuration ROM file back: the table, the image, the window and the settings;
// and every refusal leaving all of them as they were.
#include <gtest/gtest.h>

#include "ImagesFixture.h"
#include "images/ConfigTable.h"
#include "images/HubFirmware.h"
#include "support/LogCapture.h"

namespace {

// A type-1 configuration table with identity values of its own, and an image behind it.
std::vector<uint8_t> vecConfigRom(uint8_t ucSig, size_t nImage,
                                  const std::string& strManufacturer = "ACME Hubs",
                                  const std::string& strSerial = "SN0000000123") {
  ConfigTableValues v;
  v.strSerialNumber = strSerial;
  v.strManufacturer = strManufacturer;
  v.strProduct = "Quad Hub";
  v.wVID = 0x1D6B;
  v.wPID = 0xABCD;
  v.wPIDU2 = 0xABCE;
  v.wRevision = 0x0A1F;
  v.ucFlags = 0xF0;
  v.ucSignature = ucSig;
  ConfigTable t = stBuildConfigTable(v);
  std::vector<uint8_t> rom(t.begin(), t.end());
  std::vector<uint8_t> img = vecPattern(nImage, 9);
  rom.insert(rom.end(), img.begin(), img.end());
  return rom;
}

// What a refusal must leave unchanged.
struct Snapshot {
  ConfigFormTexts texts;
  INISettings ini;
  ConfigTable table;
  bool bImage;
  bool operator==(const Snapshot&) const = default;
};
Snapshot stSnap(ImagesFixture& f) {
  return {f.form.m_texts, f.ini, f.devList.dev[0].ucConfigBlock, std::filesystem::exists(f.pathImage())};
}

}  // namespace

TEST(ConfigRomLoad, ValidFileFillsTableImageWindowAndSettings) {
  ImagesFixture f;
  const std::vector<uint8_t> rom = vecConfigRom(0x4B, 1000);
  const std::string p = f.strWrite("Config_fw.rom", rom);
  f.form.m_texts.m_strEditDeviceConfigurationContainerID = "keep";
  ASSERT_EQ(f.images.vReadConfigFromFile(p), EReadConfigResult::Loaded);

  EXPECT_TRUE(std::equal(rom.begin(), rom.begin() + 256, f.devList.dev[0].ucConfigBlock.begin()));
  EXPECT_EQ(vecReadFile(f.pathImage()), std::vector<uint8_t>(rom.begin() + 256, rom.end()));
  const ConfigFormTexts& t = f.form.m_texts;
  EXPECT_EQ(t.m_strEditDeviceConfigurationVendorID, "1d6b");  // four lower-case digits
  EXPECT_EQ(t.m_strEditDeviceConfigurationProductID, "abcd");
  EXPECT_EQ(t.m_strEditDeviceConfigurationDeviceRevision, "0a1f");
  EXPECT_EQ(t.m_strEditDeviceConfigurationManufacturerString, "ACME Hubs");
  EXPECT_EQ(t.m_strEditDeviceConfigurationProductString, "Quad Hub");
  EXPECT_EQ(t.m_strEditDeviceConfigurationSerialNumber, "SN0000000123");
  EXPECT_EQ(t.m_strEditDeviceConfigurationContainerID, "keep");  // not read back
  EXPECT_EQ(t.m_strEditDeviceConfigurationProductIDU2, "55AB");
  EXPECT_EQ(f.ini.ucVendor_id, "1d6b");
  EXPECT_EQ(f.ini.ucProduct_id, "abcd");
  EXPECT_EQ(f.ini.ucDevice_revision, "0a1f");
  EXPECT_EQ(f.ini.ucManufacturer_string, "ACME Hubs");
  EXPECT_EQ(f.ini.ucProduct_string, "Quad Hub");
  EXPECT_EQ(f.ini.ucSerial_number, "SN0000000123");
  EXPECT_TRUE(f.view.m_vecTexts.empty());
}

TEST(ConfigRomLoad, FullLengthManufacturerIsReadBackWhole) {
  ImagesFixture f;
  const std::string m44(44, 'Q');
  ASSERT_EQ(f.images.vReadConfigFromFile(f.strWrite("Config_a.rom", vecConfigRom(0x3C, 8, m44))),
            EReadConfigResult::Loaded);
  EXPECT_EQ(f.form.m_texts.m_strEditDeviceConfigurationManufacturerString, m44);
  EXPECT_EQ(f.devList.dev[0].ucConfigBlock[0x18 + 43], 'Q');
  EXPECT_EQ(f.form.m_texts.m_strEditDeviceConfigurationProductString, "Quad Hub");  // not run into
}

TEST(ConfigRomLoad, TypeZeroSignatureAndOthersAreRefused) {
  for (uint8_t ucSig : {uint8_t{0xAA}, uint8_t{0xFF}, uint8_t{0x00}, uint8_t{0xA5}}) {
    ImagesFixture f;
    const Snapshot before = stSnap(f);
    LogCapture log;
    EXPECT_EQ(f.images.vReadConfigFromFile(f.strWrite("Config_a.rom", vecConfigRom(ucSig, 100))),
              EReadConfigResult::InvalidSignature);
    ASSERT_EQ(f.view.m_vecTexts.size(), 1u);
    EXPECT_EQ(f.view.m_vecTexts[0], "File INVALID : ConfigSig !");
    EXPECT_NE(f.view.m_vecFlags[0] & MB_ICONWARNING, 0u);
    EXPECT_TRUE(log.contains("INVALID, dwErrorCode"));
    EXPECT_TRUE(before == stSnap(f));
  }
  EXPECT_EQ(nCommandLineExitCode(EReadConfigResult::InvalidSignature), -10);
  EXPECT_EQ(nCommandLineExitCode(EReadConfigResult::InvalidChecksum), 0);
}

TEST(ConfigRomLoad, CommandLineModeWritesTheWarningToProgramMsg) {
  ImagesFixture f;
  CurrentDir cwd(f.dir.path());
  f.images.m_bShowGUI = false;
  EXPECT_EQ(f.images.vReadConfigFromFile(f.strWrite("Config_a.rom", vecConfigRom(0xAA, 100))),
            EReadConfigResult::InvalidSignature);
  EXPECT_TRUE(f.view.m_vecTexts.empty());
  EXPECT_EQ(f.dir.read("ProgramMSG.txt"), "File INVALID : ConfigSig !\r\n");
}

TEST(ConfigRomLoad, WrongChecksumRefusedUnlessCommandLineSerial) {
  ImagesFixture f;
  std::vector<uint8_t> rom = vecConfigRom(0x2D, 64);
  rom[255] = static_cast<uint8_t>(rom[255] ^ 0x01);
  const std::string p = f.strWrite("Config_a.rom", rom);
  const Snapshot before = stSnap(f);
  LogCapture log;
  EXPECT_EQ(f.images.vReadConfigFromFile(p), EReadConfigResult::InvalidChecksum);
  ASSERT_EQ(f.view.m_vecTexts.size(), 1u);
  EXPECT_EQ(f.view.m_vecTexts[0], "File INVALID : CheckSum !");
  EXPECT_TRUE(log.contains("ucCheckSum : "));
  EXPECT_TRUE(before == stSnap(f));

  // A serial number from the command line replaces the file's whole field; the table is
  // then summed again so that the hub accepts it.
  f.images.m_strCmdLineSN = "XY7";
  ASSERT_EQ(f.images.vReadConfigFromFile(p), EReadConfigResult::Loaded);
  const ConfigTable& t = f.devList.dev[0].ucConfigBlock;
  EXPECT_EQ(t[4], 'X');
  EXPECT_EQ(t[6], '7');
  for (int i = 7; i < 24; ++i) EXPECT_EQ(t[i], 0xFF) << i;
  EXPECT_EQ(t[255], ucConfigTableChecksum(t));
  EXPECT_EQ(f.form.m_texts.m_strEditDeviceConfigurationSerialNumber, "XY7");
  EXPECT_EQ(f.ini.ucSerial_number, "XY7");
}

TEST(ConfigRomLoad, ShortEmptyMissingAndDirectoryFiles) {
  ImagesFixture f;
  std::vector<uint8_t> rom = vecConfigRom(0x4B, 0);
  // Exactly the table: loaded, with an empty image.
  ASSERT_EQ(f.images.vReadConfigFromFile(f.strWrite("Config_256.rom", rom)), EReadConfigResult::Loaded);
  EXPECT_EQ(std::filesystem::file_size(f.pathImage()), 0u);

  ImagesFixture g;
  const Snapshot before = stSnap(g);
  rom.pop_back();
  EXPECT_EQ(g.images.vReadConfigFromFile(g.strWrite("Config_255.rom", rom)),
            EReadConfigResult::InvalidSignature);
  EXPECT_EQ(g.images.vReadConfigFromFile(g.strWrite("Config_0.rom", {})),
            EReadConfigResult::InvalidSignature);
  EXPECT_EQ(g.view.m_vecTexts,
            (std::vector<std::string>{"File INVALID : ConfigSig !", "File INVALID : ConfigSig !"}));
  LogCapture log;
  EXPECT_EQ(g.images.vReadConfigFromFile((g.dir.path() / "Config_missing.rom").string()),
            EReadConfigResult::Failed);
  std::filesystem::create_directories(g.dir.path() / "Config_dir.rom");
  EXPECT_EQ(g.images.vReadConfigFromFile((g.dir.path() / "Config_dir.rom").string()),
            EReadConfigResult::Failed);
  EXPECT_TRUE(log.contains("vReadConfigFromFile: strFilePath : "));
  EXPECT_TRUE(before == stSnap(g));
}

TEST(ConfigRomLoad, OversizedFileIsRefused) {
  ImagesFixture f;
  const Snapshot before = stSnap(f);
  EXPECT_EQ(f.images.vReadConfigFromFile(f.strWrite("Config_big.rom", vecConfigRom(0x4B, 65536 + 9))),
            EReadConfigResult::Failed);
  EXPECT_TRUE(before == stSnap(f));
  EXPECT_EQ(f.images.vReadConfigFromFile(f.strWrite("Config_max.rom", vecConfigRom(0x4B, 65536 + 8))),
            EReadConfigResult::Loaded);
}

TEST(ConfigRomLoad, ImageFolderThatCannotBeMadeChangesNothing) {
  ImagesFixture f;
  // A file where the image folder belongs.
  f.dir.write("app/VLNFW_Temp", "not a folder");
  const Snapshot before = stSnap(f);
  EXPECT_EQ(f.images.vReadConfigFromFile(f.strWrite("Config_a.rom", vecConfigRom(0x4B, 10))),
            EReadConfigResult::Failed);
  EXPECT_EQ(before.texts, f.form.m_texts);
  EXPECT_EQ(before.table, f.devList.dev[0].ucConfigBlock);
  EXPECT_TRUE(before.ini == f.ini);
}

// A run with a configuration ROM file: every device gets the file's whole table (its
// container id, PID_U2 and flags included), each with its own serial number counted like
// the window's, the command line's serial number replacing the file's; the type comes from
// the table's signature.
TEST(ConfigRomLoad, RunTablesComeFromTheFileWithTheirOwnSerialNumbers) {
  ImagesFixture f;
  const std::vector<uint8_t> rom = vecConfigRom(0x3C, 0x5008, "ACME Hubs", "0000000001F0");
  const std::string p = f.strWrite("Config_fw.rom", rom);
  EXPECT_EQ(ucConfigRomFirmwareType(p), 2);
  f.devList.DevNums = 3;
  f.ini.ucSN_EditType = 1;  // hexadecimal
  ASSERT_EQ(f.images.vReadConfigFromFile(p), EReadConfigResult::Loaded);
  for (int i = 0; i < 16; ++i) f.devList.dev[i].ucConfigBlock.fill(0x11);
  ASSERT_TRUE(f.images.vSetHubConfigFromRom());
  const char* kSerials[] = {"0000000001F0", "0000000001F1", "0000000001F2"};
  for (int i = 0; i < 3; ++i) {
    const ConfigTable& t = f.devList.dev[i].ucConfigBlock;
    EXPECT_EQ(strGetConfigText(t, CFG_OFS_SERIAL, CFG_LEN_SERIAL), kSerials[i]) << i;
    EXPECT_EQ(t[CFG_OFS_CHECKSUM], ucConfigTableChecksum(t)) << i;
    EXPECT_TRUE(std::equal(rom.begin() + 0x18, rom.begin() + 0xFF, t.begin() + 0x18))
        << i;  // all but the serial
  }
  EXPECT_TRUE(std::equal(rom.begin(), rom.begin() + 256, f.devList.dev[0].ucConfigBlock.begin()));
  EXPECT_EQ(f.devList.dev[3].ucConfigBlock[0], 0x11);  // only the found devices
  EXPECT_EQ(f.form.m_texts.m_strEditDeviceConfigurationProductIDU2,
            "abce");  // what the USB 2.0 halves report

  f.images.m_strCmdLineSN = "00000000ABC0";
  ASSERT_EQ(f.images.vReadConfigFromFile(p), EReadConfigResult::Loaded);
  ASSERT_TRUE(f.images.vSetHubConfigFromRom());
  EXPECT_EQ(strGetConfigText(f.devList.dev[0].ucConfigBlock, CFG_OFS_SERIAL, CFG_LEN_SERIAL), "00000000ABC0");
  EXPECT_EQ(strGetConfigText(f.devList.dev[2].ucConfigBlock, CFG_OFS_SERIAL, CFG_LEN_SERIAL), "00000000ABC2");
}

// Only the file loaded last gives tables: none before a load, none after a refused one
// (even when an earlier load succeeded), and nothing changes then.
TEST(ConfigRomLoad, NoTablesWithoutASuccessfulLastLoad) {
  ImagesFixture f;
  CurrentDir cwd(f.dir.path());
  EXPECT_FALSE(f.images.vSetHubConfigFromRom());
  ASSERT_EQ(f.images.vReadConfigFromFile(f.strWrite("Config_a.rom", vecConfigRom(0x4B, 100))),
            EReadConfigResult::Loaded);
  EXPECT_EQ(f.images.vReadConfigFromFile(f.strWrite("Config_b.rom", vecConfigRom(0xAA, 100))),
            EReadConfigResult::InvalidSignature);
  f.devList.dev[0].ucConfigBlock.fill(0x22);
  EXPECT_FALSE(f.images.vSetHubConfigFromRom());
  EXPECT_EQ(f.devList.dev[0].ucConfigBlock[0x10], 0x22);
  EXPECT_EQ(ucConfigRomFirmwareType(f.strWrite("Config_b.rom", vecConfigRom(0xAA, 100))), 0xFF);
  EXPECT_EQ(ucConfigRomFirmwareType(f.strWrite("Config_c.rom", std::vector<uint8_t>(255, 0x4B))), 0xFF);
  EXPECT_EQ(ucConfigRomFirmwareType((f.dir.path() / "none.rom").string()), 0xFF);
}
