// The mptool-util firmware and image commands, text and JSON.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "ImagesFixture.h"
#include "images/ImageCommands.h"

namespace {

const char* kIni =
    "[ini_version]\r\nversion=1005\r\n[usb_config]\r\nconfig_format=1\r\nvendor_id=2F7B\r\n"
    "product_id=55AA\r\nproduct_id_hub2=55AB\r\ncontainer_string=0123456789ABCDEF0123456789ABCDEF\r\n"
    "device_revision=0100\r\nmanufacturer_string=VLNT\r\nproduct_string=VLNT725x\r\n"
    "serial_number=00000000000E\r\nSN_EditType=1\r\nU1U2=1\r\nPMU=1\r\n";

std::vector<uint8_t> vecFw(size_t n, uint8_t ucType) {
  std::vector<uint8_t> v = vecPattern(n);
  const uint8_t ver[6] = {0x11, 0x22, 0x33, ucType, 0x55, 0x66};
  std::copy(ver, ver + 6, v.begin() + 0x200);
  return v;
}

}  // namespace

TEST(FwInfoCommand, JsonReportsEveryField) {
  TempDir d;
  const std::string p = d.write("20150B31_1C.bin", strBytes(vecFw(4000, 0x35))).string();
  CommandOutput r = stRunFwInfo({p}, true);
  EXPECT_EQ(r.nExitCode, 0);
  auto j = nlohmann::json::parse(r.strOut);
  EXPECT_EQ(j["kind"], "bin");
  EXPECT_EQ(j["size"], 4000);
  EXPECT_EQ(j["version"], "112233355566");
  EXPECT_EQ(j["type_byte"], 0x35);
  EXPECT_EQ(j["bMajorType"], 3);
  EXPECT_EQ(j["vIsValidHubFirmware"], 3);
  EXPECT_EQ(j["bIsFirmwareRomFile"], false);
  EXPECT_EQ(j["image_signature"]["chars"], "31");
  EXPECT_EQ(j["image_signature"]["without_crc"], 0x2D);
  EXPECT_EQ(j["image_signature"]["with_crc"], 0xD2);
}

TEST(FwInfoCommand, InvalidAndMissingFiles) {
  TempDir d;
  CommandOutput r = stRunFwInfo({d.write("123456_0F.bin", strBytes(vecFw(65273, 0x05))).string()}, true);
  EXPECT_EQ(r.nExitCode, 1);
  auto j = nlohmann::json::parse(r.strOut);
  EXPECT_EQ(j["vIsValidHubFirmware"], 0xF6);
  EXPECT_TRUE(j["version"].is_null());
  EXPECT_TRUE(j["image_signature"]["without_crc"].is_null());
  EXPECT_EQ(j["image_signature"]["with_crc"], 0xA5);

  r = stRunFwInfo({(d.path() / "none.rom").string()}, true);
  j = nlohmann::json::parse(r.strOut);
  EXPECT_TRUE(j["size"].is_null());
  EXPECT_EQ(j["vIsValidHubFirmware"], 0xFF);

  r = stRunFwInfo({(d.path() / "none.rom").string()}, false);
  EXPECT_NE(r.strOut.find("vIsValidHubFirmware: 255 (0xFF)"), std::string::npos);
  EXPECT_NE(r.strOut.find("bIsFirmwareRomFile: false"), std::string::npos);
  EXPECT_EQ(stRunFwInfo({}, false).nExitCode, 2);
  EXPECT_EQ(stRunFwInfo({"a", "b"}, true).nExitCode, 2);
}

TEST(ConfigTableCommand, TablesMatchTheBuilder) {
  TempDir d;
  const std::string ini = d.write("s.ini", kIni).string();
  const std::string fw = d.write("fw.bin", strBytes(vecFw(2000, 0x15))).string();
  CommandOutput r = stRunConfigTable({"--ini", ini, "--devices", "3", "--fw", fw}, true);
  ASSERT_EQ(r.nExitCode, 0) << r.strErr;
  auto j = nlohmann::json::parse(r.strOut);
  ASSERT_EQ(j["tables"].size(), 3u);
  EXPECT_EQ(j["firmware_type"], 1);
  const std::string t0 = j["tables"][0];
  const std::string t2 = j["tables"][2];
  ASSERT_EQ(t0.size(), 512u);
  EXPECT_EQ(t0.substr(0, 32), "FFFFFFFF303030303030303030303045");  // serial 00000000000E
  EXPECT_EQ(t2.substr(8, 24), "303030303030303030303130");          // 000000000010
  EXPECT_EQ(t0.substr(size_t{0x74} * 2, 32), "67452301AB89EFCD0123456789ABCDEF");
  EXPECT_EQ(t0.substr(size_t{0x8C} * 2, 2), "AF");
  EXPECT_EQ(t0.substr(size_t{0xFE} * 2, 4), "4B4E");
  EXPECT_EQ(t2.substr(size_t{0xFE} * 2, 4), "4B3A");

  // Without --fw the tables are type 0; the text form shows 16 rows per table.
  r = stRunConfigTable({"--devices", "1", "--ini", ini}, false);
  ASSERT_EQ(r.nExitCode, 0);
  EXPECT_NE(r.strOut.find("table 0:\n  00: FFFFFFFF30303030"), std::string::npos);
  EXPECT_NE(r.strOut.find("  F0: FFFFFFFFFFFFFFFFAB55FFFFFFFFAA"), std::string::npos);
}

