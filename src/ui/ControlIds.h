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
// The warning-message label has no number of its own in the resource; this one is ours.
constexpr int IDC_STATIC_WARNING_MSG = 1299;
