#include "settings/SettingsCommands.h"

#include <nlohmann/json.hpp>

#include "settings/Ini.h"
#include "settings/IniKeys.h"
#include "settings/SerialNumber.h"

namespace {

using ordered_json = nlohmann::ordered_json;

const char* pszMessageType(int nType) {
  switch (nType) {
    case INI_MSG_ERROR:
      return "Error";
    case INI_MSG_TIMEOUT:
      return "TimeOut";
    case INI_MSG_WARNING:
      return "Warning";
    case INI_MSG_INFORMATION:
      return "Information";
    case INI_MSG_QUESTION:
      return "Question";
    default:
      return "Message";
  }
}

constexpr auto strDump = strDumpCommandJson;
constexpr auto stUsageError = stCommandUsageError;

// The keys in the order a store writes them, then the keys only a load reads.
std::vector<std::string> vecFieldKeys() {
  std::vector<std::string> v;
  for (const IniStoreLine& l : kIniStoreOrder)
    if (l.eKind == IniStoreKind::Key || l.eKind == IniStoreKind::VersionConst) v.emplace_back(l.pszText);
  for (const IniKeyDef& k : kIniKeys) {
    bool bListed = false;
    for (const std::string& s : v) bListed = bListed || s == k.pszKey;
    if (!bListed) v.emplace_back(k.pszKey);
  }
  return v;
}

}  // namespace

CommandOutput stRunCheckIni(const std::vector<std::string>& vecArgs, bool bJson) {
  if (vecArgs.size() != 1) return stUsageError("check-ini", "expected exactly one argument: FILE", bJson);
  const std::string& strPath = vecArgs[0];

  struct Message {
    std::string strText;
    int nType;
  };
  std::vector<Message> vecMessages;
  Ini ini([&](const std::string& strText, int nType) { vecMessages.push_back({strText, nType}); });
  bool bLoaded = ini.vLoadINIFile(strPath);
  const INISettings& r = ini.m_pINI;

  ordered_json jFields = ordered_json::object();
  std::string strFields;
  for (const std::string& strKey : vecFieldKeys()) {
    if (strKey == "version") {
      jFields[strKey] = r.uiVersion;
      strFields += "  version=" + std::to_string(r.uiVersion) + "\n";
      continue;
    }
    const IniKeyDef* p = pFindIniKey(strKey);
    if (p == nullptr) continue;
    if (p->pText != nullptr) {
      jFields[strKey] = r.*(p->pText);
      strFields += "  " + strKey + "=" + r.*(p->pText) + "\n";
    } else {
      int n = p->pByte != nullptr ? static_cast<int>(r.*(p->pByte)) : static_cast<int>(r.*(p->pInt));
      jFields[strKey] = n;
      strFields += "  " + strKey + "=" + std::to_string(n) + "\n";
    }
  }

  CommandOutput out;
  out.nExitCode = bLoaded ? 0 : 1;
  if (bJson) {
    ordered_json j;
    j["file"] = strPath;
    j["loaded"] = bLoaded;
    j["messages"] = ordered_json::array();
    for (const Message& m : vecMessages)
      j["messages"].push_back(
          {{"type", m.nType}, {"type_name", pszMessageType(m.nType)}, {"text", m.strText}});
    j["fields"] = jFields;
    out.strOut = strDump(j);
    return out;
  }
  out.strOut = "file: " + strPath + "\n";
  out.strOut += "messages: " + std::to_string(vecMessages.size()) + "\n";
  for (const Message& m : vecMessages) {
    // A message may hold several "\r\n"-ended lines: one output line each.
    std::string strText = m.strText;
    std::string strLines;
    size_t nPos = 0;
    while (nPos <= strText.size()) {
      size_t nEnd = strText.find("\r\n", nPos);
      std::string strLine = strText.substr(nPos, nEnd == std::string::npos ? std::string::npos : nEnd - nPos);
      if (!strLine.empty() || nEnd != std::string::npos) strLines += "    " + strLine + "\n";
      if (nEnd == std::string::npos) break;
      nPos = nEnd + 2;
      if (nPos == strText.size()) break;
    }
    out.strOut += "  [" + std::string(pszMessageType(m.nType)) + "]\n" + strLines;
  }
  out.strOut += "fields:\n" + strFields;
  out.strOut += std::string("load: ") + (bLoaded ? "succeeded" : "failed") + "\n";
  return out;
}

CommandOutput stRunSNNext(const std::vector<std::string>& vecArgs, bool bJson) {
  if (vecArgs.size() != 3) return stUsageError("sn-next", "expected SERIAL COUNT hex|dec", bJson);
  const std::string& strSerial = vecArgs[0];
  const std::string& strCount = vecArgs[1];
  std::string strBase = vecArgs[2];
  for (char& c : strBase)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');

  bool bCountOk = !strCount.empty() && strCount.size() <= 3;
  int nCount = 0;
  for (char c : strCount) {
    if (c < '0' || c > '9')
      bCountOk = false;
    else
      nCount = nCount * 10 + (c - '0');
  }
  if (!bCountOk || nCount > 255)
    return stUsageError("sn-next", "COUNT must be a decimal number from 0 to 255, not \"" + strCount + "\"",
                        bJson);
  if (strBase != "hex" && strBase != "dec")
    return stUsageError("sn-next", "the base must be hex or dec, not \"" + vecArgs[2] + "\"", bJson);
  // The count goes into the last digit in one step and carries at most one unit: beyond
  // one digit's worth the result would be wrong, so such a count is refused.
  const int nFits = strBase == "hex" ? 15 : 9;
  if (nCount > nFits)
    return stUsageError("sn-next",
                        "COUNT " + strCount + " does not fit one " +
                            (strBase == "hex" ? "hexadecimal" : "decimal") + " digit: at most " +
                            std::to_string(nFits),
                        bJson);
  if (strSerial.size() > INI_TEXT_MAX)
    return stUsageError("sn-next", "SERIAL is longer than " + std::to_string(INI_TEXT_MAX) + " characters",
                        bJson);

  std::string strResult = vAddLimitSN(strSerial, static_cast<uint8_t>(nCount), strBase == "hex" ? 1 : 0);
  CommandOutput out;
  if (bJson) {
    ordered_json j;
    j["serial"] = strSerial;
    j["count"] = nCount;
    j["base"] = strBase;
    j["result"] = strResult;
    out.strOut = strDump(j);
  } else {
    out.strOut = strResult + "\n";
  }
  return out;
}
