#include "platform/linux/UsbTreeSysfs.h"

#include <dirent.h>
#include <libusb.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "platform/linux/SysfsRead.h"

namespace {

bool bIsRootHubName(const std::string& s, uint32_t* pulBus = nullptr) {
  if (s.size() < 4 || s.compare(0, 3, "usb") != 0) return false;
  uint32_t n = 0;
  if (!sysfs::bParseDec(s.substr(3), 0xFFFF, n)) return false;
  if (pulBus) *pulBus = n;
  return true;
}

// "version" holds bcdUSB as "%2x.%02x" (" 2.10", " 3.20").
bool bParseVersion(const std::string& s, uint16_t& us) {
  size_t dot = s.find('.');
  if (dot == std::string::npos) return false;
  uint32_t hi = 0, lo = 0;
  if (!sysfs::bParseHex(s.substr(0, dot), 0xFF, hi) || !sysfs::bParseHex(s.substr(dot + 1), 0xFF, lo))
    return false;
  us = static_cast<uint16_t>(hi << 8 | lo);
  return true;
}

EUsbSpeed eParseSpeed(const std::string& s) {
  if (s == "1.5") return EUsbSpeed::Low;
  if (s == "12") return EUsbSpeed::Full;
  if (s == "480") return EUsbSpeed::High;
  if (s == "5000") return EUsbSpeed::Super;
  if (s == "10000") return EUsbSpeed::SuperPlus;
  if (s == "20000") return EUsbSpeed::SuperPlusX2;
  return EUsbSpeed::Unknown;
}

int nMapLibusbError(int r) {
  switch (r) {
    case LIBUSB_ERROR_ACCESS:
      return EACCES;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND:
      return ENODEV;
    case LIBUSB_ERROR_PIPE:
      return EPIPE;
    case LIBUSB_ERROR_TIMEOUT:
      return ETIMEDOUT;
    case LIBUSB_ERROR_BUSY:
      return EBUSY;
    case LIBUSB_ERROR_NO_MEM:
      return ENOMEM;
    default:
      return EIO;
  }
}

}  // namespace

int nLibusbReadStringDescriptor(int nBus, int nDevNum, uint8_t ucIndex, uint16_t usLangId, uint16_t usLength,
                                std::vector<uint8_t>& vecOut) {
  vecOut.clear();
  libusb_context* ctx = nullptr;
  if (libusb_init(&ctx) != 0) return EIO;
  libusb_device** list = nullptr;
  ssize_t n = libusb_get_device_list(ctx, &list);
  int nErr = ENODEV;
  for (ssize_t i = 0; i < n; ++i) {
    if (libusb_get_bus_number(list[i]) != nBus || libusb_get_device_address(list[i]) != nDevNum) continue;
    libusb_device_handle* h = nullptr;
    int r = libusb_open(list[i], &h);
    if (r != 0) {
      nErr = nMapLibusbError(r);
      break;
    }
    std::vector<uint8_t> buf(usLength ? usLength : 1);
    r = libusb_get_string_descriptor(h, ucIndex, usLangId, buf.data(), usLength);
    libusb_close(h);
    if (r < 0) {
      nErr = nMapLibusbError(r);
    } else {
      buf.resize(static_cast<size_t>(r));
      vecOut = std::move(buf);
      nErr = 0;
    }
    break;
  }
  if (n >= 0) libusb_free_device_list(list, 1);
  libusb_exit(ctx);
  return nErr;
}

CUsbTreeSysfs::CUsbTreeSysfs(std::string strRoot, RawStringReader reader)
    : m_strRoot(std::move(strRoot)), m_reader(std::move(reader)) {}

std::string CUsbTreeSysfs::strPath(const std::string& strDev, const char* pszFile) const {
  std::string s = m_strRoot + "/" + strDev;
  if (pszFile) s += std::string("/") + pszFile;
  return s;
}

