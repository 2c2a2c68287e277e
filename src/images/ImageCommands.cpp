#include "images/ImageCommands.h"

#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>

#include "images/FlashImage.h"
#include "images/HubFirmware.h"
#include "images/HubImages.h"
#include "platform/Clock.h"
#include "platform/Text.h"
#include "settings/Ini.h"

namespace {

using ordered_json = nlohmann::ordered_json;

constexpr auto strDump = strDumpCommandJson;
constexpr auto stUsageError = stCommandUsageError;

// Options of the form "--name VALUE" and the remaining positional arguments.
struct ParsedArgs {
  std::string strIni, strDevices, strFw;
  std::vector<std::string> vecPositional;
  std::string strError;
};

ParsedArgs stParse(const std::vector<std::string>& vecArgs, const std::vector<std::string>& vecAllowed) {
  ParsedArgs p;
  for (size_t i = 0; i < vecArgs.size(); ++i) {
    const std::string& a = vecArgs[i];
    if (a.rfind("--", 0) != 0) {
      p.vecPositional.push_back(a);
      continue;
    }
    bool bAllowed = false;
    for (const std::string& s : vecAllowed) bAllowed = bAllowed || s == a;
    if (!bAllowed || i + 1 >= vecArgs.size()) {
      p.strError = bAllowed ? a + " needs a value" : "unknown option " + a;
      return p;
    }
    const std::string& v = vecArgs[++i];
    if (a == "--ini") p.strIni = v;
    if (a == "--devices") p.strDevices = v;
    if (a == "--fw") p.strFw = v;
  }
  return p;
}

struct LoadedSettings {
  bool bLoaded = false;
  std::vector<std::string> vecMessages;
  Ini ini;
};

void vLoadSettings(LoadedSettings& s, const std::string& strPath) {
  s.ini.vSetMessageFn([&s](const std::string& strText, int) { s.vecMessages.push_back(strText); });
  s.bLoaded = s.ini.vLoadINIFile(strPath);
}

ordered_json jOptByte(bool bHas, unsigned v) {
  return bHas ? ordered_json(v) : ordered_json(nullptr);
}

}  // namespace

CommandOutput stRunFwInfo(const std::vector<std::string>& vecArgs, bool bJson) {
  if (vecArgs.size() != 1) return stUsageError("fw-info", "expected exactly one argument: FILE", bJson);
  const std::string& strPath = vecArgs[0];
  const FirmwareCheck c = stCheckHubFirmware(strPath);
  const bool bRom = bIsFirmwareRomFile(strPath);
  const ImageSignature sigOff = stImageSignatureFromName(strPath, false);
  const ImageSignature sigOn = stImageSignatureFromName(strPath, true);
  const EFirmwareKind eKind = eFirmwareKindOf(strPath);

  CommandOutput r;
  r.nExitCode = c.ucResult <= FW_MAX_HUB_TYPE ? 0 : 1;
  if (bJson) {
    ordered_json j;
    j["file"] = strPath;
    j["kind"] = pszFirmwareKindName(eKind);
    j["size"] = c.bOpened ? ordered_json(c.ullSize) : ordered_json(nullptr);
    j["version"] = c.bHasVersion ? ordered_json(c.strVersion) : ordered_json(nullptr);
    j["type_byte"] = jOptByte(c.bHasVersion, c.ucTypeByte);
    j["bMajorType"] = jOptByte(c.bHasVersion, c.ucMajorType);
    j["vIsValidHubFirmware"] = c.ucResult;
    j["bIsFirmwareRomFile"] = bRom;
    j["image_signature"] = {
        {"chars", sigOff.strChars},
        {"type", jOptByte(!sigOff.bNameTooShort, sigOff.ucType)},
        {"without_crc", jOptByte(!sigOff.bRefused, sigOff.ucSignature)},
        {"with_crc", jOptByte(!sigOn.bRefused, sigOn.ucSignature)},
    };
    r.strOut = strDump(j);
    return r;
  }
  std::string& o = r.strOut;
  o += "file: " + strPath + "\n";
  o += std::string("kind: ") + pszFirmwareKindName(eKind) + "\n";
  o += "size: " + (c.bOpened ? std::to_string(c.ullSize) : std::string("(not readable)")) + "\n";
  o += "version: " + (c.bHasVersion ? c.strVersion : std::string("-")) + "\n";
  o += "type byte: " + (c.bHasVersion ? strHexByte(c.ucTypeByte) : std::string("-")) + "\n";
  o += "bMajorType: " + (c.bHasVersion ? std::to_string(c.ucMajorType) : std::string("-")) + "\n";
  o += "vIsValidHubFirmware: " + std::to_string(c.ucResult) + " (" + strHexByte(c.ucResult) + ")\n";
  o += std::string("bIsFirmwareRomFile: ") + (bRom ? "true" : "false") + "\n";
  o += "image signature: name characters \"" + sigOff.strChars + "\"";
  if (sigOff.bNameTooShort)
    o += ", name too short for a type";
  else
    o += ", type " + std::to_string(sigOff.ucType);
  o += ", without CRC " + (sigOff.bRefused ? std::string("refused") : strHexByte(sigOff.ucSignature));
  o += ", with CRC " + (sigOn.bRefused ? std::string("refused") : strHexByte(sigOn.ucSignature)) + "\n";
  return r;
}

