// The 256-byte configuration table a hub keeps in its flash: identity, strings, container id,
// option flags, a signature by firmware type and a checksum. Pure layout functions; the
// table builder that reads the window and fills every device is CHubImages.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "host/DeviceList.h"
#include "settings/INISettings.h"

using ConfigTable = std::array<uint8_t, CONFIG_BIN_SIZE>;

// Field offsets and sizes. Multi-byte numbers are little-endian; texts carry no terminator
// and their unused bytes are 0xFF, as is every byte no field covers.
constexpr size_t CFG_OFS_SERIAL = 0x04;
constexpr size_t CFG_LEN_SERIAL = 20;
constexpr size_t CFG_OFS_MANUFACTURER = 0x18;
constexpr size_t CFG_LEN_MANUFACTURER = 44;
constexpr size_t CFG_OFS_PRODUCT = 0x44;
constexpr size_t CFG_LEN_PRODUCT = 48;
constexpr size_t CFG_OFS_CONTAINER = 0x74;
constexpr size_t CFG_LEN_CONTAINER = 16;
constexpr size_t CFG_OFS_VID = 0x84;
constexpr size_t CFG_OFS_PID = 0x86;
constexpr size_t CFG_OFS_REVISION = 0x88;
constexpr size_t CFG_OFS_RESERVED16 = 0x8A;
constexpr size_t CFG_OFS_FLAGS = 0x8C;
constexpr size_t CFG_OFS_PID_U2 = 0xF8;
constexpr size_t CFG_OFS_SIGNATURE = 0xFE;  // ucConfigSig
constexpr size_t CFG_OFS_CHECKSUM = 0xFF;   // ucCheckSum
constexpr size_t CFG_SUM_FIRST = 0x04;      // the checksum covers bytes 4..254
constexpr size_t CFG_SUM_LAST = 0xFE;

// The only configuration format the tool builds.
constexpr uint8_t CONFIG_FORMAT_BUILT = 1;

// Signature byte of a table for firmware types 0..3 (0xAA, 0x4B, 0x3C, 0x2D); none otherwise.
std::optional<uint8_t> optConfigSignature(uint8_t ucFwType);
// True for the signatures a configuration ROM file may carry when it is loaded back
// (0x4B, 0x3C, 0x2D).
bool bIsLoadableConfigSignature(uint8_t ucSig);
// The firmware type a table's signature stands for (0..3); none for any other byte.
std::optional<uint8_t> optFirmwareTypeOfSignature(uint8_t ucSig);

// Sum of bytes 4 to 254 modulo 256.
uint8_t ucConfigTableChecksum(const ConfigTable& table);

// The option flag byte: the complement of TL*128 + PMU*64 + LPM*32 + U1U2*16 + BC4*8 + BC3*4
// + BC2*2 + BC1; any non-zero flag counts as on.
uint8_t ucConfigOptionFlags(const INISettings& ini);

// Hexadecimal text to number, reading up to the first character that is no hex digit.
using HexTextFn = std::function<uint32_t(const std::string&)>;

// The 16 container-id bytes from the container text (GUID memory layout: 8 digits to a
// 32-bit number, 4 to a 16-bit, 4 to a 16-bit, then 8 pairs to single bytes). A text shorter
// than 32 digits gives 0 for the missing parts.
std::array<uint8_t, CFG_LEN_CONTAINER> stContainerIdBytes(const std::string& strContainer,
                                                          const HexTextFn& fnHex);

// Everything one table carries, already converted.
struct ConfigTableValues {
  std::string strSerialNumber;
  std::string strManufacturer;
  std::string strProduct;
  std::array<uint8_t, CFG_LEN_CONTAINER> ucContainer{};
  uint16_t wVID = 0, wPID = 0, wPIDU2 = 0, wRevision = 0;
  uint8_t ucFlags = 0xFF;
  uint8_t ucSignature = 0xFF;
};

// A whole table: 0xFF everywhere, the fields, then the checksum over bytes 4 to 254. Texts
// longer than their field are cut to it.
ConfigTable stBuildConfigTable(const ConfigTableValues& v);

// Writes a text into a field: its characters, at most nLen, the rest of the field 0xFF.
void vPutConfigText(ConfigTable& table, size_t nOfs, size_t nLen, const std::string& strText);
// A text field read back: its characters up to the first 0xFF (or zero) byte, else whole.
std::string strGetConfigText(const ConfigTable& table, size_t nOfs, size_t nLen);
uint16_t wGetConfigWord(const ConfigTable& table, size_t nOfs);
void vPutConfigWord(ConfigTable& table, size_t nOfs, uint16_t w);
