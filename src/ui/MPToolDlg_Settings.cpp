// The settings screen: the field editors (every change of a descriptor or function field is
// filtered, cut to its length and copied into the settings record), the check boxes and
// lists of the settings, and the "Load INI" and "Save INI" buttons.
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <string>

#include "log/DebugLog.h"
#include "ui/ControlIds.h"
#include "ui/MPToolDlg.h"

namespace {

const char* L = "CMPToolDlg";
constexpr size_t FIELD_READ_MAX = 127;    // characters of a field looked at
constexpr size_t SETTING_TEXT_MAX = 254;  // characters a settings text takes
constexpr const char* INI_FILE_FILTER = "Config .ini File (*.ini)|*.ini||";

bool bHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool bAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool bDigit(char c) {
  return c >= '0' && c <= '9';
}
bool bPrintable(char c) {
  return static_cast<unsigned char>(c) >= 32 && static_cast<unsigned char>(c) <= 127;
}
bool bAny(char) {
  return true;
}

// The allowed characters of the text, in order, up to the limit.
std::string strKeepFieldText(const std::string& strText, bool (*fnAllowed)(char), size_t nLimit) {
  std::string strKept;
  const size_t nLook = std::min(strText.size(), FIELD_READ_MAX);
  for (size_t i = 0; i < nLook && strKept.size() < nLimit; ++i)
    if (fnAllowed(strText[i])) strKept += strText[i];
  return strKept;
}

}  // namespace

bool CMPToolDlg::OnEnChangeField(int nId) {
  const ConfigLengthLimits& lim = m_ini.m_ConfigLimits;
  INISettings& s = m_ini.m_pINI;
  struct Editor {
    const char* pszHandler;
    bool (*fnAllowed)(char);
    size_t nLimit;
    std::function<void(const std::string&)> fnStore;
  };
  auto text = [](std::string& strField) {
    return [&strField](const std::string& t) { strField = t.substr(0, SETTING_TEXT_MAX); };
  };
  Editor e;
  switch (nId) {
    case IDC_EDIT_VID:
      e = {"OnEnChangeEditDevicedescriptorVendorid", bHex, lim.m_ucConfig_VID_Len, text(s.ucVendor_id)};
      break;
    case IDC_EDIT_PID:
      e = {"OnEnChangeEditDevicedescriptorProductid", bHex, lim.m_ucConfig_PID_Len, text(s.ucProduct_id)};
      break;
    case IDC_EDIT_REVISION:
      e = {"OnEnChangeEditDevicedescriptorDevicerevision", bAlnum, lim.m_ucConfig_Rev_Len,
           text(s.ucDevice_revision)};
      break;
    case IDC_EDIT_SERIAL_NUMBER:
      if (s.ucCheck_SerialNumber)
        e = {"OnEnChangeEditDevicedescriptorSerialnumber", bHex,
             static_cast<size_t>(std::max<int32_t>(s.uiSN_Numbers, 1)), text(s.ucSerial_number)};
      else
        e = {"OnEnChangeEditDevicedescriptorSerialnumber", bAny, lim.m_ucConfig_SN_Len,
             text(s.ucSerial_number)};
      break;
    case IDC_EDIT_MANUFACTURER:
      e = {"OnEnChangeEditDevicedescriptorManufacturerstring", bPrintable, lim.m_ucConfig_Manufacturer_Len,
           text(s.ucManufacturer_string)};
      break;
    case IDC_EDIT_PRODUCT:
      e = {"OnEnChangeEditDevicedescriptorProductstring", bPrintable, lim.m_ucConfig_Product_Len,
           text(s.ucProduct_string)};
      break;
    case IDC_EDIT_SECONDS:
      e = {"OnEnChangeEditSeconds", bDigit, 4,
           [&s](const std::string& t) { s.uiRemove_after_finish = t.empty() ? 0 : std::atoi(t.c_str()); }};
      break;
    case IDC_EDIT_READ_SPEED:
      e = {"OnEnChangeEditRead", [](char c) { return bDigit(c) || c == '.'; }, 4, text(s.ucRead_speed)};
      break;
    case IDC_EDIT_WRITE_SPEED:
      e = {"OnEnChangeEditWrite", [](char c) { return bDigit(c) || c == '.'; }, 4, text(s.ucWrite_speed)};
      break;
    case IDC_EDIT_CAPACITY:
      e = {"OnEnChangeEditCap", bDigit, FIELD_READ_MAX, text(s.ucHDDCapacity_Threshold)};
      break;
    case IDC_EDIT_DRIVE_LABEL:
      return OnEnChangeEditDevicefunctionDrivelabel();
    default:
      return false;
  }
  std::string strText;
  try {
    strText = view().strGetText(nId);
    const std::string strKept = strKeepFieldText(strText, e.fnAllowed, e.nLimit);
    if (strKept != strText) view().vSetText(nId, strKept);
    e.fnStore(strKept);
  } catch (...) {
    vDEBUG_ERR_printf(L, "%s: text : %s , dwErrorCode %d", e.pszHandler, strText.c_str(), errno);
  }
  return true;
}

