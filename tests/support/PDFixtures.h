// Small valid PD and MCU firmware files, built from their formats, for the pd tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/USBUtility.h"
#include "platform/Clock.h"

namespace pdfix {

inline std::string strHexBytes(const std::vector<uint8_t>& v) {
  std::string s;
  char sz[4];
  for (uint8_t b : v) {
    std::snprintf(sz, sizeof sz, "%02X", b);
    s += sz;
  }
  return s;
}

// One .cyacd data line; its checksum as the reader computes it, plus nChecksumDelta.
inline std::string strCyacdRow(uint8_t ucArrayId, uint16_t wRow, const std::vector<uint8_t>& data,
                               int nChecksumDelta = 0) {
  uint32_t dwSum = ucArrayId + wRow + static_cast<uint32_t>(data.size());
  for (uint8_t b : data) dwSum += b;
  const auto ucCheck = static_cast<uint8_t>(0x100u - (dwSum & 0xFF) + static_cast<unsigned>(nChecksumDelta));
  char sz[16];
  std::snprintf(sz, sizeof sz, ":%02X%04X%04X", ucArrayId, wRow, static_cast<unsigned>(data.size()));
  std::string s = sz + strHexBytes(data);
  std::snprintf(sz, sizeof sz, "%02X", ucCheck);
  return s + sz;
}

inline std::vector<uint8_t> vecRowData(size_t n, uint8_t ucSeed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(static_cast<size_t>(ucSeed) * 31 + i);
  return v;
}

// A .cyacd file: the header line, then rows 1..nRows of nRowSize bytes, CR LF line ends.
inline std::string strCyacdFile(const std::string& strHeader, size_t nRows, size_t nRowSize) {
  std::string s = strHeader + "\r\n";
  for (size_t r = 1; r <= nRows; ++r)
    s += strCyacdRow(0x00, static_cast<uint16_t>(r), vecRowData(nRowSize, static_cast<uint8_t>(r))) + "\r\n";
  return s;
}

// A .cyacd image as a controller takes it: the header line, then nRows rows from wFirstRow
// up, CR LF line ends (so the version characters lie where the header says).
inline std::string strCyacdImage(const std::string& strHeader, uint16_t wFirstRow, size_t nRows,
                                 size_t nRowSize, uint8_t ucSeed = 1) {
  std::string s = strHeader + "\r\n";
  for (size_t i = 0; i < nRows; ++i) {
    const auto wRow = static_cast<uint16_t>(wFirstRow + i);
    s += strCyacdRow(0x00, wRow, vecRowData(nRowSize, static_cast<uint8_t>(ucSeed + i))) + "\r\n";
  }
  return s;
}

// One Intel HEX record line with its checksum (plus nChecksumDelta).
inline std::string strHexRecord(uint8_t ucType, uint16_t wAddress, const std::vector<uint8_t>& data,
                                int nChecksumDelta = 0) {
  uint32_t dwSum = static_cast<uint32_t>(data.size()) + (wAddress >> 8) + (wAddress & 0xFF) + ucType;
  for (uint8_t b : data) dwSum += b;
  const auto ucCheck = static_cast<uint8_t>(0x100u - (dwSum & 0xFF) + static_cast<unsigned>(nChecksumDelta));
  char sz[16];
  std::snprintf(sz, sizeof sz, ":%02X%04X%02X", static_cast<unsigned>(data.size()), wAddress, ucType);
  std::string s = sz + strHexBytes(data);
  std::snprintf(sz, sizeof sz, "%02X", ucCheck);
  return s + sz;
}

// An MCU file: extended linear address 0x0800, nRecords data records of 16 bytes from 0, end.
inline std::string strHexFile(size_t nRecords) {
  std::string s = strHexRecord(4, 0, {0x08, 0x00}) + "\n";
  for (size_t i = 0; i < nRecords; ++i)
    s += strHexRecord(0, static_cast<uint16_t>(i * 16), vecRowData(16, static_cast<uint8_t>(i))) + "\n";
  return s + ":00000001FF\n";
}

// A Richtek image of 16384 bytes with the version bytes 0x12 (at 4097) and 0x34 (at 4096).
inline std::string strRichtekFile(size_t nSize = 16384) {
  std::string s(nSize, '\0');
  for (size_t i = 0; i < nSize; ++i) s[i] = static_cast<char>(i * 7);
  if (nSize > 4097) {
    s[4096] = 0x34;
    s[4097] = 0x12;
  }
  return s;
}

// The host utility the engine reads hex fields and checks files with.
struct Host {
  CScaledClock clock{0};
  CUSBUtility utility{clock, options()};
  static USBUtilityOptions options() {
    USBUtilityOptions opt;
    opt.strAppPath = "/nonexistent";
    return opt;
  }
};

}  // namespace pdfix
