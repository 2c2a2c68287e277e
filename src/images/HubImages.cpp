#include "images/HubImages.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "images/FileBytes.h"
#include "images/FlashImage.h"
#include "images/HubFirmware.h"
#include "log/DebugLog.h"
#include "platform/Text.h"
#include "settings/SerialNumber.h"

// Log labels name the object that owns each operation in the window's design.
static const char* const kSetConfigLabel = "CMPToolDlg::vSetHubConfigInfo";
static const char* const kReadConfigLabel = "CMPToolDlg::vReadConfigFromFile";
static const char* const kDefaultLabel = "CMPToolDlg::bIsDefaultConfiguration";
static const char* const kCreateConfigLabel = "CMPToolDlg::OnBnClickedCreateConfig";
static const char* const kTempBinLabel = "CVlntUSBDev::vCreateTempBinDataFile";
static const char* const kConfigRomLabel = "CVlntUSBDev::vCreateConfigRomFile";
static const char* const kBrowseListLabel = "CUSBUtility::vSaveBINBrowseList";

// Largest configuration ROM file: its table and the image of a 65,536-byte firmware.
static constexpr uint64_t kConfigRomMaxSize = CONFIG_BIN_SIZE + IMAGE_MAX_FIRMWARE + IMAGE_OVERHEAD;

int nCommandLineExitCode(ESetConfigResult eResult) {
  return eResult == ESetConfigResult::Built ? 0 : EXIT_INVALID_FW_TYPE;
}

int nCommandLineExitCode(EReadConfigResult eResult) {
  return eResult == EReadConfigResult::InvalidSignature ? EXIT_INVALID_CONFIG_ROM : 0;
}

static std::string strCut(const std::string& s) {
  return s.substr(0, std::min(s.size(), INI_TEXT_MAX));
}

static bool bMakeFolder(const std::string& strFolder) {
  std::error_code ec;
  std::filesystem::create_directories(strFolder, ec);
  return !ec && std::filesystem::is_directory(strFolder, ec);
}

CHubImages::CHubImages(CUSBUtility& utility, INISettings& ini, DeviceList& devList, IConfigForm& form)
    : m_utility(utility), m_ini(ini), m_devList(devList), m_form(form) {
  m_ucConfigTable.fill(0xFF);
}

std::string CHubImages::strTempBinDataFilePath() const {
  return ::strTempBinDataFilePath(m_utility.m_szAppPath);
}

std::string CHubImages::strConfigRomFilePath(const std::string& strFWFilePath) const {
  return ::strConfigRomFilePath(m_utility.m_szAppPath, strFWFilePath);
}

int CHubImages::nShowMessage(const std::string& strText, uint8_t ucType) {
  return m_utility.ShowProgramMSG(strText, ucType, MB_OK, !m_bShowGUI);
}

// ---------------------------------------------------------------- configuration tables

