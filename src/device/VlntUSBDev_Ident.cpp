// Target hub identification: one device record per physical hub. A USB 3 hub shows up twice
// (its USB 2 and its SuperSpeed half, one chip); the first half met writes an identity mark
// into the chip, the second half reads it back and joins the same record.
#include <cerrno>
#include <cstdio>

#include "device/StorageDrive.h"
#include "device/UsbSpeedWords.h"
#include "device/VlntUSBDev.h"
#include "log/DebugLog.h"

namespace {
const char* pszSpeedSuffix(uint8_t uc) {
  switch (uc) {
    case HUB_SPEED_5G_X1:
      return "_5Gx1";
    case HUB_SPEED_5G_X2:
      return "_5Gx2";
    case HUB_SPEED_10G_X1:
      return "_10Gx1";
    case HUB_SPEED_10G_X2:
      return "_10Gx2";
    default:
      return "_Unknown";
  }
}
bool bIs0320(const std::string& s) {
  return s == "0320";
}  // hex digits only: no case to fold
}  // namespace

void CVlntUSBDev::vClearPrivateData() {
  try {
    m_walk.vResetScanState();
    m_walk.ucTargetNumber = 0;
    if (!m_pDevList) return;
    DeviceList& dl = *m_pDevList;
    for (auto& r : dl.dev) {
      r.vFree();
      r.strDriverName.clear();
      r.m_strDeviceDesc.clear();
      r.m_strHubObjectName.clear();
    }
    dl.DevNums = 0;
    dl.m_MaxHubDepth = 0;
    dl.ucReMarkedDepth = 0;
    dl.m_DriverNum = 0;
    dl.ucUnidentified = 0;
    dl.drv[0] = DriverInfo{};
  } catch (...) {
    vDEBUG_ERR_printf("CVlntUSBDev::vClearPrivateData", "catch(...) m_pDevList : %x , dwErrorCode %d",
                      static_cast<unsigned>(reinterpret_cast<uintptr_t>(m_pDevList)), errno);
  }
}