bool CMPToolDlg::OnEnChangeEditDevicefunctionDrivelabel() {
  std::string strText;
  try {
    // FAT file systems take 11 characters, NTFS 32.
    const size_t nLimit = m_ini.m_pINI.ucFormat_drive_type == 0 ? 32 : 11;
    m_ini.m_ConfigLimits.m_ucDevice_DiskLabel_Len = static_cast<uint8_t>(nLimit);
    strText = view().strGetText(IDC_EDIT_DRIVE_LABEL);
    const std::string strAll = strKeepFieldText(strText, bPrintable, FIELD_READ_MAX);
    if (strAll.size() > nLimit) {
      nShowProgramMSG("Invalid DiskLabel Size\r\n", MSG_TYPE_WARNING);
      view().vSetText(IDC_EDIT_DRIVE_LABEL, "");
      m_ini.m_pINI.ucDrive_label_name.clear();
      return true;
    }
    if (strAll != strText) view().vSetText(IDC_EDIT_DRIVE_LABEL, strAll);
    m_ini.m_pINI.ucDrive_label_name = strAll;
  } catch (...) {
    vDEBUG_ERR_printf(L,
                      "OnEnChangeEditDevicefunctionDrivelabel: m_strEditDeviceFunctionDriveLabelName : %s ",
                      strText.c_str());
  }
  return true;
}

