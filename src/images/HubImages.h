// The configuration tables of every device, the flash image file, configuration ROM files
// and the firmware list file: the code behind Start's preparation, "Create Config" and the
// firmware browse handlers. One object per window; it works on the window thread before a
// run's workers start, and they only read what it built.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/DeviceList.h"
#include "host/USBUtility.h"
#include "images/ConfigForm.h"
#include "images/ConfigTable.h"
#include "settings/INISettings.h"

// Process exit codes the command-line modes end with. The window never ends the process:
// it shows the refusal instead.
constexpr int EXIT_INVALID_FW_TYPE = -13;     // tables asked for with a type outside 0..3
constexpr int EXIT_INVALID_CONFIG_ROM = -10;  // a configuration ROM file with a bad signature

enum class ESetConfigResult {
  Built,                // every device's table was filled (all 0xFF for another format)
  InvalidFirmwareType,  // type outside 0..3: nothing was written
  Failed,               // an unexpected error part-way (logged)
};

enum class EReadConfigResult {
  Loaded,            // table, image file, window texts and settings taken from the file
  InvalidSignature,  // signature not 4B/3C/2D, or the file is shorter than its table
  InvalidChecksum,
  Failed,  // not readable, or the image file could not be written
};

enum class ECreateConfigResult {
  Created,
  AlreadyConfigRom,     // "Error! %s is already a Config Rom File" was shown
  InvalidFirmwareType,  // refused by the table builder
  Failed,               // flash image or ROM file not written
};

// Why the last image build failed (Ok after a success).
enum class EImageFailure {
  Ok,
  FolderOrFile,  // the image folder or file could not be made
  FirmwareRead,  // the firmware file could not be read whole
  FirmwareSize,  // empty, or more than 65,536 bytes
  RefusedType,   // the file name gives no signature for this CRC option
  CrcRead,       // the re-read for the CRC failed or differed
  ImageWrite,
  ConfigRomWrite,
};

// The exit code a command-line mode ends with for a result, 0 when it goes on.
int nCommandLineExitCode(ESetConfigResult eResult);
int nCommandLineExitCode(EReadConfigResult eResult);

class CHubImages {
 public:
  CHubImages(CUSBUtility& utility, INISettings& ini, DeviceList& devList, IConfigForm& form);

  // Set by the window from its command line: window mode, and the serial number given there.
  bool m_bShowGUI = true;
  std::string m_strCmdLineSN;

  ConfigTable m_ucConfigTable{};  // the working table, rebuilt for each device

  // Fills the table of every device in the list (one when the list is empty) for the
  // firmware type. A type outside 0..3 writes nothing; in window mode it shows the refusal,
  // in command-line mode the caller ends with nCommandLineExitCode (-13).
  ESetConfigResult vSetHubConfigInfo(uint8_t ucFwType);

  // Loads a configuration ROM file: its table into the first device, its image into
  // "TempBinData.bin", its identity into the window texts and the settings record. Refusals
  // show their warning (to "ProgramMSG.txt" in command-line mode) and change nothing.
  EReadConfigResult vReadConfigFromFile(const std::string& strFilePath);

  // A run with a configuration ROM file as firmware: every device in the list (one when it
  // is empty) gets the table vReadConfigFromFile loaded last, each with its own serial
  // number counted from the table's as vSetHubConfigInfo counts the window's (the checksum
  // made to match); the window's PID_U2 text becomes the table's, which the hubs' USB 2.0
  // halves report from now on. False, and nothing changed, when no file was loaded.
  bool vSetHubConfigFromRom();

  // True when the window still shows the tool's default configuration.
  bool bIsDefaultConfiguration();

  // Writes "TempBinData.bin" from the firmware file. True only with a valid signature; on
  // any failure the image file is left empty, so no invalid image can reach a hub.
  bool vCreateTempBinDataFile(uint8_t ucCrc, const std::string& strFWFilePath);
  // Writes the image and the configuration ROM file (first device's table + image).
  bool vCreateConfigRomFile(uint8_t ucCrc, const std::string& strFWFilePath);
  EImageFailure eLastImageFailure() const { return m_eLastImageFailure; }

  // "Create Config" with the firmware list's text.
  ECreateConfigResult OnBnClickedCreateConfig(const std::string& strFirmwareListText);

  // Replaces "BrowsedBINPath.txt" in the program folder by exactly the text.
  bool vSaveBINBrowseList(const std::string& strText);

  // Paths of this program folder.
  std::string strTempBinDataFilePath() const;
  std::string strConfigRomFilePath(const std::string& strFWFilePath) const;

  CUSBUtility& utility() { return m_utility; }
  INISettings& ini() { return m_ini; }
  DeviceList& devList() { return m_devList; }

 private:
  int nShowMessage(const std::string& strText, uint8_t ucType);

  CUSBUtility& m_utility;
  INISettings& m_ini;
  DeviceList& m_devList;
  IConfigForm& m_form;
  EImageFailure m_eLastImageFailure = EImageFailure::Ok;
  std::optional<ConfigTable> m_optConfigRomTable;  // the table of the last loaded ROM file
};
