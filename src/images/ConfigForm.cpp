#include "images/ConfigForm.h"

#include "settings/INISettings.h"

ConfigFormTexts stConfigTextsFromSettings(const INISettings& ini) {
  ConfigFormTexts t;
  t.m_strEditDeviceConfigurationVendorID = ini.ucVendor_id;
  t.m_strEditDeviceConfigurationProductID = ini.ucProduct_id;
  t.m_strEditDeviceConfigurationProductIDU2 = ini.ucProduct_id_hub2;
  t.m_strEditDeviceConfigurationContainerID = ini.ucContainer_string;
  t.m_strEditDeviceConfigurationDeviceRevision = ini.ucDevice_revision;
  t.m_strEditDeviceConfigurationSerialNumber = ini.ucSerial_number;
  t.m_strEditDeviceConfigurationManufacturerString = ini.ucManufacturer_string;
  t.m_strEditDeviceConfigurationProductString = ini.ucProduct_string;
  return t;
}
