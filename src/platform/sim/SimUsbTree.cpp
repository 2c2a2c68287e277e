#include "platform/sim/SimUsbTree.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <nlohmann/json.hpp>

namespace {
bool bHex16(const nlohmann::json& j, uint16_t& us) {
  if (j.is_number_unsigned() && j.get<uint64_t>() <= 0xFFFF) {
    us = static_cast<uint16_t>(j.get<uint64_t>());
    return true;
  }
  if (!j.is_string()) return false;
  std::string s = j.get<std::string>();
  if (s.rfind("0x", 0) == 0 || s.rfind("0X", 0) == 0) s = s.substr(2);
  if (s.empty() || s.size() > 4) return false;
  for (char c : s)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  us = static_cast<uint16_t>(std::stoul(s, nullptr, 16));
  return true;
}
}  // namespace

bool bReadSimPlainDevices(const std::string& strBenchPath, std::vector<SimPlainDevice>& vec,
                          std::string& strError) {
  vec.clear();
  std::ifstream f(strBenchPath);
  if (!f) {
    strError = strBenchPath + ": cannot be read";
    return false;
  }
  nlohmann::json j = nlohmann::json::parse(f, nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    strError = strBenchPath + ": not a JSON object";
    return false;
  }
  if (!j.contains("devices")) return true;
  if (!j["devices"].is_array()) {
    strError = strBenchPath + ": devices must be a list";
    return false;
  }
  int i = 0;
  for (const auto& d : j["devices"]) {
    std::string what = strBenchPath + ": devices[" + std::to_string(i++) + "]";
    if (!d.is_object()) {
      strError = what + " must be an object";
      return false;
    }
    SimPlainDevice p;
    p.strName = d.value("name", what);
    if (d.contains("controller") && d["controller"].is_string())
      p.strController = d["controller"].get<std::string>();
    if (d.contains("parent") && d["parent"].is_string()) p.strParent = d["parent"].get<std::string>();
    if (p.strController.empty() == p.strParent.empty()) {
      strError = what + " needs a controller or a parent";
      return false;
    }
    if (!d.contains("port") || !d["port"].is_number_integer() || d["port"].get<int>() < 1 ||
        d["port"].get<int>() > 255) {
      strError = what + ".port must be 1..255";
      return false;
    }
    p.nPort = d["port"].get<int>();
    p.bUsb3 = d.value("usb3", false);
    if ((d.contains("vid") && !bHex16(d["vid"], p.usVID)) ||
        (d.contains("pid") && !bHex16(d["pid"], p.usPID))) {
      strError = what + ": vid and pid must be four hexadecimal digits";
      return false;
    }
    uint16_t usClass = 0;
    if (d.contains("class") && (!bHex16(d["class"], usClass) || usClass > 0xFF || usClass == 9)) {
      strError = what + ".class must be a byte other than 09 (hubs go in the hubs list)";
      return false;
    }
    p.ucClass = static_cast<uint8_t>(usClass);
    p.strProduct = d.value("product", std::string());
    vec.push_back(std::move(p));
  }
  return true;
}

CSimUsbTree::CSimUsbTree(CSimBench& bench) : m_bench(bench) {
  if (bench.def().strPath.empty()) return;
  std::vector<SimPlainDevice> vec;
  std::string strError;
  if (bReadSimPlainDevices(bench.def().strPath, vec, strError))
    for (const auto& d : vec) bAddDevice(d);
}

bool CSimUsbTree::bAddDevice(const SimPlainDevice& dev) {
  if (dev.nPort < 1) return false;
  if (!dev.strParent.empty()) {
    int h = m_bench.nFindHub(dev.strParent);
    if (h < 0 || dev.nPort > m_bench.hubSpec(h).nPorts) return false;
  } else {
    int c = -1;
    for (int i = 0; i < m_bench.nControllers(); ++i)
      if (m_bench.controller(i).strName == dev.strController) c = i;
    if (c < 0 || dev.nPort > m_bench.controller(c).nPorts) return false;
  }
  std::lock_guard<std::mutex> l(m_mutex);
  m_vecDevices.push_back(dev);
  return true;
}