ESetConfigResult CHubImages::vSetHubConfigInfo(uint8_t ucFwType) {
  try {
    const std::optional<uint8_t> optSig = optConfigSignature(ucFwType);
    if (!optSig) {
      // Checked before anything is touched: a refused type leaves every table as it was.
      vDEBUG_ERR_printf(kSetConfigLabel, "vSetHubConfigInfo: bFwType[%d] INVALID , dwErrorCode %d", ucFwType,
                        errno);
      if (m_bShowGUI) {
        char sz[160];
        std::snprintf(sz, sizeof sz,
                      "Invalid Config Type : firmware type [%d] is not 0 to 3, no configuration written",
                      ucFwType);
        nShowMessage(sz, MSG_TYPE_ERROR);
      }
      return ESetConfigResult::InvalidFirmwareType;
    }
    const ConfigFormTexts t = m_form.stReadConfigTexts();
    auto fnHex = [this](const std::string& s) { return m_utility.vCharToHex(s); };

    ConfigTableValues v;
    v.strManufacturer = t.m_strEditDeviceConfigurationManufacturerString;
    v.strProduct = t.m_strEditDeviceConfigurationProductString;
    v.ucContainer = stContainerIdBytes(t.m_strEditDeviceConfigurationContainerID, fnHex);
    v.wVID = static_cast<uint16_t>(fnHex(t.m_strEditDeviceConfigurationVendorID));
    v.wPID = static_cast<uint16_t>(fnHex(t.m_strEditDeviceConfigurationProductID));
    v.wPIDU2 = static_cast<uint16_t>(fnHex(t.m_strEditDeviceConfigurationProductIDU2));
    v.wRevision = static_cast<uint16_t>(fnHex(t.m_strEditDeviceConfigurationDeviceRevision));
    v.ucFlags = ucConfigOptionFlags(m_ini);
    v.ucSignature = *optSig;

    m_ucConfigTable.fill(0xFF);
    m_devList.dev[0].ucConfigBlock.fill(0xFF);
    // A count outside the list's range must not index past its 16 records.
    const int nCount = m_devList.DevNums <= 0 ? 1 : std::min<int>(m_devList.DevNums, MAX_DEV_RECORDS);
    for (int i = 0; i < nCount; ++i) {
      const std::string strSN =
          strSerialNumberAfter(m_ini, t.m_strEditDeviceConfigurationSerialNumber, static_cast<uint8_t>(i));
      vPutConfigText(m_ucConfigTable, CFG_OFS_SERIAL, CFG_LEN_SERIAL, strSN);
      if (m_ini.ucConfig_format != CONFIG_FORMAT_BUILT) {
        m_devList.dev[i].ucConfigBlock.fill(0xFF);
        vDEBUG_WRN_printf(kSetConfigLabel, "InValid Config Table[%d]", m_ini.ucConfig_format);
        continue;
      }
      v.strSerialNumber = strSN;
      m_ucConfigTable = stBuildConfigTable(v);
      m_devList.dev[i].ucConfigBlock = m_ucConfigTable;
    }
    return ESetConfigResult::Built;
  } catch (...) {
    vDEBUG_ERR_printf(kSetConfigLabel, "vSetHubConfigInfo: dwErrorCode %d", errno);
    return ESetConfigResult::Failed;
  }
}

