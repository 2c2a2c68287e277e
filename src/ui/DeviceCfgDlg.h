// The More Config dialog's data side: the eleven flags of the settings that have no control
// on the main window. The flag set is the working copy between a load and a save.
#pragma once

#include <cstdint>

struct INISettings;

class CDeviceCfgDlg {
 public:
  uint8_t m_bTwoLEDSMode = 0;
  uint8_t m_bU1U2Mode = 0;
  uint8_t m_bLowPowerMode = 0;
  uint8_t m_bPMU = 0;
  uint8_t m_bBatteryChargePort1 = 0;
  uint8_t m_bBatteryChargePort2 = 0;
  uint8_t m_bBatteryChargePort3 = 0;
  uint8_t m_bBatteryChargePort4 = 0;
  uint8_t m_bImage0 = 0;
  uint8_t m_bImage1 = 0;
  uint8_t m_bCRC32 = 0;

  // All eleven from the settings (after every load).
  void vFromSettings(const INISettings& s);
  // The seven the dialog's opening takes; the battery-charge flags keep their values.
  void vFromSettingsForDialog(const INISettings& s);
  // All eleven into the settings (Save INI, More Config closed with OK).
  void vToSettings(INISettings& s) const;
  // A click on one of the three visible boxes.
  void OnBnClickedCheckDeviceConfigurationU1U2(bool bChecked);
  void OnBnClickedCheckDeviceConfigurationLowerPowerMode(bool bChecked);
  void OnBnClickedPmu(bool bChecked);
};
