// The engine's lower layers as the tool has them: the device access object for the hub
// operations and the scan, the image builders for Start's preparation, and the filter
// device for the identity a hub reports after its reset.
#pragma once

#include "device/VlntUSBDev.h"
#include "images/ConfigForm.h"
#include "images/HubImages.h"
#include "platform/FilterDevice.h"
#include "run/IRunDevices.h"
#include "run/IRunView.h"

class CRunDevices : public IRunDevices {
 public:
  // devList is the window's device list: the one every hub operation looks its hub up in.
  CRunDevices(CVlntUSBDev& dev, CHubImages& images, IFilterDevicePlatform& filterDevices, DeviceList& devList)
      : m_dev(dev), m_images(images), m_filterDevices(filterDevices), m_devList(devList) {}

  int nReadChipRegister(int n, uint8_t& ucValue) override;
  bool bAccessHubConfig(int n, int nMode, uint8_t* pBuf, std::stop_token st) override;
  int vUpdateHubFirmware(int n, std::stop_token st) override;
  bool bReadHubSPIROM(int n, uint8_t* pBuf, std::stop_token st) override;
  int VLN318xReset(int n, std::stop_token st) override;
  int nReadHubIdentity(int n, HubIdentity& id) override;
  bool bScanUSB(DeviceList& devList, const INISettings& ini) override;
  uint8_t ucFirmwareType(const std::string& strFWPath) override;
  bool bSetHubConfigInfo(uint8_t ucFwType) override;
  bool bCreateTempBinDataFile(uint8_t ucCrc, const std::string& strFWPath) override;
  bool bReadConfigFromFile(const std::string& strFWPath) override;
  bool bSetHubConfigFromRom() override;

 private:
  CVlntUSBDev& m_dev;
  CHubImages& m_images;
  IFilterDevicePlatform& m_filterDevices;
  DeviceList& m_devList;
};

// Reads a hub's device descriptor and its three strings through the filter device's
// GET_DESCRIPTOR request. 0, -4 the device is not there (or left the bus), -1 a request
// failed.
int nReadIdentityByFilterDevice(IFilterDevicePlatform& platform, const std::string& strName, HubIdentity& id);

// The window's descriptor fields as the table builder reads them, kept in the engine's
// screen record (the window-less run has no other).
class CRunScreenForm : public IConfigForm {
 public:
  explicit CRunScreenForm(RunScreen* pScreen = nullptr) : m_pScreen(pScreen) {}
  void vBind(RunScreen& screen) { m_pScreen = &screen; }
  ConfigFormTexts stReadConfigTexts() override;
  void vWriteConfigTexts(const ConfigFormTexts& texts) override;
  void vEnableConfigFields(bool) override {}
  void vShowFirmwareList(const std::vector<std::string>&, int) override {}

 private:
  RunScreen* m_pScreen;
};
