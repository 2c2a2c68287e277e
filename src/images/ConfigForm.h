// What the table builder, the configuration ROM loader and the firmware-list handlers need of
// the main window: its descriptor texts, the lock of its configuration fields and its
// firmware list. The window implements IConfigForm; window-less tools and tests use
// CConfigFormFields, which just holds the values.
#pragma once

#include <string>
#include <vector>

// The main window's descriptor texts, by their window field names.
struct ConfigFormTexts {
  std::string m_strEditDeviceConfigurationVendorID;
  std::string m_strEditDeviceConfigurationProductID;
  std::string m_strEditDeviceConfigurationProductIDU2;
  std::string m_strEditDeviceConfigurationContainerID;
  std::string m_strEditDeviceConfigurationDeviceRevision;
  std::string m_strEditDeviceConfigurationSerialNumber;
  std::string m_strEditDeviceConfigurationManufacturerString;
  std::string m_strEditDeviceConfigurationProductString;
  bool operator==(const ConfigFormTexts&) const = default;
};

class IConfigForm {
 public:
  virtual ~IConfigForm() = default;
  // Reads the controls into the texts and returns them. Window thread only.
  virtual ConfigFormTexts stReadConfigTexts() = 0;
  // Takes the texts as the window's fields and refreshes the controls from them.
  virtual void vWriteConfigTexts(const ConfigFormTexts& texts) = 0;
  // Unlocks (true) or locks (false) the configuration fields, as the control states do.
  virtual void vEnableConfigFields(bool bEnable) = 0;
  // Shows the firmware list's entries, newest first, with entry nSelected selected.
  virtual void vShowFirmwareList(const std::vector<std::string>& vecPaths, int nSelected) = 0;
};

// The form without a window: the values are kept as they are set.
class CConfigFormFields : public IConfigForm {
 public:
  ConfigFormTexts m_texts;
  bool m_bFieldsEnabled = false;
  int m_nFieldLockChanges = 0;  // how often the lock was set
  std::vector<std::string> m_vecFirmwareList;
  int m_nFirmwareSelected = -1;

  ConfigFormTexts stReadConfigTexts() override { return m_texts; }
  void vWriteConfigTexts(const ConfigFormTexts& texts) override { m_texts = texts; }
  void vEnableConfigFields(bool bEnable) override {
    m_bFieldsEnabled = bEnable;
    ++m_nFieldLockChanges;
  }
  void vShowFirmwareList(const std::vector<std::string>& vecPaths, int nSelected) override {
    m_vecFirmwareList = vecPaths;
    m_nFirmwareSelected = nSelected;
  }
};

struct INISettings;
// The texts as a settings record gives them (what "Load INI" puts on the screen): VID, PID,
// PID_U2, container, revision, serial number, manufacturer and product.
ConfigFormTexts stConfigTextsFromSettings(const INISettings& ini);
