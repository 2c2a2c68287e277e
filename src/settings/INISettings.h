// The settings record: every production choice of the tool, loaded from and stored to the
// settings file "vlnhub.ini". Zero (or an empty text) is the default of every field; a load
// starts from a cleared record.
//
// Texts are single-byte strings of at most INI_TEXT_MAX (254) characters, the size the
// settings file has always allowed; the loader cuts longer values. Numbers are unsigned bytes
// unless the field is marked 32-bit (signed). Flags are 0 (off) or 1 (on); the loader stores
// whatever number the file gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t INI_TEXT_MAX = 254;    // longest text a settings field holds
constexpr int INI_FILE_VERSION = 1005;  // format number written to and accepted from the file
constexpr const char* INI_DEFAULT_FILE_NAME = "vlnhub.ini";

struct INISettings {
  int32_t uiVersion = 0;                            // version: format number of the file loaded
  uint8_t ucFormat_enable = 0;                      // format_enable: "Partition / Format" step
  uint8_t ucFormat_drive_type = 0;                  // format_drive_type: 0 allows a 32-char label, else 11
  std::string ucDrive_label_name;                   // drive_label_name
  uint8_t ucWr_test_enable = 0;                     // wr_test_enable: "W/R Test" step
  uint8_t ucSpeed_test_enable = 0;                  // Speed_test_enable: "Speed Test" step
  std::string ucWr_test_binary_name;                // wr_test_binary_name
  uint8_t ucWr_test_count = 0;                      // wr_test_count
  uint8_t ucAuto_mp = 0;                            // auto_mp: "MP Auto Mode"
  uint8_t ucAuto_mp_DevNum = 0;                     // auto_mp_DevNum: devices auto mode waits for
  uint8_t ucPreload_enable = 0;                     // preload_enable: "Preload Files" step
  std::string ucPreload_folder_path;                // preload_folder_path
  uint8_t ucRunSlt_enable = 0;                      // run_slt_enable: "SLT" step
  uint8_t ucSlt_up_port_10gx2_en = 0;               // slt_up_stream_port_10g_x2
  uint8_t ucSlt_up_port_10gx1_en = 0;               // slt_up_stream_port_10g_x1
  uint8_t ucSlt_up_port_5gx2_en = 0;                // slt_up_stream_port_5g_x2
  uint8_t ucSlt_up_port_5gx1_en = 0;                // slt_up_stream_port_5g_x1
  uint8_t ucSlt_up_port_20_en = 0;                  // slt_up_stream_port_20
  uint8_t ucSlt_down_port_10gx2_en = 0;             // slt_down_stream_port_10g_x2
  uint8_t ucSlt_down_port_10gx1_en = 0;             // slt_down_stream_port_10g_x1
  uint8_t ucSlt_down_port_5gx2_en = 0;              // slt_down_stream_port_5g_x2
  uint8_t ucSlt_down_port_5gx1_en = 0;              // slt_down_stream_port_5g_x1
  uint8_t ucSlt_down_port_20_en = 0;                // slt_down_stream_port_20
  uint8_t ucPartition_drive_type = 0;               // partition_drive_type
  uint8_t ucCheck_USBStatus_enable = 0;             // Check_USBStatus_enable: "USB Status" check
  uint8_t ucCheck_USBStatus = 0;                    // Check_USBStatus: index of the chosen status
  uint8_t ucCheck_SerialNumber = 0;                 // Check_SerialNumber: "S/N CHK HEX"
  uint8_t ucAuto_Safe_Remove = 0;                   // Auto_Safe_Remove
  uint8_t ucScan_BarCode = 0;                       // Scan_BarCode
  uint8_t ucScan_HDDSN = 0;                         // Scan_HDDSN
  uint8_t ucHDDCapacityCheck_enable = 0;            // HDDCapacityCheck
  std::string ucHDDCapacity_Threshold;              // HDDCapacity_Threshold (gigabytes, as text)
  uint8_t ucSN_EditType = 0;                        // SN_EditType: serial-number source 0..4
  uint8_t ucPort_mapping_enable = 0;                // port_mapping_enable
  uint8_t ucFw_enablel = 0;                         // fw_enable: "Update F/W"
  std::string ucFw_binary_name;                     // fw_binary_name: hub firmware file
  uint8_t ucFw_reload = 0;                          // fw_reload: "Reload F/W"
  int32_t uiRescan_after_relink = 0;                // rescan_after_relink: carried through the file only
  int32_t uiRemove_after_finish = 0;                // uiRemove_after_finish: seconds before safe removal
  int32_t uiExt_fw_enable = 0;                      // ext_fw_enable
  int32_t ucPDFw_enablel = 0;                       // pd_fw_enable (32-bit)
  int32_t ucMCUFw_enablel = 0;                      // mcu_fw_enable (32-bit)
  std::string ucPd_binary_name;                     // pd_binary_name
  std::string ucMcu_binary_name;                    // mcu_binary_name
  uint8_t ucConfig_format = 0;                      // config_format: 1 is the only format built
  std::string ucVendor_id;                          // vendor_id: 4 hex digits
  std::string ucProduct_id;                         // product_id: 4 hex digits
  std::string ucDevice_revision;                    // device_revision: 4 hex digits
  std::string ucManufacturer_string;                // manufacturer_string
  std::string ucProduct_string;                     // product_string
  std::string ucSerial_number;                      // serial_number: of the next device
  uint8_t ucSerial_number_increase = 0;             // serial_number_increase: "S/N Increase"
  int32_t ucSerial_number_increase_Hex = 0;         // serial_number_increase_HEX (32-bit)
  int32_t ucSerial_number_increase_Dec = 0;         // serial_number_increase_DEC (32-bit)
  int32_t uiSN_remain_value_enable = 0;             // SN_remain_value_enable: 0 or 1
  int32_t uiSN_remain_value_length = 0;             // SN_remain_value_length: fixed prefix, 0..20
  int32_t uiSN_fix_length = 0;                      // SN_fix_length: 0, or 12..20
  int32_t uiSN_Numbers = 0;                         // SN_Numbers: barcode length; read, never written
  uint8_t ucConfig_Check = 0;                       // check_config: "Config Check"
  uint8_t ucIdle_timer = 0;                         // set from the main window, never in the file
  uint8_t ucImage0 = 0;                             // image0
  uint8_t ucImage1 = 0;                             // image1
  uint8_t ucCrc32 = 0;                              // crc32: CRC-32 of the flash image
  uint8_t ucCd_rom_mode = 0;                        // cd_rom_mode
  std::string ucRead_speed;                         // read_speed
  std::string ucWrite_speed;                        // write_speed
  std::string ucSpeed_test_file_size;               // speed_test_file_size
  uint8_t ucAuto_install_filter_driver_enable = 0;  // auto_install_filter_driver_enable
  std::string ucTarget_chip;                        // never in the file
  std::string ucProduct_id_hub2;                    // product_id_hub2: PID of the USB 2.0 half
  std::string ucContainer_string;                   // container_string: 32 hex digits
  uint8_t ucBc_enable_port1 = 0;                    // bc_enable_port1 (always 0 after a load)
  uint8_t ucBc_enable_port2 = 0;                    // bc_enable_port2
  uint8_t ucBc_enable_port3 = 0;                    // bc_enable_port3
  uint8_t ucBc_enable_port4 = 0;                    // bc_enable_port4
  uint8_t ucU1U2 = 0;                               // U1U2
  uint8_t ucPMU = 0;                                // PMU
  uint8_t ucLPM = 0;                                // LPM
  uint8_t ucTL = 0;                                 // TL: two-LED flag (always 0 after a load)

  bool operator==(const INISettings&) const = default;
};

// Configuration length limits read by the field editors, the serial-number code and the
// settings check.
struct ConfigLengthLimits {
  uint8_t m_ucConfig_VID_Len = 4;
  uint8_t m_ucConfig_PID_Len = 4;
  uint8_t m_ucConfig_Rev_Len = 4;
  uint8_t m_ucConfig_SN_Len = 20;
  uint8_t m_ucConfig_Manufacturer_Len = 44;
  uint8_t m_ucConfig_Product_Len = 48;
  uint8_t m_ucDevice_DiskLabel_Len = 32;  // 32 when ucFormat_drive_type is 0, else 11
};
