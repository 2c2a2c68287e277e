#include "app/HubAccess.h"

#include "app/PlatformSet.h"
#include "host/DeviceList.h"
#include "host/USBUtility.h"

CHubStack::CHubStack(CPlatformSet& platform, CUSBUtility& utility, INISettings& settings, DeviceList& devList,
                     IConfigForm& form, CVlntUSBDev::EOperatorMessages eMessages)
    : filter(platform.clock()),
      dev(platform.filterDevices(), filter, platform.clock()),
      images(utility, settings, devList, form),
      devices(dev, images, platform.filterDevices(), devList) {
  dev.vSetWalkPlatform(&platform.tree(), &platform.state(), utility.pFilterDriver(), &utility);
  dev.vSetAppPath(utility.m_szAppPath);
  dev.vSetDevList(&devList);
  dev.vSetStorageDriveFinder(&platform.drives());
  dev.vSetOperatorMessages(eMessages);
  IDeviceState& state = platform.state();
  dev.vSetRescanHandler([&state] { state.nRescan(); });
  images.m_bShowGUI = eMessages == CVlntUSBDev::EOperatorMessages::Box;
}
