#include "pd/PDFirmware.h"

#include <cerrno>
#include <string_view>

#include "host/USBUtility.h"
#include "images/FileBytes.h"
#include "log/DebugLog.h"

namespace {

constexpr const char* LOG_LABEL = "CPowerDelivery::nCreatePDSPIROMBuffer";

// The whole file, or false (logged) when it cannot be read or is larger than any image.
bool bReadWholeFile(const std::string& strPath, FileBytes& file) {
  file = stReadFileBytes(strPath, PD_FILE_MAX_SIZE);
  if (file.eStatus != EFileRead::Ok) {
    vDEBUG_ERR_printf(LOG_LABEL, "The PD FW file cannot be read[%s], dwErrorCode %d", strPath.c_str(),
                      file.nErrno);
    return false;
  }
  if (file.ullSize > PD_FILE_MAX_SIZE) {
    vDEBUG_ERR_printf(LOG_LABEL, "The PD FW file is too large[%s] [%llx]", strPath.c_str(),
                      static_cast<unsigned long long>(file.ullSize));
    return false;
  }
  return true;
}

std::string_view text(const FileBytes& file) {
  return {reinterpret_cast<const char*>(file.data.data()), file.data.size()};
}

}  // namespace

CPDFirmware::CPDFirmware(CUSBUtility& utility)
    : m_images([&utility](std::string_view s) { return utility.vCharToHex(std::string(s)); }),
      m_utility(utility) {}

int CPDFirmware::nCreatePDSPIROMBuffer(const std::string& strPath) {
  try {
    if (!m_utility.vCheckFilePathExists(strPath, false)) {
      vDEBUG_ERR_printf(LOG_LABEL, "The PD FW file is not exist[%s]", strPath.c_str());
      return -10;
    }
    FileBytes file;
    if (!bReadWholeFile(strPath, file)) return -10;
    if (m_bPDFWEnable == 1) {
      // (an MCU-only update names no PD file type)
      if (m_ucPDFWFileType == PD_FILE_TYPE_NONE) {
        vDEBUG_ERR_printf(LOG_LABEL, "The PD FW file is Unknow");
        return -10;
      }
      if (m_ucPDFWFileType == PD_FILE_TYPE_RICHTEK) {
        if (m_images.nReadRichtek(file.data) != 0) return -10;
      } else if (m_ucPDFWFileType == PD_FILE_TYPE_CYACD && strPath.find(".cyacd") != std::string::npos) {
        // CCG2 rows are 128 bytes, as CCG3's: the CCG2 update writes them from the same image.
        const size_t nRowSize = nCyacdRowSizeOf(m_nPDChipVendor);
        if (nRowSize == 0) {
          // Nothing would be loaded, and an update would write an empty image.
          vDEBUG_ERR_printf(LOG_LABEL, "The PD chip [%d] takes no .cyacd file", m_nPDChipVendor.load());
          return -10;
        }
        if (m_images.nReadCyacd(text(file), nRowSize) != 0) return -10;
      } else {
        vDEBUG_ERR_printf(LOG_LABEL, "The PD FW file type [%d] does not match the file [%s]",
                          m_ucPDFWFileType.load(), strPath.c_str());
        return -10;
      }
    }
    if (m_bMCUFWEnable == 1 && m_ucMCUFWFileType == MCU_FILE_TYPE_HEX) {
      if (m_strMCUFWFilePath.empty() || m_strMCUFWFilePath == strPath) {
        if (m_images.nReadIntelHex(text(file)) != 0) return -10;
      } else {
        if (!m_utility.vCheckFilePathExists(m_strMCUFWFilePath, false)) {
          vDEBUG_ERR_printf(LOG_LABEL, "The MCU FW file is not exist[%s]", m_strMCUFWFilePath.c_str());
          return -10;
        }
        FileBytes mcu;
        if (!bReadWholeFile(m_strMCUFWFilePath, mcu)) return -10;
        if (m_images.nReadIntelHex(text(mcu)) != 0) return -10;
      }
    }
    return 0;
  } catch (...) {
    vDEBUG_ERR_printf(LOG_LABEL, "catch , dwErrorCode %d", errno);
    return -10;
  }
}
