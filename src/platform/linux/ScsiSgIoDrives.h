// Finds the disk and CD-ROM drive of the storage bridge behind a hub, from sysfs.
//
// A drive belongs to a hub when its sysfs device path lies below the hub's device path and no
// other hub (a USB device of class 09) sits between them: a bridge behind a hub that is itself
// behind the hub belongs to that nearer hub. A USB 3 hub is two devices on the bus, a
// SuperSpeed half and a USB 2 half; a bridge may hang from either (a USB 2 bridge sits below
// the USB 2 half), so both are searched. The other half is found through the port's "peer"
// link that the kernel keeps between the two ports of one connector.
//
// Drive numbers: see ScsiSgIo.h (sda = physical drive 0, sr0 = CD-ROM 0). Partitions and
// other block devices (loop, nvme, mmcblk...) are not drives here.
#pragma once

#include <string>
#include <vector>

#include "platform/ScsiPassThrough.h"

class CSysfsStorageDriveFinder : public IStorageDriveFinder {
 public:
  // strSysRoot: the sysfs mount point ("/sys"); tests point it at a fixture tree holding
  // class/block/<name> and bus/usb/devices/<node> links into devices/.
  explicit CSysfsStorageDriveFinder(std::string strSysRoot = "/sys") : m_strSysRoot(std::move(strSysRoot)) {}
  int nFindStorageDrive(const std::string& strHubObjectName, StorageDriveInfo& info) override;

  // The device folders searched for a hub node name ("2-1"): its own, then its other half's
  // when it has one. Empty with ENOENT when the hub is not there.
  int nHubDeviceFolders(const std::string& strNodeName, std::vector<std::string>& vecFolders) const;

 private:
  std::string m_strSysRoot;
};
