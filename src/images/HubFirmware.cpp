#include "images/HubFirmware.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <exception>

#include "images/ConfigTable.h"
#include "images/FileBytes.h"
#include "log/DebugLog.h"

// Log labels name the object that owns each check in the window's design.
static const char* const kCheckLabel = "CMPToolDlg::vIsValidHubFirmware";
static const char* const kRomLabel = "CUSBUtility::bIsFirmwareRomFile";

static std::string strLowerTail(const std::string& s, size_t n) {
  if (s.size() < n) return {};
  std::string t = s.substr(s.size() - n);
  for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return t;
}

bool bPathNamesConfigRom(const std::string& strPath) {
  return strPath.find(CONFIG_ROM_MARK) != std::string::npos;
}

EFirmwareKind eFirmwareKindOf(const std::string& strPath) {
  const std::string strExt = strLowerTail(strPath, 4);
  if (strExt == ".bin") return EFirmwareKind::Bin;
  if (strExt == ".rom") return bPathNamesConfigRom(strPath) ? EFirmwareKind::ConfigRom : EFirmwareKind::Rom;
  return EFirmwareKind::Unknown;
}

const char* pszFirmwareKindName(EFirmwareKind eKind) {
  switch (eKind) {
    case EFirmwareKind::Bin:
      return "bin";
    case EFirmwareKind::Rom:
      return "rom";
    case EFirmwareKind::ConfigRom:
      return "config-rom";
    default:
      return "unknown";
  }
}

std::string strFirmwareVersionText(const uint8_t* p) {
  char sz[16];
  std::snprintf(sz, sizeof sz, "%02X%02X%02X%02X%02X%02X", p[0], p[1], p[2], p[3], p[4], p[5]);
  return sz;
}

FirmwareCheck stCheckHubFirmware(const std::string& strFilePath) {
  FirmwareCheck c;
  try {
    const EFirmwareKind eKind = eFirmwareKindOf(strFilePath);
    c.eKind = eKind == EFirmwareKind::ConfigRom ? EFirmwareKind::Rom : eKind;
    if (c.eKind == EFirmwareKind::Unknown) {
      vDEBUG_ERR_printf(kCheckLabel, "bMajorType[%01X]. ERROR", 255);
      return c;
    }
    const bool bBin = c.eKind == EFirmwareKind::Bin;
    // Only the size first: an oversized file is refused without reading it.
    FileBytes f = stReadFileBytes(strFilePath, 0);
    if (f.eStatus != EFileRead::Ok) {
      c.nErrno = f.nErrno;  // not openable (or no regular file): no log entry
      return c;
    }
    c.bOpened = true;
    c.ullSize = f.ullSize;
    if (bBin && c.ullSize > FW_BIN_MAX_SIZE) {
      c.ucResult = FW_CHECK_BIN_TOO_LARGE;
      return c;
    }
    if (!bBin && c.ullSize != FW_ROM_SIZE) {
      c.ucResult = FW_CHECK_ROM_BAD_SIZE;
      return c;
    }
    f = stReadFileBytes(strFilePath, c.ullSize);
    if (f.eStatus != EFileRead::Ok || f.data.size() != c.ullSize) {
      c.nErrno = f.nErrno;
      vDEBUG_ERR_printf(kCheckLabel, "vReadConfigFromFile: strFilePath : %s , dwErrorCode %d",
                        strFilePath.c_str(), f.nErrno);
      return c;
    }
    const size_t nVersionOfs = bBin ? FW_BIN_VERSION_OFFSET : FW_ROM_VERSION_OFFSET;
    const size_t nTypeOfs = bBin ? FW_BIN_TYPE_OFFSET : FW_ROM_TYPE_OFFSET;
    if (f.data.size() < nVersionOfs + FW_VERSION_LEN) {
      // A file this short holds no version and no type byte.
      vDEBUG_ERR_printf(kCheckLabel,
                        "vIsValidHubFirmware: [%s] holds %d bytes, too short for version and type",
                        strFilePath.c_str(), static_cast<int>(f.data.size()));
      return c;
    }
    c.bHasVersion = true;
    c.strVersion = strFirmwareVersionText(&f.data[nVersionOfs]);
    vDEBUG_MSG_printf(kCheckLabel, "vRead Firmware Version from Binary: %s", c.strVersion.c_str());
    c.ucTypeByte = f.data[nTypeOfs];
    c.ucMajorType = ucMajorTypeOf(c.ucTypeByte);
    vDEBUG_MSG_printf(kCheckLabel, "bMajorType %01x", c.ucMajorType);
    if (c.ucMajorType > FW_MAX_HUB_TYPE) {
      vDEBUG_ERR_printf(kCheckLabel, "bMajorType[%01X]. ERROR", c.ucMajorType);
      return c;
    }
    c.ucResult = c.ucMajorType;
  } catch (...) {
    vDEBUG_ERR_printf(kCheckLabel, "vReadConfigFromFile: strFilePath : %s , dwErrorCode %d",
                      strFilePath.c_str(), errno);
    c.ucResult = FW_CHECK_FAILED;
  }
  return c;
}

