// Decision tables of the host utilities, kept as pure functions so they are exercised
// without the operating system they were written for.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Windows class codes: 1 = 5.x other than 5.1, 2 = XP (5.1), 4 = Vista (6.0), 8 = 7 (6.1),
// 16 = 8 (6.2), 32 = 8.1 (6.3), 64 = 10 or later, 255 = unknown. The reported version stops
// at 6.2 on newer systems, so the registry's major number and build tell 10 and later apart.
constexpr uint32_t VER_PLATFORM_WIN32_NT = 2;
uint8_t ucWindowsVersionCode(uint32_t dwPlatformId, uint32_t dwMajor, uint32_t dwMinor,
                             uint32_t dwRegistryMajor, uint32_t dwBuildNumber);

// Registry value types the reader/writer handles.
constexpr uint8_t REG_SZ_TYPE = 1;
constexpr uint8_t REG_DWORD_TYPE = 4;
constexpr uint8_t REG_MULTI_SZ_TYPE = 7;

// The DWORD a write of type 4 stores: the first data byte taken as a signed byte, widened.
uint32_t dwRegistryDwordFromData(const uint8_t* pData);
// The bytes a read copies into the caller's buffer: a DWORD as it is, every other type with
// each NUL byte replaced by a blank (so a multi-string reads as its strings, blank-separated).
std::string strRegistryReadCopy(std::string_view raw, uint8_t ucType);

// Caption and icon flag of a message box by message type 1..5; other types give an empty
// caption and no icon.
struct MessageCaption {
  const char* pszCaption;
  uint32_t uIconFlag;
};
MessageCaption stMessageCaption(uint8_t ucType);

// True for a 32-bit build running on a 64-bit kernel (the machine name of uname).
bool bIsWow64For(unsigned uPointerBytes, std::string_view machine);
