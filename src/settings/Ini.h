// The settings object: owns the settings record and reads and writes the settings file; it
// also appends the dated result log after a run. main creates the one instance (pIni) and
// hands it by reference; tests make their own.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "host/DeviceList.h"
#include "host/FileIO.h"
#include "settings/INISettings.h"

// Operator message types, as the message boxes show them.
constexpr int INI_MSG_ERROR = 1;
constexpr int INI_MSG_TIMEOUT = 2;
constexpr int INI_MSG_WARNING = 3;
constexpr int INI_MSG_INFORMATION = 4;
constexpr int INI_MSG_QUESTION = 5;

// Shows one operator message (text and type). The application routes it to its message
// box or "ProgramMSG.txt"; tools and tests collect the texts.
using IniMessageFn = std::function<void(const std::string& strText, int nType)>;

// Result codes of vCheckINIType.
constexpr uint8_t INI_CHECK_OK = 0;
constexpr uint8_t INI_CHECK_TOO_LONG = 2;  // serial number, manufacturer or product
constexpr uint8_t INI_CHECK_UNEXPECTED = 3;
constexpr uint8_t INI_CHECK_SN_NOT_HEX = 4;
constexpr uint8_t INI_CHECK_LABEL_TOO_LONG = 5;

// A text the settings check refused and cleared: which key, what the file held, and the
// message the check showed.
struct IniRefusedField {
  std::string strKey;
  std::string strValue;
  std::string strMessage;
};

// Largest settings file the load reads. A complete file is about 2 KB; anything near this
// size is not a settings file, and reading it whole would only cost memory.
constexpr size_t INI_FILE_MAX_SIZE = size_t{1024} * 1024;

class Ini {
 public:
  explicit Ini(IniMessageFn fnMessage = {});

  INISettings m_pINI;                 // the settings record; other code reads and sets fields
  ConfigLengthLimits m_ConfigLimits;  // set by vSetConfigLengthLimits / vCheckINIType

  // Receives the value of auto_install_filter_driver_enable whenever a load meets that key
  // (the host utilities keep it as their automatic-install flag).
  std::function<void(uint8_t)> m_fnSetAutoInstallFilterDriver;
  // Local time of a result-log entry; the system's local time unless a test sets it.
  std::function<std::tm()> m_fnLocalTime;
  // Words written for a passed or failed step in the result log.
  std::string m_strPass = "PASS";
  std::string m_strFail = "FAIL";

  void vSetMessageFn(IniMessageFn fnMessage) { m_fnMessage = std::move(fnMessage); }

  // Reads a settings file into the record (cleared first). True when the file was read, no
  // version line other than 1005 was met and the record passed vCheckINIType. A file over
  // INI_FILE_MAX_SIZE, or one without a single setting in it (empty, binary, UTF-16), is
  // refused with its message and leaves the record as it was.
  bool vLoadINIFile(const std::string& strINIFilePath);
  // Empty after a load that read a file holding settings; otherwise the operator text of
  // why none were taken (missing, unreadable, too large, no setting). Runs that need the
  // file refuse to start with it.
  const std::string& strLoadProblem() const { return m_strLoadProblem; }
  // Writes the record to a file (eReplaceFile: a temporary file renamed over the old one,
  // through a link, keeping owner and mode). True when the record passed vCheckINIType and
  // the file was written. A text the last load refused and that is still empty is written
  // as the file held it, so a save never erases what the user wrote.
  bool vStoreINIFile(const std::string& strINIFilePath);
  // The texts the last load refused (cleared in the record), in the order of the checks.
  const std::vector<IniRefusedField>& vecRefusedAtLoad() const { return m_vecRefused; }
  // errno of the last failed store or result-log write (0 after a success).
  int nLastFileError() const { return m_nLastFileError; }
  // Failures the store injects, for tests of folders and files this process may not write.
  FileReplaceFaults m_storeFaults;
  // Checks the record's texts against the length limits; clears a refused field and shows
  // its message. 0 passed, else the code of the last failing check (INI_CHECK_*).
  uint8_t vCheckINIType();
  void vSetConfigLengthLimits();

  // The exact text vStoreINIFile writes for the current record.
  std::string strBuildINIText() const;

  // Appends the entry of device slot ucIndex to the day's result log "YYYYMMDD.log" in
  // strAppPath, with the header when the file is new. False after a failure.
  bool vLogMPResult(uint8_t ucIndex, const DeviceList& devList, const std::string& strAppPath);
  // The text vLogMPResult appends: header (when bWithHeader) then "\r\n" and the entry.
  std::string strBuildMPResultText(uint8_t ucIndex, const DevRecord& dev, const std::tm& tmNow,
                                   bool bWithHeader) const;
  // The default settings file in the program folder: "%s/vlnhub.ini".
  static std::string strDefaultINIPath(const std::string& strAppPath) {
    return strAppPath + "/" + INI_DEFAULT_FILE_NAME;
  }
  // "%s/%04d%02d%02d.log" for the given local time.
  static std::string strMPResultLogPath(const std::string& strAppPath, const std::tm& tmNow);

 private:
  void vShowMessage(const std::string& strText, int nType) const;
  bool bLoadLines(const std::string& strINIFilePath, const std::string& strContent, long long& nSettings);

  IniMessageFn m_fnMessage;
  std::string m_strLoadProblem;
  std::vector<IniRefusedField> m_vecRefused;
  int m_nLastFileError = 0;
};

// Why a production run without a window must not start with these settings, or empty. The
// serial-number dialog of edit type 3 (barcode) needs the window; a text the load refused
// (and cleared) must not reach the hubs empty: the serial number (unless the command line
// gives one), the manufacturer and the product strings, whenever the run writes the
// configuration table.
std::string strWindowlessRunRefusal(const Ini& ini, const std::string& strCmdLineSN);