EReadConfigResult CHubImages::vReadConfigFromFile(const std::string& strFilePath) {
  // Only the file loaded now may give a run its tables, never one loaded before it.
  m_optConfigRomTable.reset();
  try {
    FileBytes f = stReadFileBytes(strFilePath, kConfigRomMaxSize);
    if (f.eStatus != EFileRead::Ok || f.ullSize > kConfigRomMaxSize) {
      vDEBUG_ERR_printf(kReadConfigLabel, "vReadConfigFromFile: strFilePath : %s , dwErrorCode %d",
                        strFilePath.c_str(), f.ullSize > kConfigRomMaxSize ? EFBIG : f.nErrno);
      return EReadConfigResult::Failed;
    }
    if (f.data.size() < CONFIG_BIN_SIZE || !bIsLoadableConfigSignature(f.data[CFG_OFS_SIGNATURE])) {
      // A file shorter than its table has no signature either.
      const uint8_t ucSig = f.data.size() > CFG_OFS_SIGNATURE ? f.data[CFG_OFS_SIGNATURE] : 0xFF;
      nShowMessage("File INVALID : ConfigSig !", MSG_TYPE_WARNING);
      vDEBUG_ERR_printf(kReadConfigLabel,
                        "vReadConfigFromFile: strFilePath : %s , ucConfigSig : %x, INVALID, dwErrorCode %d",
                        strFilePath.c_str(), ucSig, errno);
      return EReadConfigResult::InvalidSignature;
    }
    ConfigTable table;
    std::copy_n(f.data.begin(), CONFIG_BIN_SIZE, table.begin());
    if (!m_strCmdLineSN.empty()) {
      // The command line's serial number replaces the file's whole field (unused bytes 0xFF,
      // as the builder leaves them) and the checksum is made to match, so that the hub
      // takes the table.
      vPutConfigText(table, CFG_OFS_SERIAL, CFG_LEN_SERIAL, m_strCmdLineSN);
      table[CFG_OFS_CHECKSUM] = ucConfigTableChecksum(table);
    } else if (ucConfigTableChecksum(table) != table[CFG_OFS_CHECKSUM]) {
      nShowMessage("File INVALID : CheckSum !", MSG_TYPE_WARNING);
      vDEBUG_ERR_printf(kReadConfigLabel,
                        "vReadConfigFromFile: strFilePath : %s , ucCheckSum : %x, INVALID, dwErrorCode %d",
                        strFilePath.c_str(), table[CFG_OFS_CHECKSUM], errno);
      return EReadConfigResult::InvalidChecksum;
    }

    // The image first: if it cannot be written, the window, the record and the tables stay.
    const std::string strImage = strTempBinDataFilePath();
    if (!bMakeFolder(strImageFolderPath(m_utility.m_szAppPath))) {
      vDEBUG_ERR_printf(kReadConfigLabel, "vReadConfigFromFile: strFilePath : %s , dwErrorCode %d",
                        strFilePath.c_str(), errno);
      return EReadConfigResult::Failed;
    }
    if (std::remove(strImage.c_str()) != 0)
      vDEBUG_MSG_printf(kReadConfigLabel, "vCreateTempBinDataFile: No strTempBinDataFilePath[%s] to Delete  ",
                        strImage.c_str());
    if (!bWriteFileBytes(strImage, f.data.data() + CONFIG_BIN_SIZE, f.data.size() - CONFIG_BIN_SIZE)) {
      vDEBUG_ERR_printf(kReadConfigLabel, "vReadConfigFromFile: strFilePath : %s , dwErrorCode %d",
                        strFilePath.c_str(), errno);
      return EReadConfigResult::Failed;
    }
    m_devList.dev[0].ucConfigBlock = table;
    m_optConfigRomTable = table;

    char sz[8];
    ConfigFormTexts t = m_form.stReadConfigTexts();
    std::snprintf(sz, sizeof sz, "%04x", wGetConfigWord(table, CFG_OFS_REVISION));
    t.m_strEditDeviceConfigurationDeviceRevision = sz;
    std::snprintf(sz, sizeof sz, "%04x", wGetConfigWord(table, CFG_OFS_PID));
    t.m_strEditDeviceConfigurationProductID = sz;
    std::snprintf(sz, sizeof sz, "%04x", wGetConfigWord(table, CFG_OFS_VID));
    t.m_strEditDeviceConfigurationVendorID = sz;
    t.m_strEditDeviceConfigurationManufacturerString =
        strGetConfigText(table, CFG_OFS_MANUFACTURER, CFG_LEN_MANUFACTURER);
    t.m_strEditDeviceConfigurationProductString = strGetConfigText(table, CFG_OFS_PRODUCT, CFG_LEN_PRODUCT);
    t.m_strEditDeviceConfigurationSerialNumber = strGetConfigText(table, CFG_OFS_SERIAL, CFG_LEN_SERIAL);
    m_form.vWriteConfigTexts(t);

    m_ini.ucDevice_revision = strCut(t.m_strEditDeviceConfigurationDeviceRevision);
    m_ini.ucVendor_id = strCut(t.m_strEditDeviceConfigurationVendorID);
    m_ini.ucProduct_id = strCut(t.m_strEditDeviceConfigurationProductID);
    m_ini.ucManufacturer_string = strCut(t.m_strEditDeviceConfigurationManufacturerString);
    m_ini.ucProduct_string = strCut(t.m_strEditDeviceConfigurationProductString);
    m_ini.ucSerial_number = strCut(t.m_strEditDeviceConfigurationSerialNumber);
    return EReadConfigResult::Loaded;
  } catch (...) {
    vDEBUG_ERR_printf(kReadConfigLabel, "vReadConfigFromFile: strFilePath : %s , dwErrorCode %d",
                      strFilePath.c_str(), errno);
    return EReadConfigResult::Failed;
  }
}

