#include "platform/linux/ScsiSgIoDrives.h"

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "log/DebugLog.h"
#include "platform/FilterDevice.h"
#include "platform/linux/ScsiSgIo.h"

namespace fs = std::filesystem;

namespace {

bool bIsHubDevice(const fs::path& dir) {
  std::ifstream in(dir / "bDeviceClass");
  std::string s;
  if (!(in >> s)) return false;
  return s == "09";
}

// "usb2" -> "2", anything else -> "".
std::string strRootHubBus(const std::string& strName) {
  if (strName.size() < 4 || strName.compare(0, 3, "usb") != 0) return "";
  for (size_t i = 3; i < strName.size(); ++i)
    if (strName[i] < '0' || strName[i] > '9') return "";
  return strName.substr(3);
}

// True when the block device at disk lies below the hub folder with no other hub between.
bool bBelongsTo(const fs::path& disk, const fs::path& hub) {
  fs::path rel = disk.lexically_relative(hub);
  if (rel.empty() || *rel.begin() == "..") return false;
  fs::path cur = hub;
  for (const auto& part : rel) {
    cur /= part;
    if (cur == disk) break;
    if (bIsHubDevice(cur)) return false;
  }
  return true;
}

}  // namespace

int CSysfsStorageDriveFinder::nHubDeviceFolders(const std::string& strNodeName,
                                                std::vector<std::string>& vecFolders) const {
  vecFolders.clear();
  std::error_code ec;
  fs::path hub = fs::canonical(fs::path(m_strSysRoot) / "bus/usb/devices" / strNodeName, ec);
  if (ec || !fs::is_directory(hub, ec)) return ENOENT;
  vecFolders.push_back(hub.string());
  // The other half of a USB 3 hub hangs from the peer of the port this half hangs from.
  fs::path port = fs::canonical(hub / "port", ec);
  if (ec) return 0;
  fs::path peer = fs::canonical(port / "peer", ec);
  if (ec) return 0;
  std::string strPeer = peer.filename().string();  // "usb2-port1", "2-1-port3"
  size_t ulAt = strPeer.rfind("-port");
  if (ulAt == std::string::npos) return 0;
  std::string strPort = strPeer.substr(ulAt + 5);
  if (strPort.empty() || strPort.find_first_not_of("0123456789") != std::string::npos) return 0;
  fs::path parent = peer.parent_path().parent_path();  // port -> interface -> hub device
  std::string strParent = parent.filename().string();
  std::string strBus = strRootHubBus(strParent);
  std::string strChild = strBus.empty() ? strParent + "." + strPort : strBus + "-" + strPort;
  fs::path other = parent / strChild;
  if (fs::is_directory(other, ec) && other != hub) vecFolders.push_back(other.string());
  return 0;
}

int CSysfsStorageDriveFinder::nFindStorageDrive(const std::string& strHubObjectName, StorageDriveInfo& info) {
  info = StorageDriveInfo{};
  try {
    FilterDeviceName parsed;
    if (!bParseFilterDeviceName(strHubObjectName, parsed)) return EINVAL;
    std::string strNode = strHubObjectName.substr(4);  // after "usb:"
    std::vector<std::string> vecFolders;
    int nErr = nHubDeviceFolders(strNode, vecFolders);
    if (nErr != 0) return nErr;

    std::error_code ec;
    fs::directory_iterator it(fs::path(m_strSysRoot) / "class/block", ec);
    if (ec) return ec.value() == ENOENT ? EIO : ec.value();
    for (const auto& entry : it) {
      std::string strName = entry.path().filename().string();
      int nDisk = nDiskNumberFromName(strName);
      int nCd = nCDROMNumberFromName(strName);
      if (nDisk < 0 && nCd < 0) continue;
      std::error_code ec2;
      fs::path dev = fs::canonical(entry.path(), ec2);
      if (ec2) continue;  // went away while we looked
      bool bMine = false;
      for (const auto& f : vecFolders) bMine = bMine || bBelongsTo(dev, fs::path(f));
      if (!bMine) continue;
      if (nDisk >= 0 && (!info.bHasDisk || nDisk < info.ucPhysicalDrive)) {
        info.bHasDisk = true;
        info.ucPhysicalDrive = static_cast<uint8_t>(nDisk);
        info.strDiskDevice = strName;
      }
      if (nCd >= 0 && (!info.bHasCDROM || nCd < info.ucCDROMNumber)) {
        info.bHasCDROM = true;
        info.ucCDROMNumber = static_cast<uint8_t>(nCd);
        info.strCDROMDevice = strName;
      }
    }
    return 0;
  } catch (...) {
    vDEBUG_ERR_printf("CSysfsStorageDriveFinder::nFindStorageDrive", "catch(...): %s",
                      strHubObjectName.c_str());
    info = StorageDriveInfo{};
    return EIO;
  }
}
