#include "images/FlashImage.h"

#include <cctype>

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
    if (!std::isxdigit(static_cast<unsigned char>(c))) break;
    const int u = std::toupper(static_cast<unsigned char>(c));
    v = v * 16 + static_cast<unsigned>(u <= '9' ? u - '0' : u - 'A' + 10);
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
