#include "host/HostTables.h"

#include "host/IMessageView.h"

uint8_t ucWindowsVersionCode(uint32_t dwPlatformId, uint32_t dwMajor, uint32_t dwMinor,
                             uint32_t dwRegistryMajor, uint32_t dwBuildNumber) {
  if (dwPlatformId != VER_PLATFORM_WIN32_NT) return 255;
  if (dwMajor == 5) return dwMinor == 1 ? 2 : 1;
  if (dwMajor != 6) return 255;
  if (dwRegistryMajor == 10 || dwBuildNumber >= 10000) return 64;
  switch (dwMinor) {
    case 0:
      return 4;
    case 1:
      return 8;
    case 2:
      return 16;
    case 3:
      return 32;
    default:
      return 255;
  }
}

uint32_t dwRegistryDwordFromData(const uint8_t* pData) {
  return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(pData[0])));
}

std::string strRegistryReadCopy(std::string_view raw, uint8_t ucType) {
  std::string s(raw);
  if (ucType == REG_DWORD_TYPE) return s;
  for (char& c : s)
    if (c == '\0') c = ' ';
  return s;
}

MessageCaption stMessageCaption(uint8_t ucType) {
  switch (ucType) {
    case MSG_TYPE_ERROR:
      return {"Error", MB_ICONERROR};
    case MSG_TYPE_TIMEOUT:
      return {"TimeOut", MB_ICONERROR};
    case MSG_TYPE_WARNING:
      return {"Warning", MB_ICONWARNING};
    case MSG_TYPE_INFORMATION:
      return {"Information", MB_ICONINFORMATION};
    case MSG_TYPE_QUESTION:
      return {"Question", MB_ICONQUESTION};
    default:
      return {"", 0};
  }
}

bool bIsWow64For(unsigned uPointerBytes, std::string_view machine) {
  if (uPointerBytes != 4) return false;
  return machine == "x86_64" || machine == "aarch64" || machine == "ppc64" || machine == "ppc64le" ||
         machine == "s390x" || machine == "riscv64" || machine == "mips64" || machine == "sparc64";
}
