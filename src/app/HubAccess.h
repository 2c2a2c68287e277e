// Wires the device access object to the platform the tool runs on: the same for the window
// and the window-less modes, except where operator messages go.
#pragma once

#include "device/VlntUSBDev.h"

class CPlatformSet;
class CUSBUtility;
struct DeviceList;

void vWireHubAccess(CVlntUSBDev& dev, CPlatformSet& platform, CUSBUtility& utility, DeviceList& devList,
                    CVlntUSBDev::EOperatorMessages eMessages);