TEST(ConfigTableCommand, RefusalsAndBadArguments) {
  TempDir d;
  const std::string ini = d.write("s.ini", kIni).string();
  const std::string fw = d.write("fw.bin", strBytes(vecFw(2000, 0x45))).string();
  CommandOutput r = stRunConfigTable({"--ini", ini, "--devices", "2", "--fw", fw}, true);
  EXPECT_EQ(r.nExitCode, -13);
  EXPECT_EQ(nlohmann::json::parse(r.strOut)["vIsValidHubFirmware"], 0xFF);
  EXPECT_EQ(stRunConfigTable({"--ini", (d.path() / "none.ini").string(), "--devices", "1"}, false).nExitCode,
            1);
  EXPECT_EQ(stRunConfigTable({"--ini", ini, "--devices", "0"}, false).nExitCode, 2);
  EXPECT_EQ(stRunConfigTable({"--ini", ini, "--devices", "17"}, false).nExitCode, 2);
  EXPECT_EQ(stRunConfigTable({"--ini", ini, "--devices", "2x"}, false).nExitCode, 2);
  EXPECT_EQ(stRunConfigTable({"--ini", ini}, false).nExitCode, 2);
  EXPECT_EQ(stRunConfigTable({"--ini", ini, "--devices"}, false).nExitCode, 2);
  EXPECT_EQ(stRunConfigTable({"--ini", ini, "--devices", "1", "--bogus", "1"}, true).nExitCode, 2);
}

TEST(MakeConfigRomCommand, WritesUnderTheProgramFolder) {
  TempDir d;
  const std::string ini = d.write("s.ini", kIni).string();
  const std::string fw = d.write("fw/20150B31_1C.bin", strBytes(vecFw(1000, 0x35))).string();
  USBUtilityOptions o;
  o.strAppPath = (d.path() / "home").string();
  o.strRunMarkerPath = (d.path() / "lock").string();
  CommandOutput r = stRunMakeConfigRom({"--ini", ini, fw}, false, o);
  ASSERT_EQ(r.nExitCode, 0) << r.strErr;
  const std::string strRom = o.strAppPath + "/VLNFW_Temp/Config_20150B31_1C.rom";
  EXPECT_EQ(r.strOut, strRom + "\n");
  const std::vector<uint8_t> rom = vecReadFile(strRom);
  ASSERT_EQ(rom.size(), 256u + 1000u + 8u);
  EXPECT_EQ(rom[0xFE], 0x2D);
  EXPECT_EQ(rom[0xFF], 0x30);  // the type-3 table of serial 00000000000E
  EXPECT_EQ(rom[256 + 2 + 1000], 0x2D);

  r = stRunMakeConfigRom({"--json", "--ini", ini, fw}, true, o);
  EXPECT_EQ(r.nExitCode, 2);  // "--json" is removed by main, never seen here
  r = stRunMakeConfigRom({"--ini", ini, fw}, true, o);
  auto j = nlohmann::json::parse(r.strOut);
  EXPECT_EQ(j["result"], "created");
  EXPECT_EQ(j["config_rom"], strRom);
  EXPECT_EQ(j["vIsValidHubFirmware"], 3);
}

TEST(MakeConfigRomCommand, Refusals) {
  TempDir d;
  const std::string ini = d.write("s.ini", kIni).string();
  USBUtilityOptions o;
  o.strAppPath = (d.path() / "home").string();
  o.strRunMarkerPath = (d.path() / "lock").string();
  const std::string bad = d.write("fw/ABCDEF10.bin", strBytes(vecFw(1000, 0x65))).string();
  CommandOutput r = stRunMakeConfigRom({"--ini", ini, bad}, true, o);
  EXPECT_EQ(r.nExitCode, -13);
  auto j = nlohmann::json::parse(r.strOut);
  EXPECT_EQ(j["result"], "invalid-firmware-type");
  EXPECT_TRUE(j["config_rom"].is_null());
  EXPECT_FALSE(std::filesystem::exists(o.strAppPath + "/VLNFW_Temp"));

  const std::string refused = d.write("fw/123456_0F.bin", strBytes(vecFw(1000, 0x15))).string();
  r = stRunMakeConfigRom({"--ini", ini, refused}, false, o);
  EXPECT_EQ(r.nExitCode, 1);
  EXPECT_TRUE(r.strOut.empty());
  EXPECT_EQ(stRunMakeConfigRom({"--ini", ini}, false, o).nExitCode, 2);
  EXPECT_EQ(stRunMakeConfigRom({ini, bad}, false, o).nExitCode, 2);
}