void CSimUsbTree::vSetQuirks(int h, HubQuirks q) {
  std::lock_guard<std::mutex> l(m_mutex);
  m_mapQuirks[h] = q;
}

void CSimUsbTree::vSetStringRequestHook(StringRequestHook fn) {
  std::lock_guard<std::mutex> l(m_mutex);
  m_hook = std::move(fn);
}

std::string CSimUsbTree::strHubNodeName(int h, bool bSuperSpeed) const {
  std::string s = m_bench.strDeviceName(h, bSuperSpeed);
  return s.rfind("usb:", 0) == 0 ? s.substr(4) : s;
}

std::string CSimUsbTree::strName(const Node& n) const {
  if (n.nRootBus > 0) return "usb" + std::to_string(n.nRootBus);
  if (n.nHub >= 0) return strHubNodeName(n.nHub, n.bSuperSpeed);
  const SimPlainDevice& d = m_vecDevices[n.nDevice];
  if (d.strParent.empty()) {
    int c = 0;
    for (int i = 0; i < m_bench.nControllers(); ++i)
      if (m_bench.controller(i).strName == d.strController) c = i;
    return std::to_string(CSimBench::ucBus(c, d.bUsb3)) + "-" + std::to_string(d.nPort);
  }
  int h = m_bench.nFindHub(d.strParent);
  return strHubNodeName(h, n.bSuperSpeed) + "." + std::to_string(d.nPort);
}

bool CSimUsbTree::bResolve(const std::string& strNodeName, Node& n) {
  n = Node{};
  if (strNodeName.rfind("usb", 0) == 0) {
    std::string s = strNodeName.substr(3);
    if (s.empty() || s.size() > 3 || !std::all_of(s.begin(), s.end(), ::isdigit)) return false;
    int nBus = std::stoi(s);
    if (nBus < 1 || (nBus - 1) / 2 >= m_bench.nControllers()) return false;
    n.nRootBus = nBus;
    n.bSuperSpeed = nBus % 2 == 0;
    return true;
  }
  bool bSS = false;
  int h = m_bench.nResolveName("usb:" + strNodeName, bSS);
  if (h >= 0) {
    for (int p = h; p >= 0; p = m_bench.nHubParent(p))
      if (!m_bench.bPresent(p)) return false;
    n.nHub = h;
    n.bSuperSpeed = bSS;
    return true;
  }
  // A plain device: the node name of its parent plus its port.
  size_t dot = strNodeName.find_last_of(".-");
  if (dot == std::string::npos) return false;
  std::string strParent = strNodeName.substr(0, dot);
  if (strNodeName[dot] == '-') strParent = "usb" + strParent;
  Node parent;
  if (!bResolve(strParent, parent)) return false;
  Node child;
  uint32_t ulPort = 0;
  try {
    ulPort = static_cast<uint32_t>(std::stoul(strNodeName.substr(dot + 1)));
  } catch (...) {
    return false;
  }
  if (nChildOnPort(parent, ulPort, child) != 0 || child.nDevice < 0) return false;
  n = child;
  return true;
}

bool CSimUsbTree::bPortCount(const Node& hub, uint32_t& ulPorts) {
  if (hub.nRootBus > 0) {
    ulPorts = static_cast<uint32_t>(m_bench.controller((hub.nRootBus - 1) / 2).nPorts);
    return true;
  }
  if (hub.nHub >= 0) {
    ulPorts = static_cast<uint32_t>(m_bench.stIdentity(hub.nHub).nPorts);
    return true;
  }
  return false;
}