bool CMPToolDlg::OnSettingsControl(int nId) {
  INISettings& s = m_ini.m_pINI;
  IMainView& v = view();
  DevListRunFlags& run = m_ToolsDevList.flags;
  // The box's state into its setting, and into the device list's run flag where it has one.
  auto flag = [&](uint8_t& uc, uint8_t* pRunFlag = nullptr) {
    uc = v.bGetCheck(nId) ? 1 : 0;
    if (pRunFlag) *pRunFlag = uc;
  };
  try {
    switch (nId) {
      case IDC_CHECK_UPDATE_FW:
        flag(s.ucFw_enablel, &run.ucFw_enablel);
        run.ucFw_enablel2 = s.ucFw_enablel;
        break;
      case IDC_CHECK_RELOAD_FW:
        flag(s.ucFw_reload, &run.ucFw_reload);
        break;
      case IDC_CHECK_EXT_UPDATE_FW:
        s.uiExt_fw_enable = v.bGetCheck(nId) ? 1 : 0;
        break;
      case IDC_CHECK_USB_STATUS:
        flag(s.ucCheck_USBStatus_enable, &run.ucCheck_USBStatus_enable);
        break;
      case IDC_CHECK_CONFIG_CHECK:
        flag(s.ucConfig_Check, &run.ucConfig_Check);
        break;
      case IDC_CHECK_SN_CHK_HEX:
        flag(s.ucCheck_SerialNumber);
        break;
      case IDC_CHECK_UPDATE_CONFIG:
        // no setting of its own: More Config follows it
        break;
      case IDC_CHECK_SN_INCREASE:
        // the box and the "DISABLE" / "INCREASE" list are one choice
        flag(s.ucSerial_number_increase);
        v.vSetListSelection(IDC_COMBO_SN_INCREASE, s.ucSerial_number_increase);
        return true;
      case IDC_RADIO_SN_HEX:
      case IDC_RADIO_SN_DEC:
        s.ucSerial_number_increase_Hex = v.bGetCheck(IDC_RADIO_SN_HEX) ? 1 : 0;
        s.ucSerial_number_increase_Dec = v.bGetCheck(IDC_RADIO_SN_DEC) ? 1 : 0;
        return true;
      case IDC_COMBO_SN_INCREASE:
        s.ucSerial_number_increase = static_cast<uint8_t>(std::max(0, v.nGetListSelection(nId)));
        v.vSetCheck(IDC_CHECK_SN_INCREASE, s.ucSerial_number_increase != 0);
        return true;
      case IDC_CHECK_AUTO_SAFE_REMOVE:
        flag(s.ucAuto_Safe_Remove, &run.ucAuto_Safe_Remove);
        break;
      case IDC_CHECK_FORMAT:
        flag(s.ucFormat_enable, &run.ucFormat_enable);
        break;
      case IDC_CHECK_WR_TEST:
        flag(s.ucWr_test_enable, &run.ucWr_test_enable);
        break;
      case IDC_CHECK_SPEED_TEST:
        flag(s.ucSpeed_test_enable, &run.ucSpeed_test_enable);
        break;
      case IDC_CHECK_PRELOAD:
        flag(s.ucPreload_enable, &run.ucPreload_enable);
        break;
      case IDC_CHECK_CAPACITY:
        flag(s.ucHDDCapacityCheck_enable, &run.ucHDDCapacityCheck_enable);
        break;
      case IDC_CHECK_SLT:
        flag(s.ucRunSlt_enable, &m_ToolsDevList.ucSLT);
        break;
      case IDC_CHECK_INPUT_BARCODE:
        flag(s.ucScan_BarCode);
        break;
      case IDC_CHECK_INPUT_HDDSN:
        // the serial number then comes from the drive: its box is locked, the barcode is off
        flag(s.ucScan_HDDSN);
        v.vEnableControl(IDC_EDIT_SERIAL_NUMBER, s.ucScan_HDDSN == 0);
        v.vSetCheck(IDC_CHECK_INPUT_BARCODE, false);
        s.ucScan_BarCode = 0;
        return true;
      case IDC_CHECK_AUTO_MP:
        bDeleteAllThread();
        flag(s.ucAuto_mp);
        v.vEnableControl(IDC_COMBO_AUTO_MP_DEVNUM, s.ucAuto_mp == 1);
        v.vEnableControl(IDC_BUTTON_START, s.ucAuto_mp == 0);
        return true;
      case IDC_COMBO_CONFIG_FORMAT:
        s.ucConfig_format = static_cast<uint8_t>(std::max(0, v.nGetListSelection(nId)));
        return true;
      case IDC_COMBO_IDLE_TIMER:
        s.ucIdle_timer = static_cast<uint8_t>(std::max(0, v.nGetListSelection(nId)));
        return true;
      case IDC_COMBO_USB_STATUS:
        s.ucCheck_USBStatus = static_cast<uint8_t>(std::max(0, v.nGetListSelection(nId)));
        return true;
      case IDC_COMBO_AUTO_MP_DEVNUM:
        s.ucAuto_mp_DevNum = static_cast<uint8_t>(std::max(0, v.nGetListSelection(nId)) + 1);
        return true;
      case IDC_COMBO_FORMAT_TYPE:
        s.ucFormat_drive_type = static_cast<uint8_t>(std::max(0, v.nGetListSelection(nId)));
        m_ini.m_ConfigLimits.m_ucDevice_DiskLabel_Len = s.ucFormat_drive_type == 0 ? 32 : 11;
        return true;
      case IDC_COMBO_FW_BROWSE:
        OnCbnSelchangeComboDevicwfirmwareFwbrowse();
        return true;
      case IDC_COMBO_PRELOAD:
        s.ucPreload_folder_path = v.strGetText(nId).substr(0, INI_TEXT_MAX);
        return true;
      case IDC_COMBO_PARTITION_TYPE:
        s.ucPartition_drive_type = static_cast<uint8_t>(std::max(0, v.nGetListSelection(nId)));
        return true;
      case IDC_COMBO_SN_EDIT_TYPE:
        s.ucSN_EditType = static_cast<uint8_t>(std::max(0, v.nGetListSelection(nId)));
        if (s.ucSN_EditType == 3) {
          // the barcode scanner types the serial number: an empty, writable box with the focus
          v.vEnableControl(IDC_EDIT_SERIAL_NUMBER, true);
          v.vSetText(IDC_EDIT_SERIAL_NUMBER, "");
          s.ucSerial_number.clear();
          v.vSetFocus(IDC_EDIT_SERIAL_NUMBER);
        }
        return true;
      default:
        if (nId >= IDC_CHECK_SLT_FIRST && nId <= IDC_CHECK_SLT_LAST) {
          uint8_t* slt[] = {&s.ucSlt_up_port_10gx2_en,   &s.ucSlt_up_port_10gx1_en,
                            &s.ucSlt_up_port_5gx2_en,    &s.ucSlt_up_port_5gx1_en,
                            &s.ucSlt_up_port_20_en,      &s.ucSlt_down_port_10gx2_en,
                            &s.ucSlt_down_port_10gx1_en, &s.ucSlt_down_port_5gx2_en,
                            &s.ucSlt_down_port_5gx1_en,  &s.ucSlt_down_port_20_en};
          flag(*slt[nId - IDC_CHECK_SLT_FIRST]);
          return true;
        }
        return false;
    }
    // A box with dependants: the state routine sets them as the boxes now say.
    vApplyIdleControls();
  } catch (...) {
    vDEBUG_ERR_printf(L, "OnSettingsControl: control %d , dwErrorCode %d", nId, errno);
  }
  return true;
}

