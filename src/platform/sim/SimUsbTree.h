// The USB tree of the simulated bench, named as on Linux: controller c has root hubs
// "usb<2c+1>" (USB 2.0) and "usb<2c+2>" (SuperSpeed), each a host controller of the tree;
// hubs are "<bus>-<port path>". A USB 3 hub below USB 3 hubs only shows on both root hubs,
// one chip behind both halves. Descriptors and strings are the hub's identity now (the
// bench's values, or after a reset those of its configuration block). A suspended hub
// answers no string requests at all.
//
// Devices that are not hubs (disks, keyboards) can be placed on ports too: from the bench
// file's optional "devices" list or with vAddDevice. They are only passed over by the walk.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/UsbTree.h"
#include "platform/sim/SimBench.h"

struct SimPlainDevice {
  std::string strName;        // for messages
  std::string strController;  // on a root hub port of this controller, or
  std::string strParent;      // on a port of this hub
  int nPort = 1;
  bool bUsb3 = false;  // on the SuperSpeed root hub (controller ports only)
  uint16_t usVID = 0, usPID = 0, usBcdDevice = 0x0100;
  uint8_t ucClass = 0;
  std::string strProduct;
};

// Reads the "devices" list of a bench file: [{ "name", "controller" | "parent", "port",
// "usb3", "vid", "pid", "class", "product" }]. A file without the list gives none.
bool bReadSimPlainDevices(const std::string& strBenchPath, std::vector<SimPlainDevice>& vec,
                          std::string& strError);

class CSimUsbTree : public IUsbTree {
 public:
  // Places the bench file's plain devices, if the bench was read from a file.
  explicit CSimUsbTree(CSimBench& bench);
  // Places a plain device; false when its controller, parent or port does not exist.
  bool bAddDevice(const SimPlainDevice& dev);

  int nGetHostControllers(std::vector<std::string>& vecControllers) override;
  int nGetHCDDriverKeyName(const std::string& strController, std::string& strKey) override;
  int nGetRootHubName(const std::string& strController, std::string& strHub) override;
  int nGetHubPortCount(const std::string& strHub, uint32_t& ulPorts) override;
  int nGetConnectionInfo(const std::string& strHub, uint32_t ulPort, UsbConnectionInfo& info) override;
  int nGetConnectionName(const std::string& strHub, uint32_t ulPort, std::string& strOut) override;
  int nGetConnectionDriverKeyName(const std::string& strHub, uint32_t ulPort, std::string& strKey) override;
  int nGetStringDescriptor(const std::string& strHub, uint32_t ulPort, uint8_t ucIndex, uint16_t usLangId,
                           uint16_t usLength, std::vector<uint8_t>& vecOut) override;
  int nGetDeviceDescFromDriverKey(const std::string& strKey, std::string& strDesc) override;
  int nGetHardwareIdFromDriverKey(const std::string& strKey, std::string& strHwId) override;
  int nGetHubInterfaces(std::vector<UsbHubInterface>& vecHubs) override;

  // Node name of a hub half ("2-1.4").
  std::string strHubNodeName(int h, bool bSuperSpeed) const;

  // Test knobs for what the bench file cannot say: a hub whose chip does not answer the
  // chip-identification string, one that reports no serial string index, and a hook run
  // at every string request (a test can pull a hub out in the middle of a walk there).
  struct HubQuirks {
    bool bNoChipId = false;
    bool bHideSerial = false;
  };
  void vSetQuirks(int h, HubQuirks q);
  using StringRequestHook = std::function<void(const std::string& strHub, uint32_t ulPort, uint8_t ucIndex)>;
  void vSetStringRequestHook(StringRequestHook fn);

 private:
  struct Node {        // what a node name stands for
    int nRootBus = 0;  // > 0: the root hub of that bus
    int nHub = -1;     // >= 0: a bench hub
    int nDevice = -1;  // >= 0: a plain device
    bool bSuperSpeed = false;
  };
  bool bResolve(const std::string& strNodeName, Node& n);
  int nChildOnPort(const Node& hub, uint32_t ulPort, Node& child);  // 0 / ENOENT / EINVAL
  bool bPortCount(const Node& hub, uint32_t& ulPorts);
  UsbDeviceDescriptor stDescriptor(const Node& n);
  std::string strName(const Node& n) const;

  CSimBench& m_bench;
  std::mutex m_mutex;
  std::vector<SimPlainDevice> m_vecDevices;
  std::map<int, HubQuirks> m_mapQuirks;
  StringRequestHook m_hook;
};
