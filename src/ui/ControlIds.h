// Control ids of the main window, as its dialog resource numbers them. The views map them
// onto their widgets.
#pragma once

constexpr int IDC_BUTTON_EXIT = 1;
constexpr int IDC_BUTTON_LOAD_INI = 1000;
constexpr int IDC_BUTTON_SAVE_INI = 1001;
constexpr int IDC_BUTTON_UNLOCK_MPTOOL = 1002;
constexpr int IDC_COMBO_CONFIG_FORMAT = 1004;
constexpr int IDC_EDIT_VID = 1005;
constexpr int IDC_EDIT_PID = 1006;
constexpr int IDC_EDIT_REVISION = 1007;
constexpr int IDC_EDIT_SERIAL_NUMBER = 1008;
constexpr int IDC_COMBO_SN_INCREASE = 1009;
constexpr int IDC_EDIT_MANUFACTURER = 1010;
constexpr int IDC_EDIT_PRODUCT = 1011;
constexpr int IDC_CHECK_UPDATE_FW = 1013;
constexpr int IDC_BUTTON_BROWSE_FW = 1019;
constexpr int IDC_COMBO_FW_BROWSE = 1020;
constexpr int IDC_LIST_RESULT = 1021;
constexpr int IDC_BUTTON_START = 1022;
constexpr int IDC_BUTTON_SAFELY_REMOVE = 1023;
constexpr int IDC_EDIT_PASS = 1024;
constexpr int IDC_EDIT_FAIL = 1025;
constexpr int IDC_EDIT_TOTAL = 1026;
constexpr int IDC_BUTTON_CLEAR = 1027;
constexpr int IDC_EDIT_PROGRESS_TEXT = 1028;  // the run's percentage
constexpr int IDC_PROGRESS_SEARCH = 1029;     // the main progress bar ("USB Searching")
constexpr int IDC_COMBO_IDLE_TIMER = 1057;
constexpr int IDC_COMBO_USB_STATUS = 1060;
constexpr int IDC_STATIC_SEARCH = 1063;
constexpr int IDC_PROGRESS_RUN = 1065;  // run progress, with text
constexpr int IDC_BUTTON_CHECK_CONFIG = 1068;
constexpr int IDC_BUTTON_MIN = 1094;
constexpr int IDC_STATIC_VERSION = 1096;
constexpr int IDC_PICTURE_FAIL = 1102;
constexpr int IDC_PICTURE_PASS = 1103;
constexpr int IDC_BUTTON_PD = 1117;
constexpr int IDC_EDIT_CONTAINER_ID = 1201;
// The system-menu item of the about box.
constexpr int IDM_ABOUTBOX = 16;
// The warning-message label has no number of its own in the resource; this one is ours.
constexpr int IDC_STATIC_WARNING_MSG = 1299;

// Further controls of the window: the tool, descriptor and test-option controls the control
// states switch, and the labels and groups the views show.
constexpr int IDC_CHECK_UPDATE_CONFIG = 1012;
constexpr int IDC_CHECK_RELOAD_FW = 1014;
constexpr int IDC_CHECK_FORMAT = 1015;  // "Partition / Format"
constexpr int IDC_CHECK_WR_TEST = 1016;
constexpr int IDC_EDIT_DRIVE_LABEL = 1017;
constexpr int IDC_COMBO_FORMAT_TYPE = 1018;
constexpr int IDC_GROUP_DEVICE_CONFIG = 1030;
constexpr int IDC_GROUP_DEVICE_FUNCTION = 1031;
constexpr int IDC_BUTTON_BROWSE_PRELOAD = 1032;
constexpr int IDC_GROUP_FW_BROWSER = 1033;
constexpr int IDC_PICTURE_LOGO = 1044;
constexpr int IDC_STATIC_PASS = 1045;
constexpr int IDC_STATIC_FAIL = 1046;
constexpr int IDC_STATIC_TOTAL = 1047;
constexpr int IDC_STATIC_PROGRESS = 1048;
constexpr int IDC_COMBO_PRELOAD = 1050;
constexpr int IDC_COMBO_PARTITION_TYPE = 1055;
constexpr int IDC_CHECK_AUTO_MP = 1056;
constexpr int IDC_BUTTON_MORE_CONFIG = 1058;
constexpr int IDC_CHECK_USB_STATUS = 1059;
constexpr int IDC_CHECK_SPEED_TEST = 1061;
constexpr int IDC_CHECK_EXT_UPDATE_FW = 1062;
constexpr int IDC_GROUP_SERIAL_NUMBER = 1064;
constexpr int IDC_COMBO_AUTO_MP_DEVNUM = 1066;
constexpr int IDC_CHECK_CONFIG_CHECK = 1067;
constexpr int IDC_STATIC_SN_EDIT_TYPE = 1069;
constexpr int IDC_CHECK_SN_CHK_HEX = 1104;
constexpr int IDC_CHECK_AUTO_SAFE_REMOVE = 1105;
constexpr int IDC_CHECK_SN_INCREASE = 1108;
constexpr int IDC_EDIT_SECONDS = 1109;
constexpr int IDC_EDIT_READ_SPEED = 1111;
constexpr int IDC_EDIT_WRITE_SPEED = 1112;
constexpr int IDC_CHECK_INPUT_HDDSN = 1115;
constexpr int IDC_RADIO_SN_HEX = 1118;
constexpr int IDC_RADIO_SN_DEC = 1119;
constexpr int IDC_CHECK_CAPACITY = 1142;
constexpr int IDC_EDIT_CAPACITY = 1143;
constexpr int IDC_CHECK_SLT_FIRST = 1145;  // the ten SLT speed boxes: 1145 to 1154
constexpr int IDC_CHECK_SLT_LAST = 1154;
// Controls the resource leaves unnumbered; these numbers are ours.
constexpr int IDC_EDIT_PID_U2 = 1300;
constexpr int IDC_COMBO_SN_EDIT_TYPE = 1301;
constexpr int IDC_CHECK_INPUT_BARCODE = 1302;
constexpr int IDC_CHECK_PRELOAD = 1303;
constexpr int IDC_CHECK_SLT = 1304;
constexpr int IDC_BUTTON_CREATE_CONFIG = 1305;

// The PD dialog's controls. It is a window of its own, so some numbers repeat the main
// window's; a view serves the controls of one window.
constexpr int IDC_PD_CLOSE = 8;
constexpr int IDC_CHECK_MCU_FWUPG_ENABLE = 1056;
constexpr int IDC_CHECK_PD_FWUPG_ENABLE = 1057;
constexpr int IDC_BUTTON_PD_FIRMWARE_FWBROWSE = 1119;
constexpr int IDC_COMBO_PD_FIRMWARE_FWBROWSE = 1120;
constexpr int IDC_BUTTON_PD_START = 1121;
constexpr int IDC_STATIC_PD_FILE_VERSION = 1125;
constexpr int IDC_BUTTON_MCU_FIRMWARE_FWBROWSE = 1127;
constexpr int IDC_COMBO_MCU_FIRMWARE_FWBROWSE = 1128;
constexpr int IDC_BUTTON_PD_FW_VERIFY = 1141;
// Per port 0..3: marker picture, PD version read from the bridge, progress bar, status.
constexpr int IDC_PD_PORT_MARKER[4] = {1124, 1129, 1130, 1131};
constexpr int IDC_PD_PORT_VERSION[4] = {1122, 1132, 1133, 1134};
constexpr int IDC_PD_PORT_PROGRESS[4] = {1123, 1135, 1136, 1137};
constexpr int IDC_PD_PORT_STATUS[4] = {1126, 1138, 1139, 1140};
