#include "platform/FilterDevice.h"

#include <cstring>
#include <string>

namespace {
thread_local int t_nLastError = 0;

// Reads a decimal number of 1..3 digits in 1..255; advances pos.
bool bReadNumber(const std::string& s, size_t& pos, uint8_t& out) {
  size_t start = pos;
  unsigned n = 0;
  while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9' && pos - start < 3) n = n * 10 + (s[pos++] - '0');
  if (pos == start || n == 0 || n > 255) return false;
  if (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') return false;  // more than 3 digits
  out = static_cast<uint8_t>(n);
  return true;
}
}  // namespace

int nFilterLastError() {
  return t_nLastError;
}
void vSetFilterLastError(int nError) {
  t_nLastError = nError;
}

EFilterResult eFinishInTransfer(uint32_t dwCode, EFilterResult eResult, uint8_t* pOut, size_t ulOutLen,
                                size_t& ulTransferred, int nShortError) {
  if (eResult != EFilterResult::kSuccess) ulTransferred = 0;
  if (ulTransferred > ulOutLen) ulTransferred = ulOutLen;
  if (eResult == EFilterResult::kSuccess && dwCode == VLNTFILTER0_IOCTL_VENDOR_READ &&
      ulTransferred < ulOutLen) {
    vSetFilterLastError(nShortError);
    ulTransferred = 0;
    eResult = EFilterResult::kFailed;
  }
  if (pOut && ulOutLen > ulTransferred) std::memset(pOut + ulTransferred, 0, ulOutLen - ulTransferred);
  return eResult;
}

bool bParseFilterDeviceName(const std::string& strName, FilterDeviceName& out) {
  FilterDeviceName r;
  if (strName.rfind("usb:", 0) != 0) return false;
  size_t pos = 4;
  if (!bReadNumber(strName, pos, r.ucBus)) return false;
  if (pos >= strName.size() || strName[pos] != '-') return false;
  ++pos;
  for (;;) {
    if (r.ucDepth == 7) return false;
    if (!bReadNumber(strName, pos, r.ucPorts[r.ucDepth])) return false;
    ++r.ucDepth;
    if (pos == strName.size()) break;
    if (strName[pos] != '.') return false;
    ++pos;
  }
  out = r;
  return true;
}

bool bBuildControlSetup(uint32_t dwCode, const uint8_t* pIn, size_t ulInLen, size_t ulOutLen,
                        UsbControlSetup& setup) {
  if (!pIn || ulInLen < FILTER_RECORD_SIZE || ulInLen > FILTER_MAX_INPUT || ulOutLen > FILTER_MAX_OUTPUT)
    return false;
  FilterRequestRecord rec = FilterRequestRecord::stDecode(pIn);
  UsbControlSetup s;
  s.uTimeoutMs = rec.dwTimeout;
  switch (dwCode) {
    case VLNTFILTER0_IOCTL_VENDOR_WRITE: {
      size_t n = ulInLen - FILTER_RECORD_SIZE;
      if (n > 0xFFFF) return false;
      s.bIn = false;
      s.bmRequestType = static_cast<uint8_t>(((rec.dwType & 3) << 5) | (rec.dwRecipient & 0x1F));
      s.bRequest = static_cast<uint8_t>(rec.dwRequest);
      s.wValue = static_cast<uint16_t>(rec.dwValue);
      s.wIndex = static_cast<uint16_t>(rec.dwIndex);
      s.wLength = static_cast<uint16_t>(n);
      s.pData = n ? pIn + FILTER_RECORD_SIZE : nullptr;
      break;
    }
    case VLNTFILTER0_IOCTL_VENDOR_READ:
      if (ulOutLen > 0xFFFF) return false;
      s.bIn = true;
      s.bmRequestType = static_cast<uint8_t>(0x80 | ((rec.dwType & 3) << 5) | (rec.dwRecipient & 0x1F));
      s.bRequest = static_cast<uint8_t>(rec.dwRequest);
      s.wValue = static_cast<uint16_t>(rec.dwValue);
      s.wIndex = static_cast<uint16_t>(rec.dwIndex);
      s.wLength = static_cast<uint16_t>(ulOutLen);
      break;
    case VLNTFILTER0_IOCTL_GET_DESCRIPTOR:
      // fields after the timeout: descriptor type, descriptor index, language id, recipient
      if (ulOutLen > 0xFFFF) return false;
      s.bIn = true;
      s.bmRequestType = static_cast<uint8_t>(0x80 | (rec.dwValue & 0x1F));
      s.bRequest = USB_REQUEST_GET_DESCRIPTOR;
      s.wValue = static_cast<uint16_t>(((rec.dwType & 0xFF) << 8) | (rec.dwRecipient & 0xFF));
      s.wIndex = static_cast<uint16_t>(rec.dwRequest);
      s.wLength = static_cast<uint16_t>(ulOutLen);
      break;
    default:
      return false;
  }
  setup = s;
  return true;
}

std::string strMakeFilterDeviceName(uint8_t ucBus, const uint8_t* pucPorts, int nDepth) {
  std::string s = "usb:" + std::to_string(ucBus) + "-";
  for (int i = 0; i < nDepth; ++i) {
    if (i) s += '.';
    s += std::to_string(pucPorts[i]);
  }
  return s;
}
