// What the production-run engine needs from the main window: the result table's cells, the
// two progress bars, the pictures, the counter boxes, the control state, the serial-number
// box, message boxes and the serial-number entry dialog. The window's view implements it
// (widgets in window mode, nothing to show in the window-less modes, a recorder in tests).
//
// Every call is made on the window thread (the engine routes calls from its threads through
// IWindowThread), so implementations need no locking of their own.
#pragma once

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>

#include "host/WindowThread.h"

// Colours as 0x00BBGGRR, the classic COLORREF layout.
constexpr uint32_t RunRGB(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<uint32_t>(r) | (static_cast<uint32_t>(g) << 8) | (static_cast<uint32_t>(b) << 16);
}
constexpr uint32_t RUN_RGB_GREEN = RunRGB(0, 200, 0);
constexpr uint32_t RUN_RGB_RED = RunRGB(255, 0, 0);
constexpr uint32_t RUN_RGB_BLUE = RunRGB(0, 0, 255);
constexpr uint32_t RUN_RGB_ORANGE = RunRGB(255, 165, 0);
constexpr uint32_t RUN_RGB_WHITE = RunRGB(255, 255, 255);
constexpr uint32_t RUN_RGB_BLACK = RunRGB(0, 0, 0);
constexpr uint32_t RUN_RGB_PURE_GREEN = RunRGB(0, 255, 0);

// The control states of the main window.
enum class ERunControls {
  Normal,    // vSetNormalControls (the window applies its R&D mode itself)
  AutoMode,  // vSetAutoModeControls
  Run,       // vSetRunControls
};

enum class ERunPicture { Pass, Fail };  // controls 1103 and 1102

// The screen fields the run reads (the window's descriptor fields and lists). The window
// keeps them; vReadScreen copies the controls into them, like reading all controls into
// their fields before a run.
struct RunScreen {
  std::string strVID;            // m_strEditDeviceConfigurationVendorID
  std::string strPID;            // m_strEditDeviceConfigurationProductID
  std::string strPIDU2;          // second product id (USB 2.0 half)
  std::string strRevision;       // m_strEditDeviceConfigurationDeviceRevision
  std::string strSerialNumber;   // m_strEditDeviceConfigurationSerialNumber and its box
  std::string strManufacturer;   // m_strEditDeviceConfigurationManufacturerString
  std::string strProduct;        // m_strEditDeviceConfigurationProductString
  std::string strContainerID;    // m_strEditDeviceConfigurationContainerID
  std::string strFWPath;         // m_strComboBoxDeviceFirmwareFWBrowse
  std::string strUSBStatus;      // selected text of the USB status list ("USB 3.0", ...)
  bool bIdleTimerFirst = false;  // the "Idle Timer" list has its first entry selected
};

class IRunView {
 public:
  virtual ~IRunView() = default;
  // One result-table cell with its background and text colours.
  virtual void vSetCell(int nRow, int nColumn, const std::string& strText, uint32_t rgbBack,
                        uint32_t rgbText) = 0;
  // Run progress bar (control 1065): position 0..100, range reset, colour.
  virtual void vSetRunProgress(int nPos) = 0;
  virtual void vSetRunProgressColour(uint32_t rgb) = 0;
  // Percentage box (control 1028).
  virtual void vSetRunProgressText(const std::string& strText) = 0;
  // Scan progress bar (control 1029).
  virtual void vSetScanProgress(int nPos) = 0;
  virtual void vShowPicture(ERunPicture ePicture, bool bShow) = 0;
  // Pass, Fail and Total boxes (1024, 1025, 1026).
  virtual void vSetCounters(const std::string& strPass, const std::string& strFail,
                            const std::string& strTotal) = 0;
  virtual void vSetControls(ERunControls eState) = 0;
  virtual void vEnableStart(bool bEnable) = 0;
  // The serial-number box (control 1008).
  virtual void vSetSerialNumberBox(const std::string& strText) = 0;
  // Copies the controls into the fields; a view without controls leaves them as they are.
  virtual void vReadScreen(RunScreen& screen) = 0;
  // The descriptor fields still hold the tool's default values.
  virtual bool bScreenAtDefaults(const RunScreen& screen) = 0;
  virtual bool bRDMode() = 0;
  // A message box; returns IDOK, IDCANCEL, IDYES, IDNO...
  virtual int nMessageBox(const std::string& strText, const std::string& strCaption, uint32_t uFlags) = 0;
  // The serial-number entry dialog, modal. strSN receives the dialog's serial number
  // whatever the answer; true when closed with OK.
  virtual bool bRunSNDialog(std::string& strSN) = 0;
};