bool CMPToolDlg::vValidateGUIForSaveINI() {
  try {
    const std::string strVID = view().strGetText(IDC_EDIT_VID);
    const std::string strPID = view().strGetText(IDC_EDIT_PID);
    const std::string strRev = view().strGetText(IDC_EDIT_REVISION);
    std::string strLines;
    if (strVID.size() != 4) strLines += "VID Format not valid \r\n";
    if (strPID.size() != 4) strLines += "PID Format not valid \r\n";
    if (strRev.size() != 4) strLines += "Device Revision Format not valid \r\n";
    if (strLines.empty()) return true;
    nShowProgramMSG(strLines, MSG_TYPE_WARNING);
    vDEBUG_MSG_printf(
        "CMPToolDlg::vValidateGUIForSaveINI",
        "vValidateGUIForSaveINI: Format not valid , m_strEditDeviceConfigurationVendorID : %s , "
        "m_strEditDeviceConfigurationProductID : %s , m_strEditDeviceConfigurationDeviceRevision : %s , "
        "dwErrorCode %d",
        strVID.c_str(), strPID.c_str(), strRev.c_str(), 0);
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::vValidateGUIForSaveINI", "vValidateGUIForSaveINI: dwErrorCode %d", errno);
  }
  return false;
}

void CMPToolDlg::vReadAllFields(INISettings& s) {
  IMainView& v = view();
  auto check = [&](int nId) -> uint8_t { return v.bGetCheck(nId) ? 1 : 0; };
  auto sel = [&](int nId) -> uint8_t { return static_cast<uint8_t>(std::max(0, v.nGetListSelection(nId))); };
  s.ucConfig_format = sel(IDC_COMBO_CONFIG_FORMAT);
  s.ucVendor_id = v.strGetText(IDC_EDIT_VID);
  s.ucProduct_id = v.strGetText(IDC_EDIT_PID);
  s.ucProduct_id_hub2 = v.strGetText(IDC_EDIT_PID_U2);
  s.ucDevice_revision = v.strGetText(IDC_EDIT_REVISION);
  s.ucSerial_number = v.strGetText(IDC_EDIT_SERIAL_NUMBER);
  s.ucManufacturer_string = v.strGetText(IDC_EDIT_MANUFACTURER);
  s.ucProduct_string = v.strGetText(IDC_EDIT_PRODUCT);
  s.ucContainer_string = v.strGetText(IDC_EDIT_CONTAINER_ID);
  s.ucSN_EditType = sel(IDC_COMBO_SN_EDIT_TYPE);
  s.ucFw_enablel = check(IDC_CHECK_UPDATE_FW);
  s.ucFw_binary_name = v.strGetText(IDC_COMBO_FW_BROWSE);
  s.ucFw_reload = check(IDC_CHECK_RELOAD_FW);
  s.uiExt_fw_enable = check(IDC_CHECK_EXT_UPDATE_FW);
  s.ucAuto_mp = check(IDC_CHECK_AUTO_MP);
  s.ucAuto_mp_DevNum = static_cast<uint8_t>(sel(IDC_COMBO_AUTO_MP_DEVNUM) + 1);
  s.ucCheck_USBStatus_enable = check(IDC_CHECK_USB_STATUS);
  s.ucCheck_USBStatus = sel(IDC_COMBO_USB_STATUS);
  s.ucConfig_Check = check(IDC_CHECK_CONFIG_CHECK);
  s.ucCheck_SerialNumber = check(IDC_CHECK_SN_CHK_HEX);
  s.ucSerial_number_increase = sel(IDC_COMBO_SN_INCREASE);
  s.ucSerial_number_increase_Hex = check(IDC_RADIO_SN_HEX);
  s.ucSerial_number_increase_Dec = check(IDC_RADIO_SN_DEC);
  s.ucScan_BarCode = check(IDC_CHECK_INPUT_BARCODE);
  s.ucScan_HDDSN = check(IDC_CHECK_INPUT_HDDSN);
  s.ucAuto_Safe_Remove = check(IDC_CHECK_AUTO_SAFE_REMOVE);
  s.uiRemove_after_finish = std::atoi(v.strGetText(IDC_EDIT_SECONDS).c_str());
  s.ucFormat_enable = check(IDC_CHECK_FORMAT);
  s.ucFormat_drive_type = sel(IDC_COMBO_FORMAT_TYPE);
  s.ucDrive_label_name = v.strGetText(IDC_EDIT_DRIVE_LABEL);
  s.ucSpeed_test_enable = check(IDC_CHECK_SPEED_TEST);
  s.ucRead_speed = v.strGetText(IDC_EDIT_READ_SPEED);
  s.ucWrite_speed = v.strGetText(IDC_EDIT_WRITE_SPEED);
  s.ucPreload_enable = check(IDC_CHECK_PRELOAD);
  s.ucPreload_folder_path = v.strGetText(IDC_COMBO_PRELOAD);
  s.ucHDDCapacityCheck_enable = check(IDC_CHECK_CAPACITY);
  s.ucHDDCapacity_Threshold = v.strGetText(IDC_EDIT_CAPACITY);
  s.ucRunSlt_enable = check(IDC_CHECK_SLT);
  uint8_t* slt[] = {&s.ucSlt_up_port_10gx2_en,   &s.ucSlt_up_port_10gx1_en,  &s.ucSlt_up_port_5gx2_en,
                    &s.ucSlt_up_port_5gx1_en,    &s.ucSlt_up_port_20_en,     &s.ucSlt_down_port_10gx2_en,
                    &s.ucSlt_down_port_10gx1_en, &s.ucSlt_down_port_5gx2_en, &s.ucSlt_down_port_5gx1_en,
                    &s.ucSlt_down_port_20_en};
  for (int i = 0; i < 10; ++i) *slt[i] = check(IDC_CHECK_SLT_FIRST + i);
  s.ucIdle_timer = sel(IDC_COMBO_IDLE_TIMER);
}

