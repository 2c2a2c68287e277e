// A simulated bench with everything a scan needs: the bench, its tree, events and state,
// the filter device, the channel, the host utilities and the device access object.
#pragma once

#include <memory>
#include <string>

#include "device/VlntUSBDev.h"
#include "host/USBUtility.h"
#include "platform/sim/SimBench.h"
#include "platform/sim/SimDeviceEvents.h"
#include "platform/sim/SimDeviceState.h"
#include "platform/sim/SimFilterDevice.h"
#include "platform/sim/SimUsbTree.h"
#include "support/TempDir.h"

struct BenchRig {
  TempDir tmp;
  SimBenchSpec def;
  std::unique_ptr<CSimBench> bench;
  std::unique_ptr<CSimUsbTree> tree;
  std::unique_ptr<CSimDeviceEvents> events;
  std::unique_ptr<CSimDeviceState> state;
  CSimFilterDriverStatus driver;
  std::unique_ptr<CSimFilterDevicePlatform> filterDevices;
  std::unique_ptr<CVLNTFILTER0> filter;
  std::unique_ptr<CUSBUtility> util;
  std::unique_ptr<CVlntUSBDev> dev;
  DeviceList list;

  BenchRig() { def.dTimeScale = 0; }

  void vController(const std::string& strName, int nPorts = 4) {
    SimControllerSpec c;
    c.strName = strName;
    c.nPorts = nPorts;
    def.vecControllers.push_back(c);
  }
  // A hub on a controller port (strOn names a controller) or on a port of another hub.
  SimHubSpec& hub(const std::string& strName, const std::string& strOn, int nPort, bool bUsb3 = true,
                  const std::string& strSerial = "") {
    SimHubSpec h;
    h.strName = strName;
    bool bController = false;
    for (const auto& c : def.vecControllers) bController |= c.strName == strOn;
    (bController ? h.strController : h.strParent) = strOn;
    h.nPort = nPort;
    h.bUsb3 = bUsb3;
    h.usPID = 0x55AA;
    h.usPIDU2 = 0x55AB;
    h.strManufacturer = "Velnor";
    h.strProduct = "USB3.2 Hub";
    h.strSerial = strSerial.empty() ? "SN" + strName : strSerial;
    h.strFlash = tmp.str() + "/" + strName + ".flash";
    def.vecHubs.push_back(h);
    return def.vecHubs.back();
  }
  // Links hubs to their controllers and parents, as reading a bench file does.
  void vResolve() {
    for (auto& h : def.vecHubs) {
      h.nControllerIndex = h.nParentIndex = -1;
      for (size_t c = 0; c < def.vecControllers.size(); ++c)
        if (!h.strController.empty() && def.vecControllers[c].strName == h.strController)
          h.nControllerIndex = static_cast<int>(c);
      for (size_t p = 0; p < def.vecHubs.size(); ++p)
        if (!h.strParent.empty() && def.vecHubs[p].strName == h.strParent)
          h.nParentIndex = static_cast<int>(p);
    }
    for (auto& h : def.vecHubs) {
      const SimHubSpec* p = &h;
      while (p->nParentIndex >= 0) p = &def.vecHubs[p->nParentIndex];
      h.nControllerIndex = p->nControllerIndex;
    }
  }
  bool bStart() {
    vResolve();
    std::string strError;
    bench = CSimBench::pFromSpec(def, strError);
    if (!bench) {
      ADD_FAILURE() << strError;
      return false;
    }
    tree = std::make_unique<CSimUsbTree>(*bench);
    events = std::make_unique<CSimDeviceEvents>(*bench);
    state = std::make_unique<CSimDeviceState>(*bench);
    filterDevices = std::make_unique<CSimFilterDevicePlatform>(*bench);
    filter = std::make_unique<CVLNTFILTER0>(bench->clock());
    USBUtilityOptions o;
    o.strAppPath = tmp.str();
    util = std::make_unique<CUSBUtility>(bench->clock(), o);
    dev = std::make_unique<CVlntUSBDev>(*filterDevices, *filter, bench->clock());
    util->vSetFilterDriver(&driver);
    dev->vSetWalkPlatform(tree.get(), state.get(), &driver, util.get());
    return true;
  }
  // One scan as the run engine makes it: the walk, then the identification.
  int nScan() {
    int r = dev->Open(&list, "");
    dev->vTestHandleFromDriverInfo(&list);
    return r;
  }
  int nHub(const std::string& s) const { return bench->nFindHub(s); }
};
