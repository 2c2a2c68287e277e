#include "ui/DeviceCfgDlg.h"

#include "settings/INISettings.h"

void CDeviceCfgDlg::vFromSettings(const INISettings& s) {
  vFromSettingsForDialog(s);
  m_bBatteryChargePort1 = s.ucBc_enable_port1;
  m_bBatteryChargePort2 = s.ucBc_enable_port2;
  m_bBatteryChargePort3 = s.ucBc_enable_port3;
  m_bBatteryChargePort4 = s.ucBc_enable_port4;
}

void CDeviceCfgDlg::vFromSettingsForDialog(const INISettings& s) {
  m_bTwoLEDSMode = s.ucTL;
  m_bU1U2Mode = s.ucU1U2;
  m_bLowPowerMode = s.ucLPM;
  m_bPMU = s.ucPMU;
  m_bImage0 = s.ucImage0;
  m_bImage1 = s.ucImage1;
  m_bCRC32 = s.ucCrc32;
}

void CDeviceCfgDlg::vToSettings(INISettings& s) const {
  s.ucTL = m_bTwoLEDSMode;
  s.ucU1U2 = m_bU1U2Mode;
  s.ucLPM = m_bLowPowerMode;
  s.ucPMU = m_bPMU;
  s.ucBc_enable_port1 = m_bBatteryChargePort1;
  s.ucBc_enable_port2 = m_bBatteryChargePort2;
  s.ucBc_enable_port3 = m_bBatteryChargePort3;
  s.ucBc_enable_port4 = m_bBatteryChargePort4;
  s.ucImage0 = m_bImage0;
  s.ucImage1 = m_bImage1;
  s.ucCrc32 = m_bCRC32;
}

void CDeviceCfgDlg::OnBnClickedCheckDeviceConfigurationU1U2(bool bChecked) {
  m_bU1U2Mode = bChecked ? 1 : 0;
}
void CDeviceCfgDlg::OnBnClickedCheckDeviceConfigurationLowerPowerMode(bool bChecked) {
  m_bLowPowerMode = bChecked ? 1 : 0;
}
void CDeviceCfgDlg::OnBnClickedPmu(bool bChecked) {
  m_bPMU = bChecked ? 1 : 0;
}
