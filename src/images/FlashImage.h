// The flash image the hubs take ("TempBinData.bin"): a 16-bit length, the firmware bytes,
// a signature, a sum and a CRC-32 (or FF FF FF FF); and where this folder's files live
// under the program folder. Pure functions; the file builders are CHubImages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr const char* IMAGE_FOLDER_NAME = "VLNFW_Temp";
constexpr const char* IMAGE_FILE_NAME = "TempBinData.bin";
constexpr const char* CONFIG_ROM_PREFIX = "Config_";
constexpr const char* CONFIG_ROM_EXT = "rom";
constexpr const char* BROWSE_LIST_FILE_NAME = "BrowsedBINPath.txt";

constexpr uint64_t IMAGE_MAX_FIRMWARE = 65536;  // the length field holds 65,536 as 0
constexpr size_t IMAGE_OVERHEAD = 8;            // length 2 + signature 1 + sum 1 + CRC 4

// What a hub's firmware area takes, the one definition the image write, the read-back and
// Start's image check share: the area after the 256-byte configuration block, written in
// whole 32-byte requests, and the firmware lengths the hub accepts in its length field.
constexpr uint32_t FIRMWARE_AREA_SIZE = 0xFF00;
constexpr uint32_t FIRMWARE_WRITE_CHUNK = 32;
constexpr uint32_t FIRMWARE_LENGTH_MIN = 0x5000;
constexpr uint32_t FIRMWARE_LENGTH_MAX = 0xFEF8;  // its image (+8 bytes) fills the area exactly

// A firmware length the hub's length field may hold.
inline bool bFirmwareLengthInWindow(uint32_t ulLength) {
  return ulLength >= FIRMWARE_LENGTH_MIN && ulLength <= FIRMWARE_LENGTH_MAX;
}
// An image file of this size, rounded up to whole requests, fits the firmware area.
inline bool bImageFitsFirmwareArea(uint64_t ullImageSize) {
  return (ullImageSize + FIRMWARE_WRITE_CHUNK - 1) / FIRMWARE_WRITE_CHUNK * FIRMWARE_WRITE_CHUNK <=
         FIRMWARE_AREA_SIZE;
}
// True when the image is one a hub can take: it fits the area, its length field (65,536
// stored as 0) lies in the window and the image is exactly that firmware plus its 8 bytes.
// Otherwise strWhy says what is wrong, for the operator.
bool bIsHubFlashImage(const uint8_t* pImage, size_t nLength, std::string& strWhy);
// The same for an image file; a file that cannot be read is no image either.
bool bIsHubFlashImageFile(const std::string& strPath, std::string& strWhy);

// Paths under the program folder (no trailing separator).
std::string strImageFolderPath(const std::string& strAppPath);
std::string strTempBinDataFilePath(const std::string& strAppPath);
// "Config_" + the firmware file's name without folder and extension + ".rom", in the image
// folder.
std::string strConfigRomFilePath(const std::string& strAppPath, const std::string& strFWPath);
std::string strBrowseListFilePath(const std::string& strAppPath);

// The file name without folder (either separator) and without its extension.
std::string strFileBaseName(const std::string& strPath);

// The image type the firmware file's name gives: the name without folder and extension,
// underscores removed; its characters 6 and 7 read as hexadecimal (up to the first non-hex
// character, no digit giving 0); bits 4 to 6 of that number.
struct ImageSignature {
  std::string strChars;        // the two characters (strGetFWFileCSignature), fewer if short
  bool bNameTooShort = false;  // fewer than eight characters: no type at all
  uint8_t ucValue = 0;         // the characters read as a number
  uint8_t ucType = 0;          // bits 4..6 of it
  bool bRefused = true;        // no signature for this type and CRC option
  uint8_t ucSignature = 0;     // 0 when refused
};
ImageSignature stImageSignatureFromName(const std::string& strFWPath, bool bCrc);

// Signature byte by type and CRC option: off 1..3 -> 4B 3C 2D, on 0..3 -> A5 B4 C3 D2;
// 0 when refused.
uint8_t ucImageSignature(uint8_t ucType, bool bCrc);

// Sum of the firmware bytes modulo 256.
uint8_t ucImageChecksum(const std::vector<uint8_t>& fw);

// The image bytes for a firmware of 1..65,536 bytes: length (little-endian, 65,536 as 0),
// the bytes, signature, sum, then the CRC-32 little-endian when bCrc, else FF FF FF FF.
std::vector<uint8_t> vecBuildFlashImage(const std::vector<uint8_t>& fw, uint8_t ucSignature, bool bCrc,
                                        uint32_t dwCRC32);
