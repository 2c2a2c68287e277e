#include "platform/Text.h"

#include <cstdio>

std::string strUpper(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

int nHexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string strHex4(uint16_t usValue) {
  char sz[8];
  std::snprintf(sz, sizeof sz, "%04X", usValue);
  return sz;
}

std::string strHexByte(uint8_t ucValue) {
  char sz[8];
  std::snprintf(sz, sizeof sz, "0x%02X", ucValue);
  return sz;
}

std::string strHexBytes(const uint8_t* pData, size_t nLen) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(nLen * 2);
  for (size_t i = 0; i < nLen; ++i) {
    s += kDigits[pData[i] >> 4];
    s += kDigits[pData[i] & 15];
  }
  return s;
}
