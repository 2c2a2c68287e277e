#include "images/ConfigTable.h"

#include <algorithm>

std::optional<uint8_t> optConfigSignature(uint8_t ucFwType) {
  switch (ucFwType) {
    case 0:
      return 0xAA;
    case 1:
      return 0x4B;
    case 2:
      return 0x3C;
    case 3:
      return 0x2D;
    default:
      return std::nullopt;
  }
}

bool bIsLoadableConfigSignature(uint8_t ucSig) {
  return ucSig == 0x4B || ucSig == 0x3C || ucSig == 0x2D;
}

std::optional<uint8_t> optFirmwareTypeOfSignature(uint8_t ucSig) {
  for (uint8_t ucType = 0; ucType <= 3; ++ucType)
    if (optConfigSignature(ucType) == ucSig) return ucType;
  return std::nullopt;
}

uint8_t ucConfigTableChecksum(const ConfigTable& table) {
  uint8_t ucSum = 0;
  for (size_t i = CFG_SUM_FIRST; i <= CFG_SUM_LAST; ++i) ucSum = static_cast<uint8_t>(ucSum + table[i]);
  return ucSum;
}

uint8_t ucConfigOptionFlags(const INISettings& ini) {
  auto bit = [](uint8_t ucFlag, int nBit) { return ucFlag != 0 ? (1u << nBit) : 0u; };
  unsigned uOn = bit(ini.ucBc_enable_port1, 0) | bit(ini.ucBc_enable_port2, 1) |
                 bit(ini.ucBc_enable_port3, 2) | bit(ini.ucBc_enable_port4, 3) | bit(ini.ucU1U2, 4) |
                 bit(ini.ucLPM, 5) | bit(ini.ucPMU, 6) | bit(ini.ucTL, 7);
  return static_cast<uint8_t>(~uOn);
}

// The part of a text from nPos, at most nLen characters; empty past its end.
static std::string strMid(const std::string& s, size_t nPos, size_t nLen) {
  return nPos >= s.size() ? std::string() : s.substr(nPos, nLen);
}

std::array<uint8_t, CFG_LEN_CONTAINER> stContainerIdBytes(const std::string& strContainer,
                                                          const HexTextFn& fnHex) {
  std::array<uint8_t, CFG_LEN_CONTAINER> b{};
  const uint32_t d1 = fnHex(strMid(strContainer, 0, 8));
  const uint32_t d2 = fnHex(strMid(strContainer, 8, 4));
  const uint32_t d3 = fnHex(strMid(strContainer, 12, 4));
  for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(d1 >> (8 * i));
  b[4] = static_cast<uint8_t>(d2);
  b[5] = static_cast<uint8_t>(d2 >> 8);
  b[6] = static_cast<uint8_t>(d3);
  b[7] = static_cast<uint8_t>(d3 >> 8);
  for (size_t i = 0; i < 8; ++i) b[8 + i] = static_cast<uint8_t>(fnHex(strMid(strContainer, 16 + 2 * i, 2)));
  return b;
}

void vPutConfigText(ConfigTable& table, size_t nOfs, size_t nLen, const std::string& strText) {
  std::fill_n(table.begin() + static_cast<std::ptrdiff_t>(nOfs), nLen, uint8_t{0xFF});
  const size_t n = std::min(nLen, strText.size());
  for (size_t i = 0; i < n; ++i) table[nOfs + i] = static_cast<uint8_t>(strText[i]);
}

std::string strGetConfigText(const ConfigTable& table, size_t nOfs, size_t nLen) {
  std::string s;
  for (size_t i = 0; i < nLen; ++i) {
    const uint8_t c = table[nOfs + i];
    if (c == 0xFF || c == 0x00) break;  // the record's texts are zero-terminated
    s += static_cast<char>(c);
  }
  return s;
}

uint16_t wGetConfigWord(const ConfigTable& table, size_t nOfs) {
  return static_cast<uint16_t>(table[nOfs] | (table[nOfs + 1] << 8));
}

void vPutConfigWord(ConfigTable& table, size_t nOfs, uint16_t w) {
  table[nOfs] = static_cast<uint8_t>(w);
  table[nOfs + 1] = static_cast<uint8_t>(w >> 8);
}

ConfigTable stBuildConfigTable(const ConfigTableValues& v) {
  ConfigTable t;
  t.fill(0xFF);
  vPutConfigText(t, CFG_OFS_SERIAL, CFG_LEN_SERIAL, v.strSerialNumber);
  vPutConfigText(t, CFG_OFS_MANUFACTURER, CFG_LEN_MANUFACTURER, v.strManufacturer);
  vPutConfigText(t, CFG_OFS_PRODUCT, CFG_LEN_PRODUCT, v.strProduct);
  std::copy(v.ucContainer.begin(), v.ucContainer.end(), t.begin() + CFG_OFS_CONTAINER);
  vPutConfigWord(t, CFG_OFS_VID, v.wVID);
  vPutConfigWord(t, CFG_OFS_PID, v.wPID);
  vPutConfigWord(t, CFG_OFS_PID_U2, v.wPIDU2);
  vPutConfigWord(t, CFG_OFS_REVISION, v.wRevision);
  vPutConfigWord(t, CFG_OFS_RESERVED16, 0xFFFF);
  t[CFG_OFS_FLAGS] = v.ucFlags;
  t[CFG_OFS_SIGNATURE] = v.ucSignature;
  t[CFG_OFS_CHECKSUM] = ucConfigTableChecksum(t);
  return t;
}
