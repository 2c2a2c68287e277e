// mptool-util scan: walks the USB tree (or the bench named by MPTOOL_SIM), identifies the
// target hubs as a scan of the tool does, and prints the hub entries and device records.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "app/PlatformSet.h"
#include "device/VLNTFILTER0.h"
#include "device/VlntUSBDev.h"
#include "host/USBUtility.h"
#include "log/DebugLog.h"
#include "util/UtilCommand.h"

namespace {

std::string strHex(const std::array<uint8_t, 16>& a, int n) {
  std::string s;
  char sz[4];
  for (int i = 0; i < n; ++i) {
    std::snprintf(sz, sizeof sz, "%02x", a[i]);
    s += sz;
  }
  return s;
}

nlohmann::json jEntry(int i, const DriverInfo& e) {
  return {{"index", i},
          {"name", e.DriverName},
          {"object_name", e.ObjectName},
          {"vid", e.strVID},
          {"pid", e.strPID},
          {"serial", e.strSerialNumber},
          {"manufacturer", e.strManufacturer},
          {"product", e.strProduct},
          {"release", e.strDeviceRelease},
          {"usb_release", e.strUSBRelease},
          {"fw_version", strHex(e.ucFWVersion, 6)},
          {"port", e.ucPort},
          {"depth", e.ucDepth}};
}

nlohmann::json jRecord(const DevRecord& r) {
  nlohmann::json speeds = nlohmann::json::array();
  for (uint8_t s : r.ucPortSpeed) speeds.push_back(s);
  return {{"index", r.ucIndex},
          {"name", r.m_strHubObjectName},
          {"driver_name", r.strDriverName},
          {"vid", r.strVID},
          {"pid", r.strPID},
          {"serial", r.strSerialNumber},
          {"manufacturer", r.strManufacturer},
          {"product", r.strProduct},
          {"release", r.strDeviceRelease},
          {"usb_release", r.strUSBRelease},
          {"usb_text", r.strUSBText},
          {"fw_version", r.strFWVersion},
          {"fw_type", r.ucFWType},
          {"package", r.m_ucHubBondingOption},
          {"orientation", r.ucCcOrientation},
          {"port_speeds", speeds},
          {"port", r.nPort},
          {"depth", r.m_ucHubDepth}};
}

int nScan(const UtilArgs& args) {
  for (const auto& a : args.vecArgs) {
    if (a == "--debug") {
      vDEBUG_SetLevel(3);
    } else {
      std::fprintf(stderr, "mptool-util scan: unknown argument \"%s\"\n", a.c_str());
      return 2;
    }
  }
  // The platform: the bench of MPTOOL_SIM, or this machine, chosen as MPTool chooses it.
  CScaledClock machineClock(1.0);
  std::string strError;
  std::unique_ptr<CPlatformSet> pPlatform = CPlatformSet::pCreate(machineClock, strError);
  if (!pPlatform) {
    if (args.bJson) std::printf("%s\n", nlohmann::json({{"error", strError}}).dump().c_str());
    std::fprintf(stderr, "mptool-util scan: %s\n", strError.c_str());
    return 2;
  }
  IClock& clock = pPlatform->clock();
  CUSBUtility util(clock);
  std::unique_ptr<IFilterDriverStatus> pDriver = CPlatformSet::pCreateFilterDriver();
  util.vSetFilterDriver(pDriver.get());
  CVLNTFILTER0 filter(clock);
  CVlntUSBDev dev(pPlatform->filterDevices(), filter, clock);
  dev.vSetWalkPlatform(&pPlatform->tree(), &pPlatform->state(), pDriver.get(), &util);
  dev.vSetStorageDriveFinder(&pPlatform->drives());
  dev.vSetOperatorMessages(CVlntUSBDev::EOperatorMessages::StderrOnly);  // standard output is the answer
  auto pList = std::make_unique<DeviceList>();
  dev.Open(pList.get(), "");
  dev.vTestHandleFromDriverInfo(pList.get());
  const DeviceList& dl = *pList;

  if (args.bJson) {
    nlohmann::json j;
    j["platform"] = pPlatform->pBench() ? "bench" : "linux";
    j["hub_entries"] = nlohmann::json::array();
    for (int i = 0; i < dl.m_DriverNum && i < MAX_DRIVER_USED; ++i)
      j["hub_entries"].push_back(jEntry(i, dl.drv[i]));
    j["devices"] = nlohmann::json::array();
    for (const auto& r : dl.dev)
      if (r.bOccupied()) j["devices"].push_back(jRecord(r));
    j["max_depth"] = dl.m_MaxHubDepth;
    std::printf("%s\n", j.dump(2).c_str());
  } else {
    std::printf("hub entries: %d\n", dl.m_DriverNum);
    for (int i = 0; i < dl.m_DriverNum && i < MAX_DRIVER_USED; ++i) {
      const DriverInfo& e = dl.drv[i];
      std::printf(
          "  [%d] %s (%s) VID %s PID %s serial \"%s\" \"%s\" \"%s\" release %s USB %s fw %s port %d depth "
          "%d\n",
          i, e.DriverName.c_str(), e.ObjectName.c_str(), e.strVID.c_str(), e.strPID.c_str(),
          e.strSerialNumber.c_str(), e.strManufacturer.c_str(), e.strProduct.c_str(),
          e.strDeviceRelease.c_str(), e.strUSBRelease.c_str(), strHex(e.ucFWVersion, 6).c_str(), e.ucPort,
          e.ucDepth);
    }
    std::printf("devices: %d\n", dl.DevNums);
    for (const auto& r : dl.dev) {
      if (!r.bOccupied()) continue;
      std::printf(
          "  [%d] %s VID %s PID %s serial \"%s\" \"%s\" \"%s\" release %s USB %s %s fw %s type %d package %d "
          "orientation %d port %d depth %d\n",
          r.ucIndex, r.m_strHubObjectName.c_str(), r.strVID.c_str(), r.strPID.c_str(),
          r.strSerialNumber.c_str(), r.strManufacturer.c_str(), r.strProduct.c_str(),
          r.strDeviceRelease.c_str(), r.strUSBRelease.c_str(), r.strUSBText.c_str(), r.strFWVersion.c_str(),
          r.ucFWType, r.m_ucHubBondingOption, r.ucCcOrientation, r.nPort, r.m_ucHubDepth);
    }
  }
  return 0;
}

CUtilCommandRegistration reg(
    "scan", "[--debug]: walk the USB tree (or the bench of MPTOOL_SIM), list hub entries and target hubs",
    nScan);

}  // namespace