void CMPToolDlg::OnBnClickedButtonSaveIni() {
  if (!vValidateGUIForSaveINI()) return;
  const INISettings kept = m_ini.m_pINI;
  try {
    FilePick pick;
    pick.bSave = true;
    pick.strTitle = "Save INI";
    pick.strFilter = INI_FILE_FILTER;
    std::string strPath = strPickPath(pick);
    if (strPath.empty()) {
      m_ini.m_pINI = kept;
      return;
    }
    if (strPath.find('.', strPath.find_last_of('/') + 1) == std::string::npos) strPath += ".INI";
    INISettings s;
    vReadAllFields(s);
    // what the screen does not show stays as the record had it
    s.ucWr_test_enable = kept.ucWr_test_enable;
    s.ucWr_test_binary_name = kept.ucWr_test_binary_name;
    s.ucWr_test_count = kept.ucWr_test_count;
    s.ucPartition_drive_type = kept.ucPartition_drive_type;
    s.ucPort_mapping_enable = kept.ucPort_mapping_enable;
    s.ucPd_binary_name = kept.ucPd_binary_name;
    s.ucMcu_binary_name = kept.ucMcu_binary_name;
    s.ucTarget_chip = kept.ucTarget_chip;
    s.uiSN_remain_value_enable = kept.uiSN_remain_value_enable;
    s.uiSN_remain_value_length = kept.uiSN_remain_value_length;
    s.uiSN_fix_length = kept.uiSN_fix_length;
    s.uiSN_Numbers = kept.uiSN_Numbers;
    m_moreConfigDlg.vToSettings(s);
    // the idle timer counts only where its list takes input (R&D mode with "Update F/W")
    if (!(m_bRDMode && s.ucFw_enablel == 1)) s.ucIdle_timer = 0;
    m_ini.m_pINI = s;
    m_ini.vStoreINIFile(strPath);
  } catch (...) {
    m_ini.m_pINI = kept;
    vDEBUG_ERR_printf("CMPToolDlg::OnBnClickedButtonSaveIni", "OnBnClickedButtonSaveIni: dwErrorCode %d",
                      errno);
  }
}

void CMPToolDlg::OnBnClickedButtonLoadini() {
  try {
    FilePick pick;
    pick.strTitle = "Load INI";
    pick.strFilter = INI_FILE_FILTER;
    const std::string strPath = strPickPath(pick);
    if (strPath.empty()) return;
    bool bLoaded = false;
    if (m_utility.vCheckFilePathExists(strPath, true)) {
      vInitialPrivateData();
      bLoaded = m_ini.vLoadINIFile(strPath);
    }
    // the screen shows the record whatever the load came to
    vRefreshAllFields();
    if (bLoaded) vApplyIdleControls();
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::OnBnClickedButtonLoadini", "OnBnClickedButtonLoadini: dwErrorCode %d",
                      errno);
  }
}
