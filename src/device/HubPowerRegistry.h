// Where Windows keeps a hub's selective-suspend value, by Windows version code and the host
// driver family that owns the hub. Kept as a pure decision so that the rules stay known and
// tested; on Linux the setting is the hub's power/control (platform/DeviceState.h).
#pragma once

#include <cstdint>
#include <string>

struct HubPowerRegistryTarget {
  std::string strMessage;    // the MSG format of the family (with "%s:%d: " and its texts)
  std::string strKey;        // under HKEY_LOCAL_MACHINE
  std::string strValueName;  // a 32-bit value
};

// ucWinVersion: the Windows version code (0x10 and up: Windows 8 and later).
// strDevicePath: the hub's interface path; strHubText: the text the "Enhanced" test looks at;
// strDriverName: the hub entry's DriverName; strInstanceId: the path's instance id;
// strDriverInstance: the text after the USB class key for the driver-instance rows.
HubPowerRegistryTarget stHubPowerRegistryTarget(uint8_t ucWinVersion, const std::string& strDevicePath,
                                                const std::string& strHubText,
                                                const std::string& strDriverName, const std::string& strVID,
                                                const std::string& strPID, const std::string& strInstanceId,
                                                const std::string& strDriverInstance);
