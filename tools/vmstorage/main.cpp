// vmstorage: the Linux storage side of a hub on the VM test's guest: finds the drive behind a
// hub in sysfs as a run does, opens it for SG_IO and sends it an INQUIRY and the bridge's
// FLUSH CACHE and STANDBY IMMEDIATE (ATA PASS-THROUGH (12)) as a safe removal does. Prints
// one JSON object with what each step came to; judging it is the caller's business.
//   vmstorage HUB        HUB: a filter device name, "usb:1-1"
//   vmstorage DISK       DISK: a disk's name, "sdb": that disk, not looked for behind a hub
#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/ScsiPassThrough.h"
#include "platform/linux/ScsiSgIo.h"
#include "platform/linux/ScsiSgIoDrives.h"

namespace {
std::string strResult(const ScsiResult& r) {
  char sz[96];
  std::snprintf(sz, sizeof sz, "{\"ok\": %s, \"status\": %u, \"error\": %d, \"sense_key\": %u}",
                r.bRequestOk ? "true" : "false", r.ucScsiStatus, r.nError,
                r.ucSenseLen > 2 ? static_cast<unsigned>(r.ucSense[2] & 0x0F) : 0u);
  return sz;
}

ScsiResult stSend(IScsiDriveHandle& h, std::initializer_list<uint8_t> cdb, EScsiDirection eDir,
                  uint8_t* pData, size_t ulLen) {
  ScsiRequest req;
  for (uint8_t b : cdb) req.ucCdb[req.ucCdbLen++] = b;
  req.eDir = eDir;
  req.pData = pData;
  req.ulDataLen = ulLen;
  ScsiResult res;
  h.bSend(req, res);
  return res;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s HUB|DISK\n", argv[0]);
    return 2;
  }
  StorageDriveInfo info;
  int nErr = 0;
  const std::string strWhat = argv[1];
  if (strWhat.rfind("usb:", 0) == 0) {
    CSysfsStorageDriveFinder finder;
    nErr = finder.nFindStorageDrive(strWhat, info);
  } else if (int nDisk = nDiskNumberFromName(strWhat); nDisk >= 0) {
    info.bHasDisk = true;
    info.ucPhysicalDrive = static_cast<uint8_t>(nDisk);
    info.strDiskDevice = strWhat;
  } else {
    nErr = EINVAL;
  }
  std::printf("{\"find_error\": %d, \"found\": %s, \"disk\": \"%s\", \"physical_drive\": %u", nErr,
              info.bFound() ? "true" : "false", info.strDiskDevice.c_str(), info.ucPhysicalDrive);
  if (nErr == 0 && info.bHasDisk) {
    CSgIoScsiPlatform platform;
    int nOpen = 0;
    auto h = platform.pOpen(strMakeScsiDriveName(false, info.ucPhysicalDrive), &nOpen);
    std::printf(", \"open_error\": %d", h ? 0 : nOpen);
    if (h) {
      uint8_t inq[36] = {};
      ScsiResult r = stSend(*h, {0x12, 0, 0, 0, sizeof inq, 0}, EScsiDirection::kIn, inq, sizeof inq);
      std::string strVendor(reinterpret_cast<const char*>(inq + 8), 8);
      while (!strVendor.empty() && (strVendor.back() == ' ' || strVendor.back() == '\0'))
        strVendor.pop_back();
      std::printf(", \"inquiry\": %s, \"vendor\": \"%s\"", strResult(r).c_str(), strVendor.c_str());
      r = stSend(*h, {0xA1, 0x06, 0, 0, 0, 0, 0, 0, 0, 0xE7, 0, 0}, EScsiDirection::kOut, nullptr, 0);
      std::printf(", \"flush_cache\": %s", strResult(r).c_str());
      r = stSend(*h, {0xA1, 0x06, 0, 0, 0, 0, 0, 0, 0, 0xE0, 0, 0}, EScsiDirection::kOut, nullptr, 0);
      std::printf(", \"standby_immediate\": %s", strResult(r).c_str());
    }
  }
  std::printf("}\n");
  return 0;
}
