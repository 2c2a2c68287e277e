#include "platform/UsbTree.h"

#include <cstdio>

#include "platform/Text.h"

bool bParseDeviceDescriptor(const uint8_t* p, size_t nLen, UsbDeviceDescriptor& d) {
  if (p == nullptr || nLen < 18 || p[0] < 18 || p[1] != 1) return false;
  d.bLength = p[0];
  d.bDescriptorType = p[1];
  d.bcdUSB = static_cast<uint16_t>(p[2] | (p[3] << 8));
  d.bDeviceClass = p[4];
  d.bDeviceSubClass = p[5];
  d.bDeviceProtocol = p[6];
  d.bMaxPacketSize0 = p[7];
  d.idVendor = static_cast<uint16_t>(p[8] | (p[9] << 8));
  d.idProduct = static_cast<uint16_t>(p[10] | (p[11] << 8));
  d.bcdDevice = static_cast<uint16_t>(p[12] | (p[13] << 8));
  d.iManufacturer = p[14];
  d.iProduct = p[15];
  d.iSerialNumber = p[16];
  d.bNumConfigurations = p[17];
  return true;
}

namespace {
// Decodes UTF-8 leniently: a broken sequence gives U+FFFD for its first byte and goes on.
std::vector<uint32_t> vecDecodeUtf8(const std::string& s) {
  std::vector<uint32_t> out;
  size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    size_t nMore = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : 9;
    uint32_t cp = nMore == 0 ? c : (nMore <= 3 ? c & (0x3Fu >> nMore) : 0);
    bool bOk = nMore <= 3;
    for (size_t k = 1; bOk && k <= nMore; ++k) {
      if (i + k >= s.size() || (static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
        bOk = false;
      else
        cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    }
    if (!bOk) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    out.push_back(cp);
    i += nMore + 1;
  }
  return out;
}
}  // namespace

std::vector<uint8_t> vecMakeStringDescriptor(const std::string& strUtf8, uint16_t usLength) {
  std::vector<uint8_t> v{0, 3};
  for (uint32_t cp : vecDecodeUtf8(strUtf8)) {
    if (cp > 0xFFFF) {  // surrogate pair
      cp -= 0x10000;
      uint16_t hi = static_cast<uint16_t>(0xD800 + (cp >> 10));
      uint16_t lo = static_cast<uint16_t>(0xDC00 + (cp & 0x3FF));
      for (uint16_t u : {hi, lo}) {
        v.push_back(static_cast<uint8_t>(u & 0xFF));
        v.push_back(static_cast<uint8_t>(u >> 8));
      }
    } else {
      v.push_back(static_cast<uint8_t>(cp & 0xFF));
      v.push_back(static_cast<uint8_t>(cp >> 8));
    }
    if (v.size() >= 254) break;
  }
  if (v.size() > 254) v.resize(254);
  v[0] = static_cast<uint8_t>(v.size());
  if (v.size() > usLength) v.resize(usLength);
  return v;
}

std::vector<uint8_t> vecMakeLanguageDescriptor(uint16_t usLangId, uint16_t usLength) {
  std::vector<uint8_t> v{4, 3, static_cast<uint8_t>(usLangId & 0xFF), static_cast<uint8_t>(usLangId >> 8)};
  if (v.size() > usLength) v.resize(usLength);
  return v;
}

std::string strMakeHubDevicePath(uint16_t usVid, uint16_t usPid, const std::string& strInstance) {
  char sz[64];
  std::snprintf(sz, sizeof sz, "USB#VID_%04X&PID_%04X#", usVid, usPid);
  return strUpper(sz + strInstance + "#" + USB_HUB_INTERFACE_GUID);
}

std::string strMakeHardwareId(uint16_t usVid, uint16_t usPid, uint16_t usRev) {
  char sz[64];
  std::snprintf(sz, sizeof sz, "USB\\VID_%04X&PID_%04X&REV_%04X", usVid, usPid, usRev);
  return sz;
}