uint8_t vIsValidHubFirmware(const std::string& strFilePath) {
  return stCheckHubFirmware(strFilePath).ucResult;
}

uint8_t ucConfigRomFirmwareType(const std::string& strFilePath) {
  try {
    const FileBytes f = stReadFileBytes(strFilePath, CONFIG_ROM_MIN_SIZE);
    if (f.eStatus != EFileRead::Ok || f.data.size() < CONFIG_ROM_MIN_SIZE) return FW_CHECK_FAILED;
    const uint8_t ucSig = f.data[CFG_OFS_SIGNATURE];
    const std::optional<uint8_t> optType = optFirmwareTypeOfSignature(ucSig);
    return bIsLoadableConfigSignature(ucSig) && optType ? *optType : FW_CHECK_FAILED;
  } catch (...) {
    return FW_CHECK_FAILED;
  }
}

bool bIsFirmwareRomData(const uint8_t* pData, size_t nLength) {
  if (pData == nullptr || nLength < CONFIG_ROM_MIN_SIZE) return false;
  uint8_t ucSum = 0;
  for (size_t i = 4; i <= 254; ++i) ucSum = static_cast<uint8_t>(ucSum + pData[i]);
  return pData[254] == 0xAA && pData[255] == ucSum;
}

bool bIsFirmwareRomFile(const std::string& strFilePath) {
  try {
    FileBytes f = stReadFileBytes(strFilePath, 0);
    if (f.eStatus != EFileRead::Ok) {
      vDEBUG_ERR_printf(kRomLabel, "fopen Failed: [%s], ErrorCode = %d", strFilePath.c_str(), f.nErrno);
      return false;
    }
    if (f.ullSize < CONFIG_ROM_MIN_SIZE) {
      vDEBUG_ERR_printf(kRomLabel, "Error!! [%s] File size is less than %d", strFilePath.c_str(),
                        static_cast<int>(CONFIG_ROM_MIN_SIZE));
      return false;
    }
    // Only the table decides, so only the table is read: a huge file costs nothing.
    f = stReadFileBytes(strFilePath, CONFIG_ROM_MIN_SIZE);
    if (f.eStatus != EFileRead::Ok || f.data.size() < CONFIG_ROM_MIN_SIZE) {
      vDEBUG_ERR_printf(kRomLabel, "Read File failed, errno = %d", f.nErrno);
      return false;
    }
    return bIsFirmwareRomData(f.data.data(), f.data.size());
  } catch (const std::bad_alloc&) {
    vDEBUG_ERR_printf(kRomLabel, "Allocate memory failed, errno = %d", ENOMEM);
    return false;
  } catch (...) {
    vDEBUG_ERR_printf(kRomLabel, "Read File failed, errno = %d", errno);
    return false;
  }
}