int CSimUsbTree::nChildOnPort(const Node& hub, uint32_t ulPort, Node& child) {
  child = Node{};
  uint32_t ulPorts = 0;
  if (!bPortCount(hub, ulPorts)) return ENOTTY;
  if (ulPort < 1 || ulPort > ulPorts) return EINVAL;
  const bool bSS = hub.bSuperSpeed;
  const int c = hub.nRootBus > 0 ? (hub.nRootBus - 1) / 2 : m_bench.nHubController(hub.nHub);
  for (int h = 0; h < m_bench.nHubs(); ++h) {
    const SimHubSpec& s = m_bench.hubSpec(h);
    if (m_bench.nHubController(h) != c || s.nPort != static_cast<int>(ulPort)) continue;
    if (hub.nRootBus > 0 ? m_bench.nHubParent(h) != -1 : m_bench.nHubParent(h) != hub.nHub) continue;
    if (bSS && !m_bench.bHasSuperSpeedHalf(h)) continue;
    if (!m_bench.bPresent(h)) return ENOENT;
    child.nHub = h;
    child.bSuperSpeed = bSS;
    return 0;
  }
  std::lock_guard<std::mutex> l(m_mutex);
  for (size_t i = 0; i < m_vecDevices.size(); ++i) {
    const SimPlainDevice& d = m_vecDevices[i];
    if (d.nPort != static_cast<int>(ulPort)) continue;
    if (hub.nRootBus > 0) {
      if (!d.strParent.empty() || d.bUsb3 != bSS || d.strController != m_bench.controller(c).strName)
        continue;
    } else {
      if (d.strParent != m_bench.hubSpec(hub.nHub).strName) continue;
      // on a hub with both halves a device shows on the half of its own speed
      bool bOnSS = d.bUsb3 && m_bench.bHasSuperSpeedHalf(hub.nHub);
      if (bOnSS != bSS) continue;
    }
    child.nDevice = static_cast<int>(i);
    child.bSuperSpeed = bSS;
    return 0;
  }
  return ENOENT;
}

UsbDeviceDescriptor CSimUsbTree::stDescriptor(const Node& n) {
  UsbDeviceDescriptor d;
  d.bLength = 18;
  d.bDescriptorType = 1;
  d.bNumConfigurations = 1;
  if (n.nHub >= 0) {
    SimHubIdentity id = m_bench.stIdentity(n.nHub);
    HubQuirks q;
    {
      std::lock_guard<std::mutex> l(m_mutex);
      auto it = m_mapQuirks.find(n.nHub);
      if (it != m_mapQuirks.end()) q = it->second;
    }
    d.bcdUSB = n.bSuperSpeed ? 0x0320 : 0x0210;
    d.bDeviceClass = 9;
    d.bDeviceProtocol = n.bSuperSpeed ? 3 : 2;
    d.bMaxPacketSize0 = n.bSuperSpeed ? 9 : 64;
    d.idVendor = id.usVID;
    d.idProduct = n.bSuperSpeed ? id.usPID : id.usPIDU2;  // as the chip itself reports
    d.bcdDevice = id.usBcdDevice;
    d.iManufacturer = id.strManufacturer.empty() ? 0 : 1;
    d.iProduct = id.strProduct.empty() ? 0 : 2;
    d.iSerialNumber = id.strSerial.empty() || q.bHideSerial ? 0 : 3;
    return d;
  }
  if (n.nRootBus > 0) {
    d.bcdUSB = n.bSuperSpeed ? 0x0310 : 0x0200;
    d.bDeviceClass = 9;
    d.idVendor = 0x1D6B;
    d.idProduct = n.bSuperSpeed ? 3 : 2;
    d.iProduct = 2;
    return d;
  }
  std::lock_guard<std::mutex> l(m_mutex);
  const SimPlainDevice& p = m_vecDevices[n.nDevice];
  d.bcdUSB = p.bUsb3 ? 0x0320 : 0x0200;
  d.bDeviceClass = p.ucClass;
  d.bMaxPacketSize0 = p.bUsb3 ? 9 : 64;
  d.idVendor = p.usVID;
  d.idProduct = p.usPID;
  d.bcdDevice = p.usBcdDevice;
  d.iProduct = p.strProduct.empty() ? 0 : 2;
  return d;
}

