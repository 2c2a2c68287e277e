// Hub firmware files: the three kinds the tool accepts, where their version and type sit,
// and the two checks made before a run and before a configuration ROM file is written.
// Nothing here shows anything to the operator; the callers decide.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr uint64_t FW_BIN_MAX_SIZE = 65272;  // largest ".bin" firmware file
constexpr uint64_t FW_ROM_SIZE = 65536;      // the one size of a ".rom" flash image

constexpr size_t FW_BIN_VERSION_OFFSET = 0x200;  // six version bytes of a ".bin"
constexpr size_t FW_BIN_TYPE_OFFSET = 0x203;
constexpr size_t FW_ROM_VERSION_OFFSET = 0x302;  // six version bytes of a ".rom"
constexpr size_t FW_ROM_TYPE_OFFSET = 0x305;
constexpr size_t FW_VERSION_LEN = 6;

// Results of vIsValidHubFirmware besides the types 0 to 3.
constexpr uint8_t FW_CHECK_BIN_TOO_LARGE = 0xF6;  // ".bin" above 65,272 bytes
constexpr uint8_t FW_CHECK_ROM_BAD_SIZE = 0xF2;   // ".rom" of another size than 65,536
constexpr uint8_t FW_CHECK_FAILED = 0xFF;         // anything else
constexpr uint8_t FW_MAX_HUB_TYPE = 3;            // types 0..3 are hub firmware

// A configuration ROM file holds at least its 256-byte table.
constexpr uint64_t CONFIG_ROM_MIN_SIZE = 256;
constexpr const char* CONFIG_ROM_MARK = "Config_";  // a path containing it is a config ROM file

enum class EFirmwareKind {
  Unknown,    // any other extension
  Bin,        // ".bin" firmware file
  Rom,        // ".rom" flash image
  ConfigRom,  // ".rom" whose path contains "Config_"
};

// The kind by the last four characters of the path (letter case ignored).
EFirmwareKind eFirmwareKindOf(const std::string& strPath);
const char* pszFirmwareKindName(EFirmwareKind eKind);  // "bin", "rom", "config-rom", "unknown"
bool bPathNamesConfigRom(const std::string& strPath);  // contains "Config_" anywhere

// Bits 4 to 6 of the type byte.
inline uint8_t ucMajorTypeOf(uint8_t ucTypeByte) {
  return static_cast<uint8_t>((ucTypeByte >> 4) & 7);
}
// Twelve upper-case hexadecimal digits of six version bytes, first byte first.
std::string strFirmwareVersionText(const uint8_t* pVersion6);

// What the firmware check saw; fw-info prints it, vIsValidHubFirmware returns ucResult.
struct FirmwareCheck {
  EFirmwareKind eKind = EFirmwareKind::Unknown;  // by extension: Bin, Rom or Unknown
  bool bOpened = false;
  int nErrno = 0;
  uint64_t ullSize = 0;
  bool bHasVersion = false;  // the file was long enough to hold version and type
  std::string strVersion;
  uint8_t ucTypeByte = 0;
  uint8_t ucMajorType = 0;
  uint8_t ucResult = FW_CHECK_FAILED;
};
FirmwareCheck stCheckHubFirmware(const std::string& strFilePath);

// 0..3: a valid hub firmware of that type; 0xF6, 0xF2 or 0xFF as above. A ".bin" too short
// to hold its version and type byte gives 0xFF.
uint8_t vIsValidHubFirmware(const std::string& strFilePath);

// The firmware type of a configuration ROM file chosen as firmware, which vIsValidHubFirmware
// does not read: the type its table's signature stands for, when that is one a loaded file
// may carry (1..3); FW_CHECK_FAILED otherwise (no table, unreadable file).
uint8_t ucConfigRomFirmwareType(const std::string& strFilePath);

// True for a configuration ROM file recognised by content: at least 256 bytes, byte 254 is
// 0xAA and byte 255 the sum of bytes 4 to 254.
bool bIsFirmwareRomFile(const std::string& strFilePath);
// The same test on bytes in memory (nLength may be anything, pData may be null when 0).
bool bIsFirmwareRomData(const uint8_t* pData, size_t nLength);
