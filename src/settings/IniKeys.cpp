#include "settings/IniKeys.h"

#include <cstring>

namespace {

using S = INISettings;

IniKeyDef B(const char* k, uint8_t S::*p, IniKeyRule r = IniKeyRule::Plain) {
  return {k, p, nullptr, nullptr, r};
}
IniKeyDef I(const char* k, int32_t S::*p, IniKeyRule r = IniKeyRule::Plain) {
  return {k, nullptr, p, nullptr, r};
}
IniKeyDef T(const char* k, std::string S::*p) {
  return {k, nullptr, nullptr, p, IniKeyRule::Plain};
}

}  // namespace

const std::vector<IniKeyDef> kIniKeys = {
    B("format_enable", &S::ucFormat_enable),
    B("format_drive_type", &S::ucFormat_drive_type),
    T("drive_label_name", &S::ucDrive_label_name),
    B("wr_test_enable", &S::ucWr_test_enable),
    B("Speed_test_enable", &S::ucSpeed_test_enable),
    T("wr_test_binary_name", &S::ucWr_test_binary_name),
    B("wr_test_count", &S::ucWr_test_count),
    B("auto_mp", &S::ucAuto_mp),
    B("auto_mp_DevNum", &S::ucAuto_mp_DevNum),
    B("preload_enable", &S::ucPreload_enable),
    T("preload_folder_path", &S::ucPreload_folder_path),
    B("run_slt_enable", &S::ucRunSlt_enable),
    B("slt_up_stream_port_10g_x2", &S::ucSlt_up_port_10gx2_en),
    B("slt_up_stream_port_10g_x1", &S::ucSlt_up_port_10gx1_en),
    B("slt_up_stream_port_5g_x2", &S::ucSlt_up_port_5gx2_en),
    B("slt_up_stream_port_5g_x1", &S::ucSlt_up_port_5gx1_en),
    B("slt_up_stream_port_20", &S::ucSlt_up_port_20_en),
    B("slt_down_stream_port_10g_x2", &S::ucSlt_down_port_10gx2_en),
    B("slt_down_stream_port_10g_x1", &S::ucSlt_down_port_10gx1_en),
    B("slt_down_stream_port_5g_x2", &S::ucSlt_down_port_5gx2_en),
    B("slt_down_stream_port_5g_x1", &S::ucSlt_down_port_5gx1_en),
    B("slt_down_stream_port_20", &S::ucSlt_down_port_20_en),
    B("partition_drive_type", &S::ucPartition_drive_type),
    B("Check_USBStatus_enable", &S::ucCheck_USBStatus_enable),
    B("Check_USBStatus", &S::ucCheck_USBStatus),
    B("Check_SerialNumber", &S::ucCheck_SerialNumber),
    B("Auto_Safe_Remove", &S::ucAuto_Safe_Remove),
    B("Scan_BarCode", &S::ucScan_BarCode),
    B("Scan_HDDSN", &S::ucScan_HDDSN),
    B("HDDCapacityCheck", &S::ucHDDCapacityCheck_enable),
    T("HDDCapacity_Threshold", &S::ucHDDCapacity_Threshold),
    B("SN_EditType", &S::ucSN_EditType),
    B("port_mapping_enable", &S::ucPort_mapping_enable),
    B("fw_enable", &S::ucFw_enablel),
    T("fw_binary_name", &S::ucFw_binary_name),
    B("fw_reload", &S::ucFw_reload),
    I("rescan_after_relink", &S::uiRescan_after_relink),
    I("uiRemove_after_finish", &S::uiRemove_after_finish),
    I("ext_fw_enable", &S::uiExt_fw_enable),
    I("pd_fw_enable", &S::ucPDFw_enablel),
    I("mcu_fw_enable", &S::ucMCUFw_enablel),
    T("pd_binary_name", &S::ucPd_binary_name),
    T("mcu_binary_name", &S::ucMcu_binary_name),
    B("config_format", &S::ucConfig_format),
    T("vendor_id", &S::ucVendor_id),
    T("product_id", &S::ucProduct_id),
    T("device_revision", &S::ucDevice_revision),
    T("manufacturer_string", &S::ucManufacturer_string),
    T("product_string", &S::ucProduct_string),
    T("serial_number", &S::ucSerial_number),
    B("serial_number_increase", &S::ucSerial_number_increase),
    I("serial_number_increase_HEX", &S::ucSerial_number_increase_Hex),
    I("serial_number_increase_DEC", &S::ucSerial_number_increase_Dec),
    I("SN_remain_value_enable", &S::uiSN_remain_value_enable, IniKeyRule::RemainEnable),
    I("SN_remain_value_length", &S::uiSN_remain_value_length, IniKeyRule::RemainLength),
    I("SN_fix_length", &S::uiSN_fix_length, IniKeyRule::FixLength),
    I("SN_Numbers", &S::uiSN_Numbers),
    B("check_config", &S::ucConfig_Check),
    B("image0", &S::ucImage0),
    B("image1", &S::ucImage1),
    B("crc32", &S::ucCrc32),
    B("cd_rom_mode", &S::ucCd_rom_mode),
    T("read_speed", &S::ucRead_speed),
    T("write_speed", &S::ucWrite_speed),
    T("speed_test_file_size", &S::ucSpeed_test_file_size),
    B("auto_install_filter_driver_enable", &S::ucAuto_install_filter_driver_enable, IniKeyRule::AutoInstall),
    T("product_id_hub2", &S::ucProduct_id_hub2),
    T("container_string", &S::ucContainer_string),
    B("bc_enable_port1", &S::ucBc_enable_port1, IniKeyRule::Ignored),
    B("bc_enable_port2", &S::ucBc_enable_port2, IniKeyRule::Ignored),
    B("bc_enable_port3", &S::ucBc_enable_port3, IniKeyRule::Ignored),
    B("bc_enable_port4", &S::ucBc_enable_port4, IniKeyRule::Ignored),
    B("U1U2", &S::ucU1U2),
    B("PMU", &S::ucPMU),
    B("LPM", &S::ucLPM),
    B("TL", &S::ucTL, IniKeyRule::Ignored),
};