void CVlntUSBDev::vTestHandleFromDriverInfo(DeviceList* pDevList) {
  static const char* L = "CVlntUSBDev::vTestHandleFromDriverInfo";
  if (!pDevList) return;
  m_pDevList = pDevList;
  DeviceList& dl = *pDevList;
  const int nEntries = std::min<int>(dl.m_DriverNum, MAX_DRIVER_USED);
  for (int v = 0; v < nEntries; ++v) {
    const DriverInfo& e = dl.drv[v];
    std::unique_ptr<IFilterDeviceHandle> h = pOpenFilter(e.ObjectName);
    if (!h) {
      vDEBUG_ERR_printf(L, "This device[%s] handle can not be open, ", e.ObjectName.c_str());
      ++dl.ucUnidentified;
      continue;
    }
    const uint8_t ucMarked = m_filter.bIsSignatureMarked(h.get());
    // A mark that could not be read is taken as none (the hub is marked anew), but the
    // record may then be a second one for the same chip.
    if (ucMarked > 1) ++dl.ucUnidentified;
    if (ucMarked == 1) {
      // marked earlier in this identification through the chip's other half
      uint8_t ucMark = m_filter.ucGetSignatureMarked(h.get());
      int n = static_cast<int>(ucMark) - '0';
      vDEBUG_MSG_printf(L, "This  Hub [%s] have been marked, ", e.ObjectName.c_str());
      if (e.ucDepth > dl.ucReMarkedDepth) dl.ucReMarkedDepth = e.ucDepth;
      // A mark naming no record of this identification (left by another program, or read
      // wrongly) must not reach a record that is not there.
      if (n < 0 || n >= m_walk.ucTargetNumber || n >= MAX_DEV_RECORDS) {
        vDEBUG_ERR_printf(L, "Hub [%s] MarkSignatureforIdentify Failed  Error:%d", e.ObjectName.c_str(),
                          ucMark);
        ++dl.ucUnidentified;
        continue;
      }
      DevRecord& r = dl.dev[n];
      if (bIs0320(e.strUSBRelease)) {
        // the SuperSpeed half: hub operations go through it
        r.m_strHubObjectName = e.ObjectName;
        r.strPID = e.strPID;
        r.nPort = e.ucPort;
        r.strDriverName = e.DriverName;
        r.m_strDeviceDesc = e.strDeviceDesc;
        r.m_ucHubDepth = e.ucDepth;
        r.m_ucPositionIndex = e.ucPositionIndex;
        vDEBUG_MSG_printf(L,
                          "Already MARKED 3.0 Hubs[%d], PID [%s], m_ucPositionIndex[%d], m_ucHubDepth[%d], "
                          "m_strHubObjectName[%s], m_strDeviceDesc[%s]",
                          n, r.strPID.c_str(), r.m_ucPositionIndex, r.m_ucHubDepth,
                          r.m_strHubObjectName.c_str(), r.m_strDeviceDesc.c_str());
        h.reset();  // the speed reads open the record's device themselves
        r.strUSBText = "U";
        r.strUSBText +=
            e.strUSBRelease.size() > 2 ? std::string{e.strUSBRelease[1], '.', e.strUSBRelease[2]} : "?.?";
        r.strUSBText += pszSpeedSuffix(vGetHubSpeedRate(n, 0));
        for (uint8_t p = 0; p < 5; ++p) r.ucPortSpeed[p] = vGetHubSpeedRate(n, p);
      } else {
        vDEBUG_MSG_printf(L, "Dev[%d] 2.0 hub???, m_ucHubBondingOption %d", n, r.m_ucHubBondingOption);
      }
      continue;
    }
    const int n = m_walk.ucTargetNumber;
    if (n >= MAX_DEV_RECORDS) break;
    int nRet = m_filter.MarkSignatureforIdentify(h.get(), static_cast<uint8_t>('0' + n));
    if (nRet != 0) {
      vDEBUG_ERR_printf(L, "Hub [%s] MarkSignatureforIdentify Failed  Error:%d", e.ObjectName.c_str(), nRet);
      ++dl.ucUnidentified;
      continue;
    }
    DevRecord& r = dl.dev[n];
    r.strVID = e.strVID;
    r.strPID = e.strPID;
    r.strSerialNumber = e.strSerialNumber;
    r.strManufacturer = e.strManufacturer;
    r.strProduct = e.strProduct;
    r.strDeviceRelease = e.strDeviceRelease;
    r.strUSBRelease = e.strUSBRelease;
    char sz[16];
    std::snprintf(sz, sizeof sz, "%02x%02x%02x%02x%02x%02x", e.ucFWVersion[0], e.ucFWVersion[1],
                  e.ucFWVersion[2], e.ucFWVersion[3], e.ucFWVersion[4], e.ucFWVersion[5]);
    r.strFWVersion = sz;
    r.ucIndex = static_cast<uint8_t>(n);
    r.strDriverName = e.DriverName;
    r.m_strDeviceDesc = e.strDeviceDesc;
    r.m_strHubObjectName = e.ObjectName;
    r.nPort = e.ucPort;
    r.m_ucPositionIndex = e.ucPositionIndex;
    r.m_ucHubDepth = e.ucDepth;
    if (e.ucDepth > dl.m_MaxHubDepth) dl.m_MaxHubDepth = e.ucDepth;
    vDEBUG_MSG_printf(
        L,
        "Found Hubs[%d], USB[%s], VID[%s], PID [%s], SN[%s], M String[%s], P String[%s], Index[%d], "
        "Version[%s]",
        n, r.strUSBRelease.c_str(), r.strVID.c_str(), r.strPID.c_str(), r.strSerialNumber.c_str(),
        r.strManufacturer.c_str(), r.strProduct.c_str(), r.ucIndex, r.strFWVersion.c_str());
    uint8_t uc = 0xFF;
    if (m_filter.RegisterReadWriteCmd(h.get(), &uc, 1, REG_USB_STATUS, false) == 0) {
      vDEBUG_MSG_printf(L, "Dev[%d] ucUSBStatusBuf: 0x%02X", n, uc);
      r.m_ucHubBondingOption = uc & 0x03;
      vDEBUG_MSG_printf(L, "Dev[%d] Package: 0x%02X", n, r.m_ucHubBondingOption);
    } else {
      ++dl.ucUnidentified;
    }
    uc = 0xFF;
    if (m_filter.RegisterReadWriteCmd(h.get(), &uc, 1, REG_CHIP_IDENT, false) == 0)
      r.ucFWType = (uc >> 4) & 0x07;
    else
      ++dl.ucUnidentified;  // the firmware-type check of Start would refuse a hub it misread
    r.ucChipCode = ucChipCodeFromChipRegister(uc);  // a failed read leaves 0xFF: code 7, unknown
    h.reset();  // the operations below open the record's device themselves
    r.ucCcOrientation = vGetHubCcOrien(n);
    r.strUSBText = "U";
    r.strUSBText +=
        r.strUSBRelease.size() > 2 ? std::string{r.strUSBRelease[1], '.', r.strUSBRelease[2]} : "?.?";
    if (r.strUSBRelease.size() < 2 || r.strUSBRelease[1] != '3') {
      vDEBUG_MSG_printf(L, "Dev[%d] 2.0 hub???", n);
      r.ucPortSpeed.fill(1);
    } else {
      r.strUSBText += pszSpeedSuffix(vGetHubSpeedRate(n, 0));
      for (uint8_t p = 0; p < 5; ++p) r.ucPortSpeed[p] = vGetHubSpeedRate(n, p);
    }
    ++m_walk.ucTargetNumber;
    dl.DevNums = m_walk.ucTargetNumber;
  }
  // What the command-line queries read, once every record's USB text and hub name are final
  // (the SuperSpeed half may have come after its USB 2 half).
  for (int n = 0; n < dl.DevNums && n < MAX_DEV_RECORDS; ++n)
    dl.dev[n].ucProtocolCode = ucProtocolCodeFromUsbText(dl.dev[n].strUSBText);
  if (m_pStorageDrives) nFillStorageDrives(dl, *m_pStorageDrives);
}
