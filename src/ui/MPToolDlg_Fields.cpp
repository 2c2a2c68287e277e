// The window's fields from the settings record: every control that shows a setting is set
// from it (start-up and "Load INI"), and the firmware list gets the record's firmware file.
#include <cerrno>
#include <string>

#include "images/ConfigForm.h"
#include "log/DebugLog.h"
#include "ui/ControlIds.h"
#include "ui/MPToolDlg.h"

void CMPToolDlg::vRefreshAllFields() {
  try {
    const INISettings& s = m_ini.m_pINI;
    IMainView& v = view();
    v.vSetListSelection(IDC_COMBO_CONFIG_FORMAT, s.ucConfig_format);
    v.vSetText(IDC_EDIT_VID, s.ucVendor_id);
    v.vSetText(IDC_EDIT_PID, s.ucProduct_id);
    v.vSetText(IDC_EDIT_PID_U2, s.ucProduct_id_hub2);
    v.vSetText(IDC_EDIT_REVISION, s.ucDevice_revision);
    v.vSetText(IDC_EDIT_SERIAL_NUMBER, s.ucSerial_number);
    v.vSetText(IDC_EDIT_MANUFACTURER, s.ucManufacturer_string);
    v.vSetText(IDC_EDIT_PRODUCT, s.ucProduct_string);
    v.vSetText(IDC_EDIT_CONTAINER_ID, s.ucContainer_string);
    v.vSetListSelection(IDC_COMBO_SN_EDIT_TYPE, s.ucSN_EditType);
    v.vSetListSelection(IDC_COMBO_IDLE_TIMER, s.ucIdle_timer);

    v.vSetCheck(IDC_CHECK_UPDATE_FW, s.ucFw_enablel == 1);
    v.vSetCheck(IDC_CHECK_RELOAD_FW, s.ucFw_reload == 1);
    v.vSetCheck(IDC_CHECK_EXT_UPDATE_FW, s.uiExt_fw_enable == 1);
    v.vSetCheck(IDC_CHECK_AUTO_MP, s.ucAuto_mp == 1);
    v.vSetListSelection(IDC_COMBO_AUTO_MP_DEVNUM, s.ucAuto_mp_DevNum > 0 ? s.ucAuto_mp_DevNum - 1 : 0);
    v.vSetCheck(IDC_CHECK_USB_STATUS, s.ucCheck_USBStatus_enable == 1);
    v.vSetListSelection(IDC_COMBO_USB_STATUS, s.ucCheck_USBStatus);
    v.vSetCheck(IDC_CHECK_CONFIG_CHECK, s.ucConfig_Check == 1);
    v.vSetCheck(IDC_CHECK_SN_CHK_HEX, s.ucCheck_SerialNumber == 1);
    v.vSetCheck(IDC_CHECK_SN_INCREASE, s.ucSerial_number_increase != 0);
    v.vSetListSelection(IDC_COMBO_SN_INCREASE, s.ucSerial_number_increase);
    v.vSetCheck(IDC_RADIO_SN_HEX, s.ucSerial_number_increase_Hex == 1);
    v.vSetCheck(IDC_RADIO_SN_DEC, s.ucSerial_number_increase_Dec == 1);
    v.vSetCheck(IDC_CHECK_INPUT_BARCODE, s.ucScan_BarCode == 1);
    v.vSetCheck(IDC_CHECK_INPUT_HDDSN, s.ucScan_HDDSN == 1);
    v.vSetCheck(IDC_CHECK_AUTO_SAFE_REMOVE, s.ucAuto_Safe_Remove == 1);
    v.vSetText(IDC_EDIT_SECONDS, std::to_string(s.uiRemove_after_finish));
    v.vSetCheck(IDC_CHECK_FORMAT, s.ucFormat_enable == 1);
    v.vSetListSelection(IDC_COMBO_FORMAT_TYPE, s.ucFormat_drive_type);
    v.vSetListSelection(IDC_COMBO_PARTITION_TYPE, s.ucPartition_drive_type);
    v.vSetText(IDC_EDIT_DRIVE_LABEL, s.ucDrive_label_name);
    v.vSetCheck(IDC_CHECK_WR_TEST, s.ucWr_test_enable == 1);
    v.vSetCheck(IDC_CHECK_SPEED_TEST, s.ucSpeed_test_enable == 1);
    v.vSetText(IDC_EDIT_READ_SPEED, s.ucRead_speed);
    v.vSetText(IDC_EDIT_WRITE_SPEED, s.ucWrite_speed);
    v.vSetCheck(IDC_CHECK_PRELOAD, s.ucPreload_enable == 1);
    v.vSetCheck(IDC_CHECK_CAPACITY, s.ucHDDCapacityCheck_enable == 1);
    v.vSetText(IDC_EDIT_CAPACITY, s.ucHDDCapacity_Threshold);
    v.vSetCheck(IDC_CHECK_SLT, s.ucRunSlt_enable == 1);
    const uint8_t slt[] = {s.ucSlt_up_port_10gx2_en,   s.ucSlt_up_port_10gx1_en,  s.ucSlt_up_port_5gx2_en,
                           s.ucSlt_up_port_5gx1_en,    s.ucSlt_up_port_20_en,     s.ucSlt_down_port_10gx2_en,
                           s.ucSlt_down_port_10gx1_en, s.ucSlt_down_port_5gx2_en, s.ucSlt_down_port_5gx1_en,
                           s.ucSlt_down_port_20_en};
    for (int i = 0; i < 10; ++i) v.vSetCheck(IDC_CHECK_SLT_FIRST + i, slt[i] == 1);
    vSetDeviceFirmwareGUIByINIFile();
    vSetPreloadPathGUIByINIFile();
    vSetMoreConfigGUIByINIFile();
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::vRefreshAllFields", "vRefreshAllFields: dwErrorCode %d", errno);
  }
}