const std::vector<const char*> kIniCountedHeaders = {"[SLT]",        "[Speed_Test]", "[usb_fw]",
                                                     "[usb_config]", "[usb_mode]",   "[Target_Selection]"};

namespace {
IniStoreLine H(const char* s) {
  return {IniStoreKind::Header, s};
}
IniStoreLine K(const char* s) {
  return {IniStoreKind::Key, s};
}
IniStoreLine E() {
  return {IniStoreKind::Empty, ""};
}
}  // namespace

const std::vector<IniStoreLine> kIniStoreOrder = {
    H("[ini_version]"),
    {IniStoreKind::VersionConst, "version"},
    H("[usb_func]"),
    K("format_enable"),
    K("format_drive_type"),
    K("partition_drive_type"),
    K("drive_label_name"),
    K("wr_test_enable"),
    K("wr_test_binary_name"),
    K("wr_test_count"),
    K("auto_mp"),
    K("auto_mp_DevNum"),
    K("preload_enable"),
    K("preload_folder_path"),
    K("Check_USBStatus_enable"),
    K("Check_USBStatus"),
    K("Check_SerialNumber"),
    K("Auto_Safe_Remove"),
    K("Scan_BarCode"),
    K("uiRemove_after_finish"),
    K("Speed_test_enable"),
    K("Scan_HDDSN"),
    K("check_config"),
    K("HDDCapacityCheck"),
    K("HDDCapacity_Threshold"),
    K("SN_EditType"),
    K("port_mapping_enable"),
    E(),
    H("[SLT]"),
    K("run_slt_enable"),
    K("slt_up_stream_port_10g_x2"),
    K("slt_up_stream_port_10g_x1"),
    K("slt_up_stream_port_5g_x2"),
    K("slt_up_stream_port_5g_x1"),
    K("slt_up_stream_port_20"),
    K("slt_down_stream_port_10g_x2"),
    K("slt_down_stream_port_10g_x1"),
    K("slt_down_stream_port_5g_x2"),
    K("slt_down_stream_port_5g_x1"),
    K("slt_down_stream_port_20"),
    E(),
    H("[Speed_Test]"),
    K("read_speed"),
    K("write_speed"),
    K("speed_test_file_size"),
    E(),
    H("[usb_fw]"),
    K("fw_enable"),
    K("fw_binary_name"),
    K("fw_reload"),
    K("rescan_after_relink"),
    K("ext_fw_enable"),
    K("pd_fw_enable"),
    K("mcu_fw_enable"),
    K("pd_binary_name"),
    K("mcu_binary_name"),
    E(),
    H("[usb_config]"),
    K("config_format"),
    K("vendor_id"),
    K("product_id"),
    K("product_id_hub2"),
    K("container_string"),
    K("device_revision"),
    K("manufacturer_string"),
    K("product_string"),
    K("serial_number"),
    K("serial_number_increase"),
    K("serial_number_increase_HEX"),
    K("serial_number_increase_DEC"),
    K("SN_fix_length"),
    K("SN_remain_value_enable"),
    K("SN_remain_value_length"),
    K("bc_enable_port1"),
    K("bc_enable_port2"),
    K("bc_enable_port3"),
    K("bc_enable_port4"),
    K("U1U2"),
    K("LPM"),
    K("PMU"),
    K("TL"),
    K("image0"),
    K("image1"),
    K("crc32"),
    E(),
    H("[usb_mode]"),
    K("cd_rom_mode"),
    E(),
    H("[Target_Selection]"),
    K("auto_install_filter_driver_enable"),
};

const IniKeyDef* pFindIniKey(const std::string& strKey) {
  for (const IniKeyDef& k : kIniKeys)
    if (strKey == k.pszKey) return &k;
  return nullptr;
}