bool CHubImages::vSetHubConfigFromRom() {
  try {
    if (!m_optConfigRomTable) {
      vDEBUG_ERR_printf(kSetConfigLabel, "vSetHubConfigFromRom: no configuration ROM file loaded");
      return false;
    }
    const ConfigTable& rom = *m_optConfigRomTable;
    const std::string strTableSN = strGetConfigText(rom, CFG_OFS_SERIAL, CFG_LEN_SERIAL);
    const int nCount = m_devList.DevNums <= 0 ? 1 : std::min<int>(m_devList.DevNums, MAX_DEV_RECORDS);
    for (int i = 0; i < nCount; ++i) {
      ConfigTable table = rom;
      const std::string strSN = strSerialNumberAfter(m_ini, strTableSN, static_cast<uint8_t>(i));
      if (strSN != strTableSN) {
        vPutConfigText(table, CFG_OFS_SERIAL, CFG_LEN_SERIAL, strSN);
        table[CFG_OFS_CHECKSUM] = ucConfigTableChecksum(table);
      }
      m_devList.dev[i].ucConfigBlock = table;
      m_ucConfigTable = table;
    }
    // The USB 2.0 half of every hub now reports the file's second product id; the window
    // shows it, so that the run's descriptor check expects it.
    ConfigFormTexts t = m_form.stReadConfigTexts();
    char sz[8];
    std::snprintf(sz, sizeof sz, "%04x", wGetConfigWord(rom, CFG_OFS_PID_U2));
    t.m_strEditDeviceConfigurationProductIDU2 = sz;
    m_form.vWriteConfigTexts(t);
    return true;
  } catch (...) {
    vDEBUG_ERR_printf(kSetConfigLabel, "vSetHubConfigFromRom: dwErrorCode %d", errno);
    return false;
  }
}

bool CHubImages::bIsDefaultConfiguration() {
  try {
    const ConfigFormTexts t = m_form.stReadConfigTexts();
    return strUpper(t.m_strEditDeviceConfigurationVendorID) == "2F7B" &&
           strUpper(t.m_strEditDeviceConfigurationProductID) == "55AA" &&
           t.m_strEditDeviceConfigurationManufacturerString == "VLNT" &&
           t.m_strEditDeviceConfigurationProductString == "VLNT725x";
  } catch (...) {
    vDEBUG_ERR_printf(kDefaultLabel, "bIsDefaultConfiguration: dwErrorCode %d", errno);
    return false;
  }
}

// ---------------------------------------------------------------- flash image and ROM file

