#include "platform/DeviceEvents.h"

const char* pszDeviceClassName(EDeviceClass e) {
  switch (e) {
    case EDeviceClass::Hub:
      return "hub";
    case EDeviceClass::HostController:
      return "host controller";
    case EDeviceClass::Disk:
      return "disk";
    case EDeviceClass::Volume:
      return "volume";
  }
  return "?";
}
