// The keys of the settings file: which record field each key carries, the keys with a rule
// of their own, and the order in which a store writes them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/INISettings.h"

enum class IniKeyRule : uint8_t {
  Plain,
  RemainLength,  // above 20 or negative -> 20
  RemainEnable,  // other than 0 or 1 -> 0
  FixLength,     // 0 and 12..20 kept, anything else -> 0
  Ignored,       // value ignored, field set to 0
  AutoInstall,   // also handed to the host's automatic-install flag
};

// Exactly one of the three member pointers is set.
struct IniKeyDef {
  const char* pszKey;
  uint8_t INISettings::*pByte;
  int32_t INISettings::*pInt;
  std::string INISettings::*pText;
  IniKeyRule eRule;
};

// Every key a load recognises (except "version" and the section headers).
extern const std::vector<IniKeyDef> kIniKeys;
// Section headers that count as known lines (besides "[ini_version]" and "[usb_func]").
extern const std::vector<const char*> kIniCountedHeaders;

enum class IniStoreKind : uint8_t { Header, Key, VersionConst, Empty };
struct IniStoreLine {
  IniStoreKind eKind;
  const char* pszText;  // header text or key
};
// The lines a store writes, in order.
extern const std::vector<IniStoreLine> kIniStoreOrder;

// Key table lookup by the key's exact spelling; nullptr when unknown.
const IniKeyDef* pFindIniKey(const std::string& strKey);

// Reads a decimal number as the loader does (blanks, sign, digits; saturated to 32 bits).
int32_t nParseIniInt(const std::string& s);