CommandOutput stRunConfigTable(const std::vector<std::string>& vecArgs, bool bJson) {
  const char* kCmd = "config-table";
  ParsedArgs p = stParse(vecArgs, {"--ini", "--devices", "--fw"});
  if (!p.strError.empty()) return stUsageError(kCmd, p.strError, bJson);
  if (p.strIni.empty() || p.strDevices.empty() || !p.vecPositional.empty())
    return stUsageError(kCmd, "usage: --ini FILE --devices N [--fw FILE]", bJson);
  int nDevices = 0;
  try {
    size_t nUsed = 0;
    nDevices = std::stoi(p.strDevices, &nUsed);
    if (nUsed != p.strDevices.size()) nDevices = 0;
  } catch (...) {
    nDevices = 0;
  }
  if (nDevices < 1 || nDevices > MAX_DEV_RECORDS)
    return stUsageError(kCmd, "--devices takes a number from 1 to 16", bJson);

  CommandOutput r;
  LoadedSettings s;
  vLoadSettings(s, p.strIni);
  uint8_t ucType = 0;
  if (!p.strFw.empty()) ucType = vIsValidHubFirmware(p.strFw);
  auto jMessages = [&](const std::vector<std::string>& v) { return ordered_json(v); };
  if (!s.bLoaded) {
    r.nExitCode = 1;
    r.strErr = "mptool-util config-table: settings file not loaded: " + p.strIni + "\n";
    for (const std::string& m : s.vecMessages) r.strErr += "  " + m + "\n";
    if (bJson)
      r.strOut = strDump(
          ordered_json{{"error", "settings file not loaded"}, {"messages", jMessages(s.vecMessages)}});
    return r;
  }

  CScaledClock clock(0);
  USBUtilityOptions opt;
  opt.strAppPath = "/nonexistent";  // nothing is written by this command
  CUSBUtility utility(clock, opt);
  CCollectingMessageView view;
  utility.vSetMessageView(&view);
  DeviceList devList;
  devList.DevNums = nDevices;
  CConfigFormFields form;
  form.m_texts = stConfigTextsFromSettings(s.ini.m_pINI);
  CHubImages images(utility, s.ini.m_pINI, devList, form);
  images.m_bShowGUI = false;
  const ESetConfigResult eRes = images.vSetHubConfigInfo(ucType);
  if (eRes != ESetConfigResult::Built) {
    r.nExitCode = nCommandLineExitCode(eRes);
    const std::string strErr = "firmware type " + strHexByte(ucType) + " is not 0 to 3: no tables built";
    r.strErr = "mptool-util config-table: " + strErr + "\n";
    if (bJson) r.strOut = strDump(ordered_json{{"error", strErr}, {"vIsValidHubFirmware", ucType}});
    return r;
  }
  std::vector<std::string> vecTables;
  vecTables.reserve(nDevices);
  for (int i = 0; i < nDevices; ++i)
    vecTables.push_back(strHexBytes(devList.dev[i].ucConfigBlock.data(), CONFIG_BIN_SIZE));
  if (bJson) {
    ordered_json j;
    j["devices"] = nDevices;
    j["firmware_type"] = ucType;
    j["config_format"] = s.ini.m_pINI.ucConfig_format;
    j["tables"] = vecTables;
    j["messages"] = jMessages(s.vecMessages);
    r.strOut = strDump(j);
    return r;
  }
  for (const std::string& m : s.vecMessages) r.strErr += "message: " + m + "\n";
  for (int i = 0; i < nDevices; ++i) {
    r.strOut += "table " + std::to_string(i) + ":\n";
    for (int row = 0; row < 16; ++row) {
      char sz[8];
      std::snprintf(sz, sizeof sz, "  %02X: ", row * 16);
      r.strOut += sz + vecTables[i].substr(static_cast<size_t>(row) * 32, 32) + "\n";
    }
  }
  return r;
}