void CMPToolDlg::vInsertNewest(std::vector<std::string>& list, const std::string& strEntry) {
  list.insert(list.begin(), strEntry);
  if (list.size() > 5) list.resize(5);
}

void CMPToolDlg::vSetDeviceFirmwareGUIByINIFile() {
  try {
    std::string strPath = m_ini.m_pINI.ucFw_binary_name;
    // A name without a folder is one in the program folder, as the run takes it.
    if (!strPath.empty() && strPath[0] != '/') strPath = m_utility.m_szAppPath + "/" + strPath;
    vInsertNewest(m_vecFWBrowse, strPath);
    view().vSetList(IDC_COMBO_FW_BROWSE, m_vecFWBrowse);
    view().vSetListSelection(IDC_COMBO_FW_BROWSE, 0);
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::vSetDeviceFirmwareGUIByINIFile",
                      "vSetDeviceFirmwareGUIByINIFile: iFWBrowseCurCount : %d , dwErrorCode %d", 0, errno);
  }
}

void CMPToolDlg::vSetPreloadPathGUIByINIFile() {
  try {
    vInsertNewest(m_vecPreloadPaths, m_ini.m_pINI.ucPreload_folder_path);
    view().vSetList(IDC_COMBO_PRELOAD, m_vecPreloadPaths);
    view().vSetListSelection(IDC_COMBO_PRELOAD, 0);
  } catch (...) {
    vDEBUG_ERR_printf("CMPToolDlg::vSetPreloadPathGUIByINIFile",
                      "vSetPreloadPathGUIByINIFile: iPreloadPathCurCount : %d , dwErrorCode %d", 0, errno);
  }
}

namespace {
// The window's descriptor fields as the image builder's form: what it reads and writes are
// the controls themselves, so a configuration ROM file's texts show in the window.
class CWindowConfigForm : public IConfigForm {
 public:
  explicit CWindowConfigForm(CMPToolDlg& dlg) : m_dlg(dlg) {}
  ConfigFormTexts stReadConfigTexts() override {
    IMainView& v = m_dlg.view();
    ConfigFormTexts t;
    t.m_strEditDeviceConfigurationVendorID = v.strGetText(IDC_EDIT_VID);
    t.m_strEditDeviceConfigurationProductID = v.strGetText(IDC_EDIT_PID);
    t.m_strEditDeviceConfigurationProductIDU2 = v.strGetText(IDC_EDIT_PID_U2);
    t.m_strEditDeviceConfigurationContainerID = v.strGetText(IDC_EDIT_CONTAINER_ID);
    t.m_strEditDeviceConfigurationDeviceRevision = v.strGetText(IDC_EDIT_REVISION);
    t.m_strEditDeviceConfigurationSerialNumber = v.strGetText(IDC_EDIT_SERIAL_NUMBER);
    t.m_strEditDeviceConfigurationManufacturerString = v.strGetText(IDC_EDIT_MANUFACTURER);
    t.m_strEditDeviceConfigurationProductString = v.strGetText(IDC_EDIT_PRODUCT);
    return t;
  }
  void vWriteConfigTexts(const ConfigFormTexts& t) override {
    IMainView& v = m_dlg.view();
    v.vSetText(IDC_EDIT_VID, t.m_strEditDeviceConfigurationVendorID);
    v.vSetText(IDC_EDIT_PID, t.m_strEditDeviceConfigurationProductID);
    v.vSetText(IDC_EDIT_PID_U2, t.m_strEditDeviceConfigurationProductIDU2);
    v.vSetText(IDC_EDIT_CONTAINER_ID, t.m_strEditDeviceConfigurationContainerID);
    v.vSetText(IDC_EDIT_REVISION, t.m_strEditDeviceConfigurationDeviceRevision);
    v.vSetText(IDC_EDIT_SERIAL_NUMBER, t.m_strEditDeviceConfigurationSerialNumber);
    v.vSetText(IDC_EDIT_MANUFACTURER, t.m_strEditDeviceConfigurationManufacturerString);
    v.vSetText(IDC_EDIT_PRODUCT, t.m_strEditDeviceConfigurationProductString);
  }
  void vEnableConfigFields(bool bEnable) override {
    for (int id : {IDC_EDIT_VID, IDC_EDIT_PID, IDC_EDIT_PID_U2, IDC_EDIT_CONTAINER_ID, IDC_EDIT_REVISION,
                   IDC_EDIT_SERIAL_NUMBER, IDC_EDIT_MANUFACTURER, IDC_EDIT_PRODUCT})
      m_dlg.view().vEnableControl(id, bEnable);
  }
  void vShowFirmwareList(const std::vector<std::string>& vecPaths, int nSelected) override {
    m_dlg.m_vecFWBrowse = vecPaths;
    m_dlg.view().vSetList(IDC_COMBO_FW_BROWSE, vecPaths);
    m_dlg.view().vSetListSelection(IDC_COMBO_FW_BROWSE, nSelected);
  }

 private:
  CMPToolDlg& m_dlg;
};
}  // namespace

std::unique_ptr<IConfigForm> CMPToolDlg::pNewConfigForm() {
  return std::make_unique<CWindowConfigForm>(*this);
}