bool CUsbTreeSysfs::bExists(const std::string& strDev) const {
  // A node name never holds a path separator or a parent reference.
  if (strDev.empty() || strDev.find('/') != std::string::npos || strDev == "." || strDev == "..")
    return false;
  struct stat st {};
  return ::stat(strPath(strDev).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string CUsbTreeSysfs::strHubInterfaceName(const std::string& strHub) {
  uint32_t ulBus = 0;
  if (bIsRootHubName(strHub, &ulBus)) return std::to_string(ulBus) + "-0:1.0";
  return strHub + ":1.0";
}

std::string CUsbTreeSysfs::strPortName(const std::string& strHub, uint32_t ulPort) {
  return strHub + "-port" + std::to_string(ulPort);
}

std::string CUsbTreeSysfs::strPortFolder(const std::string& strHub, uint32_t ulPort) {
  return strHubInterfaceName(strHub) + "/" + strPortName(strHub, ulPort);
}

bool CUsbTreeSysfs::bPortExists(const std::string& strHub, uint32_t ulPort) const {
  struct stat st {};
  return bExists(strHub) && ::stat(strPath(strPortFolder(strHub, ulPort)).c_str(), &st) == 0 &&
         S_ISDIR(st.st_mode);
}

std::string CUsbTreeSysfs::strChildName(const std::string& strHub, uint32_t ulPort) {
  uint32_t ulBus = 0;
  if (bIsRootHubName(strHub, &ulBus)) return std::to_string(ulBus) + "-" + std::to_string(ulPort);
  return strHub + "." + std::to_string(ulPort);
}

int CUsbTreeSysfs::nGetHostControllers(std::vector<std::string>& vec) {
  vec.clear();
  DIR* d = ::opendir(m_strRoot.c_str());
  if (!d) return errno;
  std::vector<std::pair<uint32_t, std::string>> found;
  while (dirent* e = ::readdir(d)) {
    uint32_t ulBus = 0;
    if (bIsRootHubName(e->d_name, &ulBus)) found.emplace_back(ulBus, e->d_name);
  }
  ::closedir(d);
  std::sort(found.begin(), found.end());
  for (auto& f : found) vec.push_back(f.second);
  return 0;
}

int CUsbTreeSysfs::nGetHCDDriverKeyName(const std::string& strController, std::string& strKey) {
  strKey.clear();
  if (!bIsRootHubName(strController) || !bExists(strController)) return ENOENT;
  strKey = strController;
  return 0;
}

int CUsbTreeSysfs::nGetRootHubName(const std::string& strController, std::string& strHub) {
  strHub.clear();
  if (!bIsRootHubName(strController) || !bExists(strController)) return ENOENT;
  strHub = strController;
  return 0;
}

int CUsbTreeSysfs::nGetHubPortCount(const std::string& strHub, uint32_t& ulPorts) {
  ulPorts = 0;
  if (!bExists(strHub)) return ENOENT;
  return sysfs::nReadDec(strPath(strHub, "maxchild"), 255, ulPorts);
}

int CUsbTreeSysfs::nCheckPort(const std::string& strHub, uint32_t ulPort, std::string& strChild) const {
  strChild.clear();
  if (!bExists(strHub)) return ENOENT;
  uint32_t ulPorts = 0;
  int nErr = sysfs::nReadDec(strPath(strHub, "maxchild"), 255, ulPorts);
  if (nErr != 0) return nErr;
  if (ulPort < 1 || ulPort > ulPorts) return EINVAL;
  strChild = strChildName(strHub, ulPort);
  return 0;
}

int CUsbTreeSysfs::nReadPortDevice(const std::string& strHub, uint32_t ulPort, std::string& strChild,
                                   UsbDeviceDescriptor& d) const {
  d = UsbDeviceDescriptor{};
  int nErr = nCheckPort(strHub, ulPort, strChild);
  return nErr != 0 ? nErr : nReadDeviceDescriptor(strChild, d);
}

int CUsbTreeSysfs::nReadDeviceDescriptor(const std::string& strDev, UsbDeviceDescriptor& d) const {
  d = UsbDeviceDescriptor{};
  if (!bExists(strDev)) return ENOENT;
  std::string raw;
  if (sysfs::nReadFile(strPath(strDev, "descriptors"), raw) == 0 &&
      bParseDeviceDescriptor(reinterpret_cast<const uint8_t*>(raw.data()), raw.size(), d))
    return 0;
  // Older layouts and partial copies: assemble the descriptor from the single attributes.
  uint32_t ulVid = 0, ulPid = 0, ulRev = 0, ulClass = 0;
  int nErr = sysfs::nReadHex(strPath(strDev, "idVendor"), 0xFFFF, ulVid);
  if (nErr == 0) nErr = sysfs::nReadHex(strPath(strDev, "idProduct"), 0xFFFF, ulPid);
  if (nErr == 0) nErr = sysfs::nReadHex(strPath(strDev, "bcdDevice"), 0xFFFF, ulRev);
  if (nErr == 0) nErr = sysfs::nReadHex(strPath(strDev, "bDeviceClass"), 0xFF, ulClass);
  std::string strVer;
  if (nErr == 0) nErr = sysfs::nReadText(strPath(strDev, "version"), strVer);
  if (nErr == 0 && !bParseVersion(strVer, d.bcdUSB)) nErr = EINVAL;
  if (nErr != 0) {
    d = UsbDeviceDescriptor{};
    return nErr;
  }
  d.bLength = 18;
  d.bDescriptorType = 1;
  d.idVendor = static_cast<uint16_t>(ulVid);
  d.idProduct = static_cast<uint16_t>(ulPid);
  d.bcdDevice = static_cast<uint16_t>(ulRev);
  d.bDeviceClass = static_cast<uint8_t>(ulClass);
  uint32_t v = 0;
  if (sysfs::nReadHex(strPath(strDev, "bDeviceSubClass"), 0xFF, v) == 0)
    d.bDeviceSubClass = static_cast<uint8_t>(v);
  if (sysfs::nReadHex(strPath(strDev, "bDeviceProtocol"), 0xFF, v) == 0)
    d.bDeviceProtocol = static_cast<uint8_t>(v);
  if (sysfs::nReadDec(strPath(strDev, "bMaxPacketSize0"), 0xFF, v) == 0)
    d.bMaxPacketSize0 = static_cast<uint8_t>(v);
  if (sysfs::nReadDec(strPath(strDev, "bNumConfigurations"), 0xFF, v) == 0)
    d.bNumConfigurations = static_cast<uint8_t>(v);
  // The string indexes are not exported; number the strings the kernel read.
  struct stat st {};
  if (::stat(strPath(strDev, "manufacturer").c_str(), &st) == 0) d.iManufacturer = 1;
  if (::stat(strPath(strDev, "product").c_str(), &st) == 0) d.iProduct = 2;
  if (::stat(strPath(strDev, "serial").c_str(), &st) == 0) d.iSerialNumber = 3;
  return 0;
}

int CUsbTreeSysfs::nGetConnectionInfo(const std::string& strHub, uint32_t ulPort, UsbConnectionInfo& info) {
  info = UsbConnectionInfo{};
  std::string strChild;
  int nErr = nCheckPort(strHub, ulPort, strChild);
  if (nErr != 0) return nErr;
  if (!bExists(strChild)) {
    // No device directory: the port itself tells whether something sits there.
    std::string strState;
    // The kernel writes "not attached"; its ABI notes spell it "not-attached".
    if (sysfs::nReadText(strPath(strPortFolder(strHub, ulPort), "state"), strState) == 0 &&
        strState != "not attached" && strState != "not-attached")
      info.eStatus = DeviceFailedEnumeration;
    return 0;
  }
  if (nReadDeviceDescriptor(strChild, info.desc) != 0) {
    info.eStatus = DeviceFailedEnumeration;
    return 0;
  }
  info.eStatus = DeviceConnected;
  info.bDeviceIsHub = info.desc.bDeviceClass == 0x09;
  std::string strSpeed;
  if (sysfs::nReadText(strPath(strChild, "speed"), strSpeed) == 0) info.eSpeed = eParseSpeed(strSpeed);
  return 0;
}

int CUsbTreeSysfs::nGetConnectionName(const std::string& strHub, uint32_t ulPort, std::string& strName) {
  strName.clear();
  std::string strChild;
  UsbDeviceDescriptor d;
  int nErr = nReadPortDevice(strHub, ulPort, strChild, d);
  if (nErr != 0) return nErr;
  if (d.bDeviceClass != 0x09) return ENOTTY;
  strName = strChild;
  return 0;
}

int CUsbTreeSysfs::nGetConnectionDriverKeyName(const std::string& strHub, uint32_t ulPort,
                                               std::string& strKey) {
  strKey.clear();
  std::string strChild;
  int nErr = nCheckPort(strHub, ulPort, strChild);
  if (nErr != 0) return nErr;
  if (bExists(strChild)) {
    strKey = strChild;
    return 0;
  }
  // No device: the key is the port's own name ("usb1-port2", "1-3-port2").
  if (!bPortExists(strHub, ulPort)) return ENOENT;
  strKey = strPortName(strHub, ulPort);
  return 0;
}

int CUsbTreeSysfs::nGetStringDescriptor(const std::string& strHub, uint32_t ulPort, uint8_t ucIndex,
                                        uint16_t usLangId, uint16_t usLength, std::vector<uint8_t>& vecOut) {
  vecOut.clear();
  std::string strChild;
  UsbDeviceDescriptor d;
  int nErr = nReadPortDevice(strHub, ulPort, strChild, d);
  if (nErr != 0) return nErr;
  struct stat st {};
  bool bKernelStrings = ::stat(strPath(strChild, "manufacturer").c_str(), &st) == 0 ||
                        ::stat(strPath(strChild, "product").c_str(), &st) == 0 ||
                        ::stat(strPath(strChild, "serial").c_str(), &st) == 0;
  const char* pszFile = nullptr;
  if (ucIndex != 0) {
    if (ucIndex == d.iManufacturer)
      pszFile = "manufacturer";
    else if (ucIndex == d.iProduct)
      pszFile = "product";
    else if (ucIndex == d.iSerialNumber)
      pszFile = "serial";
  }
  if (pszFile) {
    std::string s;
    nErr = sysfs::nReadFile(strPath(strChild, pszFile), s);
    if (nErr == ENOENT) return EPIPE;  // the kernel could not read it either
    if (nErr != 0) return nErr;
    if (!s.empty() && s.back() == '\n') s.pop_back();
    vecOut = vecMakeStringDescriptor(s, usLength);
    return 0;
  }
  if (ucIndex == 0 && bKernelStrings) {
    // The kernel read strings, so the device has a language table; it uses the first one.
    vecOut = vecMakeLanguageDescriptor(0x0409, usLength);
    return 0;
  }
  if (!m_reader) return EPIPE;
  uint32_t ulBus = 0, ulDev = 0;
  nErr = sysfs::nReadDec(strPath(strChild, "busnum"), 0xFFFF, ulBus);
  if (nErr == 0) nErr = sysfs::nReadDec(strPath(strChild, "devnum"), 0xFFFF, ulDev);
  if (nErr != 0) return nErr;
  nErr = m_reader(static_cast<int>(ulBus), static_cast<int>(ulDev), ucIndex, usLangId, usLength, vecOut);
  // The chip-identification string is raw bytes; only the language table is checked.
  if (nErr == 0 && ucIndex == 0 && (vecOut.size() < 4 || vecOut[1] != 3)) {
    vecOut.clear();
    return EINVAL;
  }
  return nErr;
}

int CUsbTreeSysfs::nGetDeviceDescFromDriverKey(const std::string& strKey, std::string& strDesc) {
  strDesc.clear();
  if (!bExists(strKey)) {
    // A port's key: the port is there but nothing on it was described to the kernel.
    size_t ulAt = strKey.rfind("-port");
    uint32_t ulPort = 0;
    if (ulAt == std::string::npos || !sysfs::bParseDec(strKey.substr(ulAt + 5), 255, ulPort) ||
        !bPortExists(strKey.substr(0, ulAt), ulPort))
      return ENOENT;
    return ENODATA;
  }
  int nErr = sysfs::nReadText(strPath(strKey, "product"), strDesc);
  return nErr == ENOENT ? ENODATA : nErr;
}

int CUsbTreeSysfs::nGetHardwareIdFromDriverKey(const std::string& strKey, std::string& strHwId) {
  strHwId.clear();
  UsbDeviceDescriptor d;
  int nErr = nReadDeviceDescriptor(strKey, d);
  if (nErr != 0) return nErr;
  strHwId = strMakeHardwareId(d.idVendor, d.idProduct, d.bcdDevice);
  return 0;
}

int CUsbTreeSysfs::nGetHubInterfaces(std::vector<UsbHubInterface>& vec) {
  vec.clear();
  DIR* dir = ::opendir(m_strRoot.c_str());
  if (!dir) return errno;
  std::vector<std::string> names;
  while (dirent* e = ::readdir(dir)) {
    std::string s = e->d_name;
    if (s.empty() || s[0] == '.' || s.find(':') != std::string::npos || bIsRootHubName(s)) continue;
    names.push_back(s);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  for (const auto& s : names) {
    UsbDeviceDescriptor d;
    if (nReadDeviceDescriptor(s, d) != 0 || d.bDeviceClass != 0x09) continue;
    UsbHubInterface h;
    h.strHubName = s;
    h.strDevicePath = strMakeHubDevicePath(d.idVendor, d.idProduct, s);
    h.strObjectName = "usb:" + s;
    h.strHardwareId = strMakeHardwareId(d.idVendor, d.idProduct, d.bcdDevice);
    vec.push_back(std::move(h));
  }
  return 0;
}