CommandOutput stRunMakeConfigRom(const std::vector<std::string>& vecArgs, bool bJson,
                                 const USBUtilityOptions& options) {
  const char* kCmd = "make-config-rom";
  ParsedArgs p = stParse(vecArgs, {"--ini"});
  if (!p.strError.empty()) return stUsageError(kCmd, p.strError, bJson);
  if (p.strIni.empty() || p.vecPositional.size() != 1)
    return stUsageError(kCmd, "usage: --ini FILE FW", bJson);
  const std::string& strFW = p.vecPositional[0];

  CommandOutput r;
  LoadedSettings s;
  vLoadSettings(s, p.strIni);
  if (!s.bLoaded) {
    r.nExitCode = 1;
    r.strErr = "mptool-util make-config-rom: settings file not loaded: " + p.strIni + "\n";
    for (const std::string& m : s.vecMessages) r.strErr += "  " + m + "\n";
    if (bJson)
      r.strOut = strDump(ordered_json{{"error", "settings file not loaded"}, {"messages", s.vecMessages}});
    return r;
  }

  CScaledClock clock(0);
  CUSBUtility utility(clock, options);
  CCollectingMessageView view;
  utility.vSetMessageView(&view);
  DeviceList devList;
  CConfigFormFields form;
  form.m_texts = stConfigTextsFromSettings(s.ini.m_pINI);
  CHubImages images(utility, s.ini.m_pINI, devList, form);
  images.m_bShowGUI = true;  // the button's own messages, collected by the view

  const uint8_t ucType = vIsValidHubFirmware(strFW);
  const ECreateConfigResult eRes = images.OnBnClickedCreateConfig(strFW);
  const std::string strRom = images.strConfigRomFilePath(strFW);
  const char* pszResult = "failed";
  switch (eRes) {
    case ECreateConfigResult::Created:
      pszResult = "created";
      r.nExitCode = 0;
      break;
    case ECreateConfigResult::AlreadyConfigRom:
      pszResult = "already-config-rom";
      r.nExitCode = 1;
      break;
    case ECreateConfigResult::InvalidFirmwareType:
      pszResult = "invalid-firmware-type";
      r.nExitCode = EXIT_INVALID_FW_TYPE;
      break;
    case ECreateConfigResult::Failed:
      pszResult = "failed";
      r.nExitCode = 1;
      break;
  }
  std::vector<std::string> vecMessages = s.vecMessages;
  for (const std::string& m : view.vecTexts()) vecMessages.push_back(m);
  if (bJson) {
    ordered_json j;
    j["result"] = pszResult;
    j["program_folder"] = utility.m_szAppPath;
    j["config_rom"] = eRes == ECreateConfigResult::Created ? ordered_json(strRom) : ordered_json(nullptr);
    j["image"] = images.strTempBinDataFilePath();
    j["vIsValidHubFirmware"] = ucType;
    j["messages"] = vecMessages;
    r.strOut = strDump(j);
    return r;
  }
  if (eRes == ECreateConfigResult::Created) r.strOut = strRom + "\n";
  for (const std::string& m : vecMessages) r.strErr += m + "\n";
  if (eRes != ECreateConfigResult::Created)
    r.strErr += std::string("mptool-util make-config-rom: ") + pszResult + "\n";
  return r;
}
