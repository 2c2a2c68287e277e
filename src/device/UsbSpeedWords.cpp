#include "device/UsbSpeedWords.h"

#include <strings.h>

namespace {

const char* const kWords[] = {"FULL", "HIGH", "SUPER", "SUPER x1", "PLUS", "PLUS x1", "PLUS x2"};

bool bEq(const std::string& a, const char* b) {
  return strcasecmp(a.c_str(), b) == 0;
}

// "U<major>.<minor>" and what follows; false when the text does not start that way.
bool bSplitUsbText(const std::string& s, char& cMajor, std::string& strSuffix) {
  if (s.size() < 4 || (s[0] != 'U' && s[0] != 'u') || s[2] != '.') return false;
  if (s[1] < '0' || s[1] > '9') return false;
  if (!((s[3] >= '0' && s[3] <= '9') || (s[3] >= 'a' && s[3] <= 'f') || (s[3] >= 'A' && s[3] <= 'F')))
    return false;
  cMajor = s[1];
  strSuffix = s.substr(4);
  return true;
}

}  // namespace

std::string strUsbSpeedWord(const std::string& strUSBText) {
  for (const char* w : kWords)
    if (bEq(strUSBText, w)) return w;
  char cMajor = 0;
  std::string strSuffix;
  if (!bSplitUsbText(strUSBText, cMajor, strSuffix)) return "";
  if (cMajor == '1') return strSuffix.empty() ? "FULL" : "";
  if (cMajor == '2') return strSuffix.empty() ? "HIGH" : "";
  if (cMajor != '3') return "";
  if (bEq(strSuffix, "_5Gx1")) return "SUPER";
  if (bEq(strSuffix, "_5Gx2") || bEq(strSuffix, "_10Gx1")) return "PLUS";
  if (bEq(strSuffix, "_10Gx2")) return "PLUS x2";
  return "";  // "_Unknown": the link register could not be read
}

std::string strUsbSpeedClass(const std::string& strUSBText) {
  std::string w = strUsbSpeedWord(strUSBText);
  size_t ulSpace = w.find(' ');
  return ulSpace == std::string::npos ? w : w.substr(0, ulSpace);
}

int nSpeedWordExitCode(const std::string& strWord) {
  if (bEq(strWord, "FULL")) return 6;
  if (bEq(strWord, "HIGH")) return 7;
  if (bEq(strWord, "SUPER") || bEq(strWord, "SUPER x1")) return 8;
  if (bEq(strWord, "PLUS") || bEq(strWord, "PLUS x1")) return 9;
  if (bEq(strWord, "PLUS x2")) return 11;
  return -1;
}

int nUsbTextSpeedExitCode(const std::string& strUSBText) {
  return nSpeedWordExitCode(strUsbSpeedWord(strUSBText));
}

const char* pszUsbStatusDemand(const std::string& strSelection) {
  if (bEq(strSelection, "USB 2.0")) return "HIGH";
  if (bEq(strSelection, "USB 3.0")) return "SUPER";
  if (bEq(strSelection, "USB 3.1")) return "PLUS";
  return nullptr;
}

bool bUsbTextMeetsDemand(const std::string& strUSBText, const std::string& strSelection) {
  const char* pszDemand = pszUsbStatusDemand(strSelection);
  return pszDemand == nullptr || bEq(strUsbSpeedClass(strUSBText), pszDemand);
}

bool bUsbTextIsSuperSpeed(const std::string& strUSBText) {
  std::string c = strUsbSpeedClass(strUSBText);
  return c == "SUPER" || c == "PLUS";
}

uint8_t ucProtocolCodeFromUsbText(const std::string& strUSBText) {
  std::string c = strUsbSpeedClass(strUSBText);
  if (c == "SUPER" || c == "PLUS") return PROTOCOL_CODE_USB3;
  if (c == "FULL" || c == "HIGH") return PROTOCOL_CODE_USB2;
  char cMajor = 0;
  std::string strSuffix;
  // A SuperSpeed hub whose link could not be read still speaks the USB 3 protocol.
  if (bSplitUsbText(strUSBText, cMajor, strSuffix) && cMajor == '3') return PROTOCOL_CODE_USB3;
  return QUERY_CODE_UNKNOWN;
}

void vFillQueryCodes(DevRecord& rec, uint8_t ucReg5820) {
  rec.ucChipCode = ucChipCodeFromChipRegister(ucReg5820);
  rec.ucProtocolCode = ucProtocolCodeFromUsbText(rec.strUSBText);
}
