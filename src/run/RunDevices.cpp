#include "run/RunDevices.h"

#include <cstdio>

#include "images/HubFirmware.h"

int CRunDevices::nReadChipRegister(int n, uint8_t& ucValue) {
  return m_dev.VLN318xAccessRegister(n, &ucValue, 1, REG_CHIP_IDENT, false);
}

bool CRunDevices::bAccessHubConfig(int n, int nMode, uint8_t* pBuf, std::stop_token st) {
  return m_dev.bAccessHubConfig(n, nMode, pBuf, 0, true, st);
}

int CRunDevices::vUpdateHubFirmware(int n, std::stop_token st) {
  return m_dev.vUpdateHubFirmware(n, 0, true, st);
}

bool CRunDevices::bReadHubSPIROM(int n, uint8_t* pBuf, std::stop_token st) {
  return m_dev.bReadHubSPIROM(n, pBuf, 0, true, st);
}

int CRunDevices::VLN318xReset(int n, std::stop_token st) {
  return m_dev.VLN318xReset(n, 0, st);
}

int CRunDevices::nReadHubIdentity(int n, HubIdentity& id) {
  if (n < 0 || n >= MAX_DEV_RECORDS) return -10;
  return nReadIdentityByFilterDevice(m_filterDevices, m_devList.dev[n].m_strHubObjectName, id);
}

bool CRunDevices::bScanUSB(DeviceList& devList, const INISettings& ini) {
  int nRet = m_dev.Open(&devList, ini.ucTarget_chip);
  m_dev.vTestHandleFromDriverInfo(&devList);
  // Hub operations look their hubs up in the window's list again.
  m_dev.vSetDevList(&m_devList);
  return nRet >= 0;
}

uint8_t CRunDevices::ucFirmwareType(const std::string& strFWPath) {
  return bPathNamesConfigRom(strFWPath) ? ucConfigRomFirmwareType(strFWPath) : vIsValidHubFirmware(strFWPath);
}

bool CRunDevices::bSetHubConfigInfo(uint8_t ucFwType) {
  return m_images.vSetHubConfigInfo(ucFwType) == ESetConfigResult::Built;
}

bool CRunDevices::bCreateTempBinDataFile(uint8_t ucCrc, const std::string& strFWPath) {
  return m_images.vCreateTempBinDataFile(ucCrc, strFWPath);
}

bool CRunDevices::bReadConfigFromFile(const std::string& strFWPath) {
  return m_images.vReadConfigFromFile(strFWPath) == EReadConfigResult::Loaded;
}

bool CRunDevices::bSetHubConfigFromRom() {
  return m_images.vSetHubConfigFromRom();
}

namespace {
constexpr uint16_t LANG_EN_US = 0x0409;

EFilterResult eGetDescriptor(IFilterDeviceHandle& h, uint8_t ucType, uint8_t ucIndex, uint16_t usLang,
                             uint8_t* pOut, size_t ulLen, size_t& ulGot) {
  FilterRequestRecord rec;
  rec.dwTimeout = FILTER_DEFAULT_TIMEOUT_MS;
  rec.dwType = ucType;        // descriptor type
  rec.dwRecipient = ucIndex;  // descriptor index
  rec.dwRequest = usLang;     // language id
  rec.dwValue = 0;            // recipient: device
  rec.dwIndex = 0;
  uint8_t in[FILTER_RECORD_SIZE];
  rec.vEncode(in);
  ulGot = 0;
  return h.eIoControl(VLNTFILTER0_IOCTL_GET_DESCRIPTOR, in, sizeof in, pOut, ulLen, &ulGot);
}

std::string strHex4(uint16_t v) {
  char sz[8];
  snprintf(sz, sizeof sz, "%04X", v);
  return sz;
}
}  // namespace

int nReadIdentityByFilterDevice(IFilterDevicePlatform& platform, const std::string& strName,
                                HubIdentity& id) {
  if (strName.empty()) return -4;
  auto h = platform.pOpen(strName);
  if (!h) return -4;
  uint8_t d[18] = {};
  size_t ulGot = 0;
  EFilterResult e = eGetDescriptor(*h, 1, 0, 0, d, sizeof d, ulGot);
  if (e == EFilterResult::kLeftBus) return -4;
  if (e != EFilterResult::kSuccess || ulGot < sizeof d || d[1] != 1) return -1;
  id = HubIdentity{};
  id.usBcdUSB = static_cast<uint16_t>(d[2] | (d[3] << 8));
  id.strVID = strHex4(static_cast<uint16_t>(d[8] | (d[9] << 8)));
  id.strPID = strHex4(static_cast<uint16_t>(d[10] | (d[11] << 8)));
  id.strRevision = strHex4(static_cast<uint16_t>(d[12] | (d[13] << 8)));
  std::string* texts[3] = {&id.strManufacturer, &id.strProduct, &id.strSerialNumber};
  for (int i = 0; i < 3; ++i) {
    const uint8_t ucIndex = d[14 + i];
    if (ucIndex == 0) continue;  // no string: empty
    uint8_t s[255] = {};
    e = eGetDescriptor(*h, 3, ucIndex, LANG_EN_US, s, sizeof s, ulGot);
    if (e == EFilterResult::kLeftBus) return -4;
    if (e != EFilterResult::kSuccess || ulGot < 2 || s[1] != 3) return -1;
    const size_t ulLen = std::min<size_t>(std::min<size_t>(s[0], ulGot), sizeof s);
    for (size_t k = 2; k + 1 < ulLen; k += 2) *texts[i] += static_cast<char>(s[k + 1] ? '?' : s[k]);
  }
  return 0;
}

ConfigFormTexts CRunScreenForm::stReadConfigTexts() {
  ConfigFormTexts t;
  if (!m_pScreen) return t;
  const RunScreen& m_screen = *m_pScreen;
  t.m_strEditDeviceConfigurationVendorID = m_screen.strVID;
  t.m_strEditDeviceConfigurationProductID = m_screen.strPID;
  t.m_strEditDeviceConfigurationProductIDU2 = m_screen.strPIDU2;
  t.m_strEditDeviceConfigurationContainerID = m_screen.strContainerID;
  t.m_strEditDeviceConfigurationDeviceRevision = m_screen.strRevision;
  t.m_strEditDeviceConfigurationSerialNumber = m_screen.strSerialNumber;
  t.m_strEditDeviceConfigurationManufacturerString = m_screen.strManufacturer;
  t.m_strEditDeviceConfigurationProductString = m_screen.strProduct;
  return t;
}

void CRunScreenForm::vWriteConfigTexts(const ConfigFormTexts& t) {
  if (!m_pScreen) return;
  RunScreen& m_screen = *m_pScreen;
  m_screen.strVID = t.m_strEditDeviceConfigurationVendorID;
  m_screen.strPID = t.m_strEditDeviceConfigurationProductID;
  m_screen.strPIDU2 = t.m_strEditDeviceConfigurationProductIDU2;
  m_screen.strContainerID = t.m_strEditDeviceConfigurationContainerID;
  m_screen.strRevision = t.m_strEditDeviceConfigurationDeviceRevision;
  m_screen.strSerialNumber = t.m_strEditDeviceConfigurationSerialNumber;
  m_screen.strManufacturer = t.m_strEditDeviceConfigurationManufacturerString;
  m_screen.strProduct = t.m_strEditDeviceConfigurationProductString;
}