int CSimUsbTree::nGetHostControllers(std::vector<std::string>& vec) {
  vec.clear();
  for (int c = 0; c < m_bench.nControllers(); ++c) {
    vec.push_back("usb" + std::to_string(CSimBench::ucBus(c, false)));
    vec.push_back("usb" + std::to_string(CSimBench::ucBus(c, true)));
  }
  return 0;
}

int CSimUsbTree::nGetHCDDriverKeyName(const std::string& strController, std::string& strKey) {
  strKey.clear();
  Node n;
  if (!bResolve(strController, n) || n.nRootBus == 0) return ENOENT;
  strKey = strController;
  return 0;
}

int CSimUsbTree::nGetRootHubName(const std::string& strController, std::string& strHub) {
  return nGetHCDDriverKeyName(strController, strHub);
}

int CSimUsbTree::nGetHubPortCount(const std::string& strHub, uint32_t& ulPorts) {
  ulPorts = 0;
  Node n;
  if (!bResolve(strHub, n)) return ENOENT;
  return bPortCount(n, ulPorts) ? 0 : ENOTTY;
}

int CSimUsbTree::nGetConnectionInfo(const std::string& strHub, uint32_t ulPort, UsbConnectionInfo& info) {
  info = UsbConnectionInfo{};
  Node hub, child;
  if (!bResolve(strHub, hub)) return ENOENT;
  int nErr = nChildOnPort(hub, ulPort, child);
  if (nErr == ENOENT) return 0;  // nothing on the port
  if (nErr != 0) return nErr;
  info.eStatus = DeviceConnected;
  info.desc = stDescriptor(child);
  info.bDeviceIsHub = child.nHub >= 0;
  info.eSpeed =
      child.bSuperSpeed ? (child.nHub >= 0 ? EUsbSpeed::SuperPlus : EUsbSpeed::Super) : EUsbSpeed::High;
  return 0;
}

int CSimUsbTree::nGetConnectionName(const std::string& strHub, uint32_t ulPort, std::string& strOut) {
  strOut.clear();
  Node hub, child;
  if (!bResolve(strHub, hub)) return ENOENT;
  int nErr = nChildOnPort(hub, ulPort, child);
  if (nErr != 0) return nErr;
  if (child.nHub < 0) return ENOTTY;
  strOut = strName(child);
  return 0;
}

int CSimUsbTree::nGetConnectionDriverKeyName(const std::string& strHub, uint32_t ulPort,
                                             std::string& strKey) {
  strKey.clear();
  Node hub, child;
  if (!bResolve(strHub, hub)) return ENOENT;
  int nErr = nChildOnPort(hub, ulPort, child);
  if (nErr != 0) return nErr;
  std::lock_guard<std::mutex> l(m_mutex);
  strKey = strName(child);
  return 0;
}

