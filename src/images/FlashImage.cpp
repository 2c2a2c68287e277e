#include "images/FlashImage.h"

#include <cstdio>

#include "images/FileBytes.h"
#include "platform/Text.h"

std::string strImageFolderPath(const std::string& strAppPath) {
  return strAppPath + "/" + IMAGE_FOLDER_NAME;
}

std::string strTempBinDataFilePath(const std::string& strAppPath) {
  return strAppPath + "/" + IMAGE_FOLDER_NAME + "/" + IMAGE_FILE_NAME;
}

std::string strFileBaseName(const std::string& strPath) {
  const size_t nSep = strPath.find_last_of("/\\");
  std::string strName = nSep == std::string::npos ? strPath : strPath.substr(nSep + 1);
  const size_t nDot = strName.rfind('.');
  if (nDot != std::string::npos) strName.erase(nDot);
  return strName;
}

std::string strConfigRomFilePath(const std::string& strAppPath, const std::string& strFWPath) {
  return strAppPath + "/" + IMAGE_FOLDER_NAME + "/" + CONFIG_ROM_PREFIX + strFileBaseName(strFWPath) + "." +
         CONFIG_ROM_EXT;
}

std::string strBrowseListFilePath(const std::string& strAppPath) {
  return strAppPath + "/" + BROWSE_LIST_FILE_NAME;
}

uint8_t ucImageSignature(uint8_t ucType, bool bCrc) {
  static const uint8_t kOff[8] = {0, 0x4B, 0x3C, 0x2D, 0, 0, 0, 0};
  static const uint8_t kOn[8] = {0xA5, 0xB4, 0xC3, 0xD2, 0, 0, 0, 0};
  return (bCrc ? kOn : kOff)[ucType & 7];
}

ImageSignature stImageSignatureFromName(const std::string& strFWPath, bool bCrc) {
  ImageSignature s;
  std::string strName;
  for (char c : strFileBaseName(strFWPath))
    if (c != '_') strName += c;
  if (strName.size() > 6) s.strChars = strName.substr(6, 2);
  if (strName.size() < 8) {
    // Nothing stands where the type is written: refuse instead of guessing type 0.
    s.bNameTooShort = true;
    return s;
  }
  unsigned v = 0;
  for (char c : s.strChars) {
    const int nDigit = nHexDigit(c);
    if (nDigit < 0) break;
    v = v * 16 + static_cast<unsigned>(nDigit);
  }
  s.ucValue = static_cast<uint8_t>(v);
  s.ucType = static_cast<uint8_t>((v >> 4) & 7);
  s.ucSignature = ucImageSignature(s.ucType, bCrc);
  s.bRefused = s.ucSignature == 0;
  return s;
}

uint8_t ucImageChecksum(const std::vector<uint8_t>& fw) {
  uint8_t ucSum = 0;
  for (uint8_t b : fw) ucSum = static_cast<uint8_t>(ucSum + b);
  return ucSum;
}

std::vector<uint8_t> vecBuildFlashImage(const std::vector<uint8_t>& fw, uint8_t ucSignature, bool bCrc,
                                        uint32_t dwCRC32) {
  std::vector<uint8_t> img;
  img.reserve(fw.size() + IMAGE_OVERHEAD);
  const uint32_t n = static_cast<uint32_t>(fw.size());
  img.push_back(static_cast<uint8_t>(n));
  img.push_back(static_cast<uint8_t>(n >> 8));
  img.insert(img.end(), fw.begin(), fw.end());
  img.push_back(ucSignature);
  img.push_back(ucImageChecksum(fw));
  for (int i = 0; i < 4; ++i) img.push_back(bCrc ? static_cast<uint8_t>(dwCRC32 >> (8 * i)) : 0xFF);
  return img;
}

bool bIsHubFlashImage(const uint8_t* pImage, size_t nLength, std::string& strWhy) {
  char sz[160];
  if (!bImageFitsFirmwareArea(nLength)) {
    std::snprintf(sz, sizeof sz, "the image of %zu bytes is larger than the hub's firmware area of %u bytes",
                  nLength, static_cast<unsigned>(FIRMWARE_AREA_SIZE));
    strWhy = sz;
    return false;
  }
  if (pImage == nullptr || nLength < IMAGE_OVERHEAD) {
    strWhy = "the image is empty or shorter than its own length, signature and sums";
    return false;
  }
  uint32_t ulLength = static_cast<uint32_t>(pImage[0] | (pImage[1] << 8));
  if (ulLength == 0) ulLength = static_cast<uint32_t>(IMAGE_MAX_FIRMWARE);
  if (!bFirmwareLengthInWindow(ulLength)) {
    std::snprintf(sz, sizeof sz, "a firmware of %u bytes is outside the %u to %u bytes the hub takes",
                  static_cast<unsigned>(ulLength), static_cast<unsigned>(FIRMWARE_LENGTH_MIN),
                  static_cast<unsigned>(FIRMWARE_LENGTH_MAX));
    strWhy = sz;
    return false;
  }
  if (nLength != ulLength + IMAGE_OVERHEAD) {
    std::snprintf(sz, sizeof sz, "the image holds %zu bytes, but its length field gives %u", nLength,
                  static_cast<unsigned>(ulLength + IMAGE_OVERHEAD));
    strWhy = sz;
    return false;
  }
  strWhy.clear();
  return true;
}

bool bIsHubFlashImageFile(const std::string& strPath, std::string& strWhy) {
  // One byte more than the area: enough to tell an oversized image without reading it all.
  const FileBytes f = stReadFileBytes(strPath, FIRMWARE_AREA_SIZE + 1);
  if (f.eStatus != EFileRead::Ok) {
    strWhy = "the image file " + strPath + " cannot be read";
    return false;
  }
  if (f.ullSize > FIRMWARE_AREA_SIZE)
    return bIsHubFlashImage(nullptr, static_cast<size_t>(f.ullSize), strWhy);
  return bIsHubFlashImage(f.data.data(), f.data.size(), strWhy);
}
