#include "pd/PDFirmwareVersion.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <string_view>

#include "host/USBUtility.h"
#include "images/FileBytes.h"
#include "log/DebugLog.h"

namespace {

constexpr const char* LOG_LABEL = "CPDUpdateDlg::strGetPDFWVersionFromFile";

bool bHoldsAfterFirst(const std::string& strPath, const char* pszExt) {
  const size_t nPos = strPath.find(pszExt);
  return nPos != std::string::npos && nPos > 0;
}

// Where the 16 version characters of a .cyacd file lie, by its 12-character header.
struct CyacdVersionAt {
  std::string_view header;
  size_t nOffset;
};
constexpr std::array<CyacdVersionAt, 4> CYACD_VERSIONS{{
    {"140411A40000", 567},
    {"1D0311AD0000", 488},
    {"1D0411AD0000", 488},
    {"1F0111AF0000", 473},
}};
constexpr size_t CYACD_VERSION_LENGTH = 16;
// Bytes read for the version: the furthest version of the table ends before this.
constexpr uint64_t VERSION_READ_LIMIT = 4096;
constexpr size_t RICHTEK_VERSION_OFFSET = 4096;

}  // namespace

uint8_t ucPDFileTypeOfPath(const std::string& strPath) {
  if (bHoldsAfterFirst(strPath, ".cyacd")) return PD_FILE_TYPE_CYACD;
  if (bHoldsAfterFirst(strPath, ".bin")) return PD_FILE_TYPE_RICHTEK;
  return PD_FILE_TYPE_NONE;
}

uint8_t ucMCUFileTypeOfPath(const std::string& strPath) {
  return bHoldsAfterFirst(strPath, ".hex") ? MCU_FILE_TYPE_HEX : PD_FILE_TYPE_NONE;
}

std::string strGetPDFWVersionFromFile(CPDFirmware& fw, const std::string& strPath) {
  try {
    if (!fw.utility().vCheckFilePathExists(strPath, false)) {
      vDEBUG_ERR_printf(LOG_LABEL, "The PD FW file is not exist[%s]", strPath.c_str());
      return PD_VERSION_REJECTED;
    }
    if (fw.m_bPDFWEnable) {
      const uint8_t ucType = ucPDFileTypeOfPath(strPath);
      if (ucType != PD_FILE_TYPE_NONE) fw.m_ucPDFWFileType = ucType;
    }
    if (fw.m_bMCUFWEnable && ucMCUFileTypeOfPath(strPath) == MCU_FILE_TYPE_HEX)
      fw.m_ucMCUFWFileType = MCU_FILE_TYPE_HEX;

    const FileBytes file = stReadFileBytes(strPath, VERSION_READ_LIMIT + RICHTEK_VERSION_OFFSET);
    if (file.eStatus != EFileRead::Ok) {
      vDEBUG_ERR_printf(LOG_LABEL, "The PD FW file cannot be read[%s], dwErrorCode %d", strPath.c_str(),
                        file.nErrno);
      return PD_VERSION_REJECTED;
    }
    if (fw.m_ucPDFWFileType == PD_FILE_TYPE_RICHTEK) {
      if (file.ullSize != RICHTEK_IMAGE_SIZE) {
        fw.utility().ShowMessageBox("The PD FW file size is uncompatibie!!!", MB_OK, MSG_TYPE_ERROR);
        vDEBUG_ERR_printf(LOG_LABEL, "The PD FW file size is uncompatibie!!! [%x]",
                          static_cast<unsigned>(file.ullSize));
        return PD_VERSION_REJECTED;
      }
      char sz[8];
      std::snprintf(sz, sizeof sz, "%02x%02x", file.data[RICHTEK_VERSION_OFFSET + 1],
                    file.data[RICHTEK_VERSION_OFFSET]);
      return sz;
    }
    if (fw.m_ucPDFWFileType == PD_FILE_TYPE_CYACD) {
      const std::string_view content(reinterpret_cast<const char*>(file.data.data()), file.data.size());
      const std::string_view header = content.substr(0, 12);
      for (const CyacdVersionAt& v : CYACD_VERSIONS) {
        if (header != v.header) continue;
        if (content.size() < v.nOffset + CYACD_VERSION_LENGTH) {
          vDEBUG_ERR_printf(LOG_LABEL, "The PD FW file is too short for its version [%x]",
                            static_cast<unsigned>(content.size()));
          return PD_VERSION_REJECTED;
        }
        return std::string(content.substr(v.nOffset, CYACD_VERSION_LENGTH));
      }
    }
    return PD_VERSION_NONE;
  } catch (...) {
    vDEBUG_ERR_printf(LOG_LABEL, "catch , dwErrorCode %d", errno);
    return PD_VERSION_REJECTED;
  }
}