int CSimUsbTree::nGetStringDescriptor(const std::string& strHub, uint32_t ulPort, uint8_t ucIndex,
                                      uint16_t usLangId, uint16_t usLength, std::vector<uint8_t>& vecOut) {
  (void)usLangId;
  vecOut.clear();
  StringRequestHook hook;
  {
    std::lock_guard<std::mutex> l(m_mutex);
    hook = m_hook;
  }
  if (hook) hook(strHub, ulPort, ucIndex);
  Node hub, child;
  if (!bResolve(strHub, hub)) return ENOENT;
  int nErr = nChildOnPort(hub, ulPort, child);
  if (nErr != 0) return nErr;
  if (child.nHub < 0) {
    std::lock_guard<std::mutex> l(m_mutex);
    const SimPlainDevice& p = m_vecDevices[child.nDevice];
    if (p.strProduct.empty()) return EPIPE;
    if (ucIndex == 0)
      vecOut = vecMakeLanguageDescriptor(0x0409, usLength);
    else if (ucIndex == 2)
      vecOut = vecMakeStringDescriptor(p.strProduct, usLength);
    else
      return EPIPE;
    return 0;
  }
  SimHubIdentity id = m_bench.stIdentity(child.nHub);
  if (id.bSuspended) return EPIPE;  // a sleeping hub answers nothing
  HubQuirks q;
  {
    std::lock_guard<std::mutex> l(m_mutex);
    auto it = m_mapQuirks.find(child.nHub);
    if (it != m_mapQuirks.end()) q = it->second;
  }
  // Without permission only what the kernel read for everybody is there (the strings it
  // keeps); the chip-identification string needs the device opened.
  if (m_bench.hubSpec(child.nHub).bPermissionDenied &&
      (ucIndex == 0xFF ||
       (ucIndex == 0 && id.strManufacturer.empty() && id.strProduct.empty() && id.strSerial.empty())))
    return EACCES;
  if (ucIndex == 0) {
    vecOut = vecMakeLanguageDescriptor(0x0409, usLength);
  } else if (ucIndex == 0xFF) {
    if (q.bNoChipId) return EPIPE;
    vecOut.assign(16, 0);  // the chip's answer: its id, low byte first
    vecOut[0] = static_cast<uint8_t>(id.usChipId);
    vecOut[1] = static_cast<uint8_t>(id.usChipId >> 8);
    if (vecOut.size() > usLength) vecOut.resize(usLength);
  } else {
    const std::string* s = ucIndex == 1                     ? &id.strManufacturer
                           : ucIndex == 2                   ? &id.strProduct
                           : ucIndex == 3 && !q.bHideSerial ? &id.strSerial
                                                            : nullptr;
    if (!s || s->empty()) return EPIPE;
    vecOut = vecMakeStringDescriptor(*s, usLength);
  }
  return 0;
}

int CSimUsbTree::nGetDeviceDescFromDriverKey(const std::string& strKey, std::string& strDesc) {
  strDesc.clear();
  Node n;
  if (!bResolve(strKey, n)) return ENOENT;
  if (n.nRootBus > 0) {
    strDesc = "xHCI Host Controller";
  } else if (n.nHub >= 0) {
    strDesc = m_bench.stIdentity(n.nHub).strProduct;
  } else {
    std::lock_guard<std::mutex> l(m_mutex);
    strDesc = m_vecDevices[n.nDevice].strProduct;
  }
  return strDesc.empty() ? ENODATA : 0;
}

int CSimUsbTree::nGetHardwareIdFromDriverKey(const std::string& strKey, std::string& strHwId) {
  strHwId.clear();
  Node n;
  if (!bResolve(strKey, n)) return ENOENT;
  UsbDeviceDescriptor d = stDescriptor(n);
  strHwId = strMakeHardwareId(d.idVendor, d.idProduct, d.bcdDevice);
  return 0;
}

int CSimUsbTree::nGetHubInterfaces(std::vector<UsbHubInterface>& vec) {
  vec.clear();
  for (int h = 0; h < m_bench.nHubs(); ++h) {
    for (bool bSS : {false, true}) {
      if (bSS && !m_bench.bHasSuperSpeedHalf(h)) continue;
      Node n;
      std::string strNode = strHubNodeName(h, bSS);
      if (!bResolve(strNode, n)) continue;  // off the bus
      UsbDeviceDescriptor d = stDescriptor(n);
      UsbHubInterface i;
      i.strHubName = strNode;
      i.strDevicePath = strMakeHubDevicePath(d.idVendor, d.idProduct, strNode);
      i.strObjectName = "usb:" + strNode;
      i.strHardwareId = strMakeHardwareId(d.idVendor, d.idProduct, d.bcdDevice);
      vec.push_back(std::move(i));
    }
  }
  return 0;
}
