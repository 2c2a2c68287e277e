#include "app/HubAccess.h"

#include "app/PlatformSet.h"
#include "host/DeviceList.h"
#include "host/USBUtility.h"

void vWireHubAccess(CVlntUSBDev& dev, CPlatformSet& platform, CUSBUtility& utility, DeviceList& devList,
                    CVlntUSBDev::EOperatorMessages eMessages) {
  dev.vSetWalkPlatform(&platform.tree(), &platform.state(), utility.pFilterDriver(), &utility);
  dev.vSetAppPath(utility.m_szAppPath);
  dev.vSetDevList(&devList);
  dev.vSetStorageDriveFinder(&platform.drives());
  dev.vSetOperatorMessages(eMessages);
  IDeviceState& state = platform.state();
  dev.vSetRescanHandler([&state] { state.nRescan(); });
}
