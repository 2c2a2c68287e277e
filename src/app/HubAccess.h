// The hub access stack of a run, wired to the platform the tool runs on: the filter command
// object, the device access object, the flash images and the run's device operations. The
// same for the window and the window-less modes, except where operator messages go and
// whether the images may ask the operator.
#pragma once

#include "device/VLNTFILTER0.h"
#include "device/VlntUSBDev.h"
#include "images/HubImages.h"
#include "run/RunDevices.h"

class CPlatformSet;
class CUSBUtility;
class IConfigForm;
struct DeviceList;
struct INISettings;

class CHubStack {
 public:
  CHubStack(CPlatformSet& platform, CUSBUtility& utility, INISettings& settings, DeviceList& devList,
            IConfigForm& form, CVlntUSBDev::EOperatorMessages eMessages);

  // Declared in construction order: each uses those before it.
  CVLNTFILTER0 filter;
  CVlntUSBDev dev;
  CHubImages images;
  CRunDevices devices;
};