bool CHubImages::vCreateTempBinDataFile(uint8_t ucCrc, const std::string& strFWFilePath) {
  const std::string strImage = strTempBinDataFilePath();
  auto fail = [&](EImageFailure e) {
    m_eLastImageFailure = e;
    // Whatever went wrong, no earlier or half-written image stays behind for a run.
    bWriteFileBytes(strImage, nullptr, 0);
    return false;
  };
  try {
    m_eLastImageFailure = EImageFailure::Ok;
    // The firmware is read before the old image goes, so that even the image file itself
    // can serve as firmware.
    FileBytes fw = stReadFileBytes(strFWFilePath, IMAGE_MAX_FIRMWARE);

    if (!bMakeFolder(strImageFolderPath(m_utility.m_szAppPath))) {
      vDEBUG_ERR_printf(kTempBinLabel, " catch{}!!!!!, m_strFWBinFilePath : %s , dwErrorCode %d",
                        m_utility.m_strFWFilePath.c_str(), errno);
      m_eLastImageFailure = EImageFailure::FolderOrFile;
      return false;
    }
    if (std::remove(strImage.c_str()) != 0)
      vDEBUG_WRN_printf(kTempBinLabel, "vCreateTempBinDataFile: No strTempBinDataFilePath[%s] to Delete  ",
                        strImage.c_str());
    if (!bWriteFileBytes(strImage, nullptr, 0)) {
      vDEBUG_ERR_printf(kTempBinLabel, " catch{}!!!!!, m_strFWBinFilePath : %s , dwErrorCode %d",
                        m_utility.m_strFWFilePath.c_str(), errno);
      m_eLastImageFailure = EImageFailure::FolderOrFile;
      return false;
    }

    if (fw.eStatus == EFileRead::OpenFailed || fw.eStatus == EFileRead::NotRegular) {
      vDEBUG_ERR_printf(kTempBinLabel, " catch{}!!!!!, m_strFWBinFilePath : %s , dwErrorCode %d",
                        m_utility.m_strFWFilePath.c_str(), fw.nErrno);
      return fail(EImageFailure::FirmwareRead);
    }
    if (fw.ullSize == 0 || fw.ullSize > IMAGE_MAX_FIRMWARE) {
      // The length field holds 1 to 65,536 bytes; nothing else can become an image.
      vDEBUG_ERR_printf(kTempBinLabel, "vCreateTempBinDataFile: FW[%s] size %llu is not 1 to 65536 bytes",
                        strFWFilePath.c_str(), static_cast<unsigned long long>(fw.ullSize));
      return fail(EImageFailure::FirmwareSize);
    }
    if (fw.eStatus != EFileRead::Ok) {
      vDEBUG_ERR_printf(kTempBinLabel, "vCreateTempBinDataFile: FW[%s] ReadFileSize != FWFileSize ",
                        strFWFilePath.c_str());
      return fail(EImageFailure::FirmwareRead);
    }

    const bool bCrc = ucCrc != 0;
    const ImageSignature sig = stImageSignatureFromName(strFWFilePath, bCrc);
    if (sig.bRefused) {
      vDEBUG_ERR_printf(kTempBinLabel, "strGetFWFileCSignature[%s] ERROR", sig.strChars.c_str());
      return fail(EImageFailure::RefusedType);
    }

    uint32_t dwCRC32 = 0xFFFFFFFFu;
    if (bCrc) {
      FileBytes again = stReadFileBytes(strFWFilePath, IMAGE_MAX_FIRMWARE);
      if (again.eStatus != EFileRead::Ok || again.data != fw.data) {
        vDEBUG_ERR_printf(kTempBinLabel, "vCreateTempBinDataFile: FW[%s] not the same when read for the CRC",
                          strFWFilePath.c_str());
        return fail(EImageFailure::CrcRead);
      }
      const int nBytes = static_cast<int>(again.data.size());
      vDEBUG_MSG_printf(kTempBinLabel, " RdBytes[%d]bytes, [%d]KB", nBytes, nBytes / 1024);
      m_utility.vInitCRC32Table();
      dwCRC32 = m_utility.dwCalcCRC32(again.data.data(), again.data.size());
      vDEBUG_MSG_printf(kTempBinLabel, " [%08x]", dwCRC32);
    }

    const std::vector<uint8_t> img = vecBuildFlashImage(fw.data, sig.ucSignature, bCrc, dwCRC32);
    if (!bWriteFileBytes(strImage, img.data(), img.size())) {
      vDEBUG_ERR_printf(kTempBinLabel, " catch{}!!!!!, m_strFWBinFilePath : %s , dwErrorCode %d",
                        m_utility.m_strFWFilePath.c_str(), errno);
      return fail(EImageFailure::ImageWrite);
    }
    return true;
  } catch (...) {
    vDEBUG_ERR_printf(kTempBinLabel, " catch{}!!!!!, m_strFWBinFilePath : %s , dwErrorCode %d",
                      m_utility.m_strFWFilePath.c_str(), errno);
    return fail(EImageFailure::ImageWrite);
  }
}

bool CHubImages::vCreateConfigRomFile(uint8_t ucCrc, const std::string& strFWFilePath) {
  const std::string strRom = strConfigRomFilePath(strFWFilePath);
  const std::string strImage = strTempBinDataFilePath();
  auto fail = [&](EImageFailure e) {
    if (e != EImageFailure::Ok) m_eLastImageFailure = e;
    // An empty ROM file under a valid name would only mislead the next choice.
    std::remove(strRom.c_str());
    return false;
  };
  try {
    if (!bMakeFolder(strImageFolderPath(m_utility.m_szAppPath))) {
      vDEBUG_ERR_printf(
          kConfigRomLabel,
          "catch(...)!!!! strConfigRomFilePath : %s , strTempBinDataFilePath : %s , dwErrorCode %d",
          strRom.c_str(), strImage.c_str(), errno);
      m_eLastImageFailure = EImageFailure::FolderOrFile;
      return false;
    }
    if (std::remove(strRom.c_str()) != 0)
      vDEBUG_WRN_printf(kConfigRomLabel, "vCreateConfigRomFile: No strConfigRomFilePath[%s] to Delete  ",
                        strRom.c_str());
    if (!bWriteFileBytes(strRom, nullptr, 0)) {
      vDEBUG_ERR_printf(
          kConfigRomLabel,
          "catch(...)!!!! strConfigRomFilePath : %s , strTempBinDataFilePath : %s , dwErrorCode %d",
          strRom.c_str(), strImage.c_str(), errno);
      return fail(EImageFailure::ConfigRomWrite);
    }
    if (!vCreateTempBinDataFile(ucCrc, strFWFilePath)) {
      vDEBUG_ERR_printf(kConfigRomLabel, "vCreateTempBinDataFile Fail , strTempBinDataFilePath[%s] ",
                        strImage.c_str());
      return fail(EImageFailure::Ok);  // keeps the image builder's reason
    }
    FileBytes img = stReadFileBytes(strImage, IMAGE_MAX_FIRMWARE + IMAGE_OVERHEAD);
    if (img.eStatus != EFileRead::Ok || img.ullSize != img.data.size()) {
      vDEBUG_ERR_printf(
          kConfigRomLabel,
          "catch(...)!!!! strConfigRomFilePath : %s , strTempBinDataFilePath : %s , dwErrorCode %d",
          strRom.c_str(), strImage.c_str(), img.nErrno);
      return fail(EImageFailure::ConfigRomWrite);
    }
    std::vector<uint8_t> rom(m_devList.dev[0].ucConfigBlock.begin(), m_devList.dev[0].ucConfigBlock.end());
    rom.insert(rom.end(), img.data.begin(), img.data.end());
    if (!bWriteFileBytes(strRom, rom.data(), rom.size())) {
      vDEBUG_ERR_printf(
          kConfigRomLabel,
          "catch(...)!!!! strConfigRomFilePath : %s , strTempBinDataFilePath : %s , dwErrorCode %d",
          strRom.c_str(), strImage.c_str(), errno);
      return fail(EImageFailure::ConfigRomWrite);
    }
    return true;
  } catch (...) {
    vDEBUG_ERR_printf(
        kConfigRomLabel,
        "catch(...)!!!! strConfigRomFilePath : %s , strTempBinDataFilePath : %s , dwErrorCode %d",
        strRom.c_str(), strImage.c_str(), errno);
    return fail(EImageFailure::ConfigRomWrite);
  }
}

ECreateConfigResult CHubImages::OnBnClickedCreateConfig(const std::string& strFirmwareListText) {
  try {
    m_utility.m_strFWFilePath = strFirmwareListText;
    const std::string strPath = m_utility.m_strFWFilePath;
    if (bIsFirmwareRomFile(strPath)) {
      char sz[600];
      std::snprintf(sz, sizeof sz, "Error! %s is already a Config Rom File", strPath.c_str());
      nShowMessage(sz, MSG_TYPE_ERROR);
      return ECreateConfigResult::AlreadyConfigRom;
    }
    const uint8_t ucType = vIsValidHubFirmware(strPath);
    if (vSetHubConfigInfo(ucType) != ESetConfigResult::Built) return ECreateConfigResult::InvalidFirmwareType;
    if (!vCreateConfigRomFile(0, strPath)) return ECreateConfigResult::Failed;
    char sz[600];
    std::snprintf(sz, sizeof sz, "The Config Rom File Generation Successful,  %s ",
                  strConfigRomFilePath(strPath).c_str());
    nShowMessage(sz, MSG_TYPE_INFORMATION);
    return ECreateConfigResult::Created;
  } catch (...) {
    vDEBUG_ERR_printf(kCreateConfigLabel, "OnBnClickedCreateConfig: dwErrorCode %d", errno);
    return ECreateConfigResult::Failed;
  }
}

bool CHubImages::vSaveBINBrowseList(const std::string& strText) {
  const std::string strPath = strBrowseListFilePath(m_utility.m_szAppPath);
  try {
    std::remove(strPath.c_str());
    if (bWriteFileBytes(strPath, reinterpret_cast<const uint8_t*>(strText.data()), strText.size()))
      return true;
    vDEBUG_ERR_printf(kBrowseListLabel, "vSaveBINBrowseList: [%s] not written , dwErrorCode %d",
                      strPath.c_str(), errno);
  } catch (...) {
    vDEBUG_ERR_printf(kBrowseListLabel, "vSaveBINBrowseList: [%s] , dwErrorCode %d", strPath.c_str(), errno);
  }
  return false;
}
