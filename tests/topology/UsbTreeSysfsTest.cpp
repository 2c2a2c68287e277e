// The sysfs tree on fixture trees laid out as the kernel exports /sys/bus/usb/devices.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <map>

#include "platform/linux/UsbTreeSysfs.h"
#include "support/TempDir.h"

namespace {

// A fixture tree holds the kernel's folders under devices/ and the links the tool reads in
// bus/usb/devices.
std::string strTop(const char* pszName) {
  return std::string(MPTOOL_TEST_DATA) + "/topology/" + pszName;
}
std::string strTree(const char* pszName) {
  return strTop(pszName) + "/bus/usb/devices";
}

// A writable copy of a fixture tree, links kept as links; str() is its device listing.
struct TreeCopy {
  TempDir tmp;
  explicit TreeCopy(const char* pszName) {
    std::filesystem::copy(
        strTop(pszName), tmp.path(),
        std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
  }
  std::string str() const { return tmp.str() + "/bus/usb/devices"; }
  std::filesystem::path path(const std::string& s) const { return tmp.path() / "bus/usb/devices" / s; }
  // A device leaves: its folder and its link go, as the kernel removes both.
  void vRemove(const std::string& strNode) const {
    std::filesystem::remove_all(std::filesystem::canonical(path(strNode)));
    std::filesystem::remove(path(strNode));
  }
};

// Text of a string descriptor (ASCII part), for checks.
std::string strText(const std::vector<uint8_t>& v) {
  std::string s;
  for (size_t i = 2; i + 1 < v.size(); i += 2) s += static_cast<char>(v[i]);
  return s;
}

// Stands in for the device side of libusb: answers from a table by bus, device and index.
struct FakeDevices {
  std::map<std::tuple<int, int, int>, std::vector<uint8_t>> answers;
  std::vector<std::tuple<int, int, int>> asked;
  RawStringReader reader() {
    return [this](int nBus, int nDev, uint8_t ucIndex, uint16_t, uint16_t usLen, std::vector<uint8_t>& out) {
      asked.emplace_back(nBus, nDev, ucIndex);
      auto it = answers.find({nBus, nDev, ucIndex});
      if (it == answers.end()) return EPIPE;
      out = it->second;
      if (out.size() > usLen) out.resize(usLen);
      return 0;
    };
  }
};

TEST(UsbTreeSysfs, Usb2HubAloneIsFoundWithItsDescriptorAndStrings) {
  CUsbTreeSysfs tree(strTree("usb2_hub"), nullptr);
  std::vector<std::string> hcs;
  ASSERT_EQ(tree.nGetHostControllers(hcs), 0);
  ASSERT_EQ(hcs, std::vector<std::string>{"usb1"});
  std::string root;
  ASSERT_EQ(tree.nGetRootHubName("usb1", root), 0);
  uint32_t ulPorts = 0;
  ASSERT_EQ(tree.nGetHubPortCount(root, ulPorts), 0);
  EXPECT_EQ(ulPorts, 2u);

  UsbConnectionInfo info;
  ASSERT_EQ(tree.nGetConnectionInfo(root, 1, info), 0);
  EXPECT_EQ(info.eStatus, DeviceConnected);
  EXPECT_TRUE(info.bDeviceIsHub);
  EXPECT_EQ(info.desc.idVendor, 0x2F7B);
  EXPECT_EQ(info.desc.idProduct, 0x55AB);
  EXPECT_EQ(info.desc.bcdUSB, 0x0210);
  EXPECT_EQ(info.desc.bcdDevice, 0x0100);
  EXPECT_EQ(info.eSpeed, EUsbSpeed::High);
  ASSERT_EQ(tree.nGetConnectionInfo(root, 2, info), 0);
  EXPECT_EQ(info.eStatus, NoDeviceConnected);
  EXPECT_EQ(tree.nGetConnectionInfo(root, 3, info), EINVAL);
  EXPECT_EQ(tree.nGetConnectionInfo(root, 0, info), EINVAL);

  std::string name;
  ASSERT_EQ(tree.nGetConnectionName(root, 1, name), 0);
  EXPECT_EQ(name, "1-1");
  std::vector<uint8_t> v;
  ASSERT_EQ(tree.nGetStringDescriptor(root, 1, 0, 0, 4, v), 0);
  EXPECT_EQ(v, (std::vector<uint8_t>{4, 3, 0x09, 0x04}));
  ASSERT_EQ(tree.nGetStringDescriptor(root, 1, info.desc.iSerialNumber ? info.desc.iSerialNumber : 3, 0x409,
                                      255, v),
            0);
  EXPECT_EQ(strText(v), "SN0001");
  EXPECT_EQ(v[0], v.size());
  // the chip-identification string is not in sysfs and there is no device reader
  EXPECT_EQ(tree.nGetStringDescriptor(root, 1, 0xFF, 0, 16, v), EPIPE);

  std::string desc, hw;
  ASSERT_EQ(tree.nGetDeviceDescFromDriverKey("usb1", desc), 0);
  EXPECT_EQ(desc, "xHCI Host Controller");
  ASSERT_EQ(tree.nGetHardwareIdFromDriverKey("1-1", hw), 0);
  EXPECT_EQ(hw, "USB\\VID_2F7B&PID_55AB&REV_0100");
}

// The tree a real kernel made (6.1, saved in the VM test's guest by
// scripts/vm/capture-sysfs.py): qemu's xHCI (usb1, usb2) with two cascaded full-speed hubs
// and a USB storage device, and dummy_hcd (usb3, on the platform bus, not PCI) with the gadget hub on its one
// port.
TEST(UsbTreeSysfs, TreeOfARealKernelIsWalkedPortByPort) {
  CUsbTreeSysfs tree(strTree("vm_guest"), nullptr);
  std::vector<std::string> hcs;
  ASSERT_EQ(tree.nGetHostControllers(hcs), 0);
  EXPECT_EQ(hcs, (std::vector<std::string>{"usb1", "usb2", "usb3"}));
  std::string root;
  ASSERT_EQ(tree.nGetRootHubName("usb3", root), 0);
  uint32_t ulPorts = 0;
  ASSERT_EQ(tree.nGetHubPortCount(root, ulPorts), 0);
  EXPECT_EQ(ulPorts, 1u);
  UsbConnectionInfo info;
  ASSERT_EQ(tree.nGetConnectionInfo(root, 1, info), 0);
  EXPECT_EQ(info.eStatus, DeviceConnected);
  EXPECT_TRUE(info.bDeviceIsHub);
  EXPECT_EQ(info.desc.idVendor, 0x2F7B);
  EXPECT_EQ(info.desc.idProduct, 0x55AA);
  EXPECT_EQ(info.desc.bcdUSB, 0x0200);
  EXPECT_EQ(info.eSpeed, EUsbSpeed::High);
  std::string name;
  ASSERT_EQ(tree.nGetConnectionName(root, 1, name), 0);
  EXPECT_EQ(name, "3-1");
  ASSERT_EQ(tree.nGetHubPortCount(name, ulPorts), 0);
  EXPECT_EQ(ulPorts, 4u);
  for (uint32_t p = 1; p <= 4; ++p) {
    ASSERT_EQ(tree.nGetConnectionInfo(name, p, info), 0) << p;
    EXPECT_EQ(info.eStatus, NoDeviceConnected) << p;
  }
  std::vector<uint8_t> v;
  ASSERT_EQ(tree.nGetStringDescriptor(root, 1, 2, 0x409, 255, v), 0);
  EXPECT_EQ(strText(v), "VLN6420 Hub");

  // qemu's cascade: a full-speed hub on the USB 2.0 root hub's first port, another below it
  ASSERT_EQ(tree.nGetRootHubName("usb1", root), 0);
  ASSERT_EQ(tree.nGetConnectionInfo(root, 1, info), 0);
  EXPECT_TRUE(info.bDeviceIsHub);
  EXPECT_EQ(info.desc.idVendor, 0x0409);
  EXPECT_EQ(info.eSpeed, EUsbSpeed::Full);
  ASSERT_EQ(tree.nGetConnectionName(root, 1, name), 0);
  EXPECT_EQ(name, "1-1");
  std::string below;
  ASSERT_EQ(tree.nGetConnectionName(name, 1, below), 0);
  EXPECT_EQ(below, "1-1.1");
  // qemu's USB storage device on its second port: connected, no hub
  ASSERT_EQ(tree.nGetConnectionInfo(name, 2, info), 0);
  EXPECT_EQ(info.eStatus, DeviceConnected);
  EXPECT_FALSE(info.bDeviceIsHub);
  EXPECT_EQ(info.desc.idVendor, 0x46F4);
  EXPECT_EQ(tree.nGetConnectionName(name, 2, below), ENOTTY);
  ASSERT_EQ(tree.nGetRootHubName("usb2", root), 0);
  ASSERT_EQ(tree.nGetConnectionInfo(root, 1, info), 0);
  EXPECT_EQ(info.eStatus, NoDeviceConnected);

  std::vector<UsbHubInterface> hubs;
  ASSERT_EQ(tree.nGetHubInterfaces(hubs), 0);
  std::vector<std::string> names;
  names.reserve(hubs.size());
  for (const auto& h : hubs) names.push_back(h.strHubName);
  EXPECT_EQ(names, (std::vector<std::string>{"1-1", "1-1.1", "3-1"}));
}

TEST(UsbTreeSysfs, Usb3HubShowsAsTwoHalvesOnTwoRootHubs) {
  CUsbTreeSysfs tree(strTree("usb3_halves"), nullptr);
  std::vector<std::string> hcs;
  ASSERT_EQ(tree.nGetHostControllers(hcs), 0);
  ASSERT_EQ(hcs, (std::vector<std::string>{"usb1", "usb2"}));
  UsbConnectionInfo i2, i3;
  ASSERT_EQ(tree.nGetConnectionInfo("usb1", 2, i2), 0);
  ASSERT_EQ(tree.nGetConnectionInfo("usb2", 2, i3), 0);
  EXPECT_EQ(i2.desc.bcdUSB, 0x0210);
  EXPECT_EQ(i3.desc.bcdUSB, 0x0320);
  EXPECT_EQ(i3.eSpeed, EUsbSpeed::SuperPlus);
  EXPECT_EQ(i3.desc.idProduct, 0x55AA);
  std::vector<UsbHubInterface> hubs;
  ASSERT_EQ(tree.nGetHubInterfaces(hubs), 0);
  ASSERT_EQ(hubs.size(), 2u);
  EXPECT_EQ(hubs[0].strHubName, "1-2");
  EXPECT_EQ(hubs[0].strObjectName, "usb:1-2");
  EXPECT_EQ(hubs[1].strDevicePath, "USB#VID_2F7B&PID_55AA#2-2#{F18A0E88-C30C-11D0-8815-00A0C906BED8}");
}

TEST(UsbTreeSysfs, CascadeThreeLevelsDeepIsReachedPortByPort) {
  CUsbTreeSysfs tree(strTree("cascade3"), nullptr);
  std::string hub = "usb2";
  std::vector<std::string> path;
  for (uint32_t port : {1u, 2u, 3u}) {
    std::string next;
    ASSERT_EQ(tree.nGetConnectionName(hub, port, next), 0) << hub << " port " << port;
    path.push_back(next);
    hub = next;
  }
  EXPECT_EQ(path, (std::vector<std::string>{"2-1", "2-1.2", "2-1.2.3"}));
  uint32_t ulPorts = 0;
  ASSERT_EQ(tree.nGetHubPortCount("2-1.2.3", ulPorts), 0);
  EXPECT_EQ(ulPorts, 4u);
  UsbConnectionInfo info;
  ASSERT_EQ(tree.nGetConnectionInfo("2-1.2.3", 4, info), 0);
  EXPECT_EQ(info.eStatus, NoDeviceConnected);
}

TEST(UsbTreeSysfs, NonHubDevicesAreConnectedButNotHubs) {
  CUsbTreeSysfs tree(strTree("mixed"), nullptr);
  UsbConnectionInfo info;
  ASSERT_EQ(tree.nGetConnectionInfo("usb1", 2, info), 0);
  EXPECT_EQ(info.eStatus, DeviceConnected);
  EXPECT_FALSE(info.bDeviceIsHub);
  std::string name;
  EXPECT_EQ(tree.nGetConnectionName("usb1", 2, name), ENOTTY);
  EXPECT_TRUE(name.empty());
  ASSERT_EQ(tree.nGetConnectionInfo("1-1", 1, info), 0);
  EXPECT_EQ(info.eSpeed, EUsbSpeed::Low);
  EXPECT_FALSE(info.bDeviceIsHub);
  std::vector<UsbHubInterface> hubs;
  ASSERT_EQ(tree.nGetHubInterfaces(hubs), 0);
  ASSERT_EQ(hubs.size(), 1u);
  EXPECT_EQ(hubs[0].strHubName, "1-1");
}

TEST(UsbTreeSysfs, HubWithoutStringsAsksTheDeviceForLanguagesAndChipId) {
  FakeDevices dev;
  dev.answers[{1, 2, 0}] = {4, 3, 0x09, 0x04};
  dev.answers[{1, 2, 0xFF}] = {0x20, 0x64, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  CUsbTreeSysfs tree(strTree("hub_nostrings"), dev.reader());
  UsbConnectionInfo info;
  ASSERT_EQ(tree.nGetConnectionInfo("usb1", 1, info), 0);
  EXPECT_EQ(info.desc.iManufacturer, 0);
  EXPECT_EQ(info.desc.iProduct, 0);
  EXPECT_EQ(info.desc.iSerialNumber, 0);
  std::vector<uint8_t> v;
  ASSERT_EQ(tree.nGetStringDescriptor("usb1", 1, 0, 0, 4, v), 0);
  EXPECT_EQ(v, (std::vector<uint8_t>{4, 3, 0x09, 0x04}));
  ASSERT_EQ(tree.nGetStringDescriptor("usb1", 1, 0xFF, 0, 16, v), 0);
  ASSERT_EQ(v.size(), 16u);  // raw chip answer, passed through as it came
  EXPECT_EQ(v[0], 0x20);
  EXPECT_EQ(v[1], 0x64);
  // the reader is asked with the device's own bus and device numbers
  ASSERT_EQ(dev.asked.size(), 2u);
  EXPECT_EQ(dev.asked[1], std::make_tuple(1, 2, 0xFF));
  std::string desc;
  EXPECT_EQ(tree.nGetDeviceDescFromDriverKey("1-1", desc), ENODATA);
}

TEST(UsbTreeSysfs, DeviceReaderAnsweringGarbageIsRefused) {
  FakeDevices dev;
  dev.answers[{1, 2, 0}] = {4, 2, 1, 2};  // not a string descriptor
  CUsbTreeSysfs tree(strTree("hub_nostrings"), dev.reader());
  std::vector<uint8_t> v;
  EXPECT_EQ(tree.nGetStringDescriptor("usb1", 1, 0, 0, 4, v), EINVAL);
  EXPECT_TRUE(v.empty());
}

TEST(UsbTreeSysfs, PortsAreReadBelowTheHubInterfaceTheKernelNames) {
  // "hub 1-0:1.0: USB hub found", ports "1-1-port1" below "1-1:1.0", as a 6.1 kernel shows them
  EXPECT_EQ(CUsbTreeSysfs::strHubInterfaceName("usb1"), "1-0:1.0");
  EXPECT_EQ(CUsbTreeSysfs::strHubInterfaceName("1-1"), "1-1:1.0");
  EXPECT_EQ(CUsbTreeSysfs::strPortFolder("usb12", 3), "12-0:1.0/usb12-port3");
  EXPECT_EQ(CUsbTreeSysfs::strPortFolder("2-1.2", 4), "2-1.2:1.0/2-1.2-port4");
  // the fixtures follow that layout: the listing has no port links and no "usbN:1.0"
  namespace fs = std::filesystem;
  EXPECT_TRUE(fs::is_directory(strTree("enum_failed") + "/1-0:1.0/usb1-port1"));
  EXPECT_TRUE(fs::is_directory(strTree("enum_failed") + "/usb1/1-0:1.0/usb1-port1"));
  EXPECT_TRUE(fs::is_directory(strTree("enum_failed") + "/1-3/1-3:1.0/1-3-port2"));
  EXPECT_FALSE(fs::exists(strTree("enum_failed") + "/usb1:1.0"));
  EXPECT_FALSE(fs::exists(strTree("enum_failed") + "/usb1-port1"));
}

TEST(UsbTreeSysfs, FailedEnumerationIsToldApartFromAnEmptyPort) {
  CUsbTreeSysfs tree(strTree("enum_failed"), nullptr);
  UsbConnectionInfo info;
  // root port 1: the port sees a device that never got an address, no device folder
  ASSERT_EQ(tree.nGetConnectionInfo("usb1", 1, info), 0);
  EXPECT_EQ(info.eStatus, DeviceFailedEnumeration);
  std::string key, desc;
  ASSERT_EQ(tree.nGetConnectionDriverKeyName("usb1", 1, key), 0);
  EXPECT_EQ(key, "usb1-port1");
  EXPECT_EQ(tree.nGetDeviceDescFromDriverKey(key, desc), ENODATA);  // a port, not a device
  // root port 2: a device folder the kernel gave up on half way
  ASSERT_EQ(tree.nGetConnectionInfo("usb1", 2, info), 0);
  EXPECT_EQ(info.eStatus, DeviceFailedEnumeration);
  ASSERT_EQ(tree.nGetConnectionDriverKeyName("usb1", 2, key), 0);
  EXPECT_EQ(key, "1-2");
  // the hub next to them is fine, and its port 2 holds a device that was never reset
  ASSERT_EQ(tree.nGetConnectionInfo("usb1", 3, info), 0);
  EXPECT_EQ(info.eStatus, DeviceConnected);
  EXPECT_TRUE(info.bDeviceIsHub);
  ASSERT_EQ(tree.nGetConnectionInfo("1-3", 2, info), 0);
  EXPECT_EQ(info.eStatus, DeviceFailedEnumeration);
  ASSERT_EQ(tree.nGetConnectionDriverKeyName("1-3", 2, key), 0);
  EXPECT_EQ(key, "1-3-port2");
  EXPECT_EQ(tree.nGetDeviceDescFromDriverKey(key, desc), ENODATA);
  ASSERT_EQ(tree.nGetConnectionInfo("1-3", 1, info), 0);
  EXPECT_EQ(info.eStatus, NoDeviceConnected);
  // keys of ports that are not there
  EXPECT_EQ(tree.nGetDeviceDescFromDriverKey("usb1-port9", desc), ENOENT);
  EXPECT_EQ(tree.nGetDeviceDescFromDriverKey("9-9-port1", desc), ENOENT);
  EXPECT_EQ(tree.nGetDeviceDescFromDriverKey("usb1-portx", desc), ENOENT);
}

TEST(UsbTreeSysfs, PortStateSpellingsMissingStateAndMissingPort) {
  TreeCopy t("enum_failed");
  t.tmp.write("bus/usb/devices/1-3:1.0/1-3-port3/state", "not-attached\n");  // as the ABI notes write it
  // kernels before 6.5 have no port "state": such a port cannot tell a failed device
  std::filesystem::remove(t.path("1-0:1.0/usb1-port1/state"));
  std::filesystem::remove_all(std::filesystem::canonical(t.path("1-3:1.0/1-3-port2")));
  CUsbTreeSysfs tree(t.str(), nullptr);
  UsbConnectionInfo info;
  ASSERT_EQ(tree.nGetConnectionInfo("usb1", 1, info), 0);
  EXPECT_EQ(info.eStatus, NoDeviceConnected);
  std::string key;
  ASSERT_EQ(tree.nGetConnectionDriverKeyName("usb1", 1, key), 0);
  EXPECT_EQ(key, "usb1-port1");
  ASSERT_EQ(tree.nGetConnectionInfo("1-3", 2, info), 0);
  EXPECT_EQ(info.eStatus, NoDeviceConnected);
  EXPECT_EQ(tree.nGetConnectionDriverKeyName("1-3", 2, key), ENOENT);
  EXPECT_TRUE(key.empty());
  ASSERT_EQ(tree.nGetConnectionInfo("1-3", 3, info), 0);
  EXPECT_EQ(info.eStatus, NoDeviceConnected);
}

TEST(UsbTreeSysfs, NonsenseFilesAreErrorsNotCrashes) {
  CUsbTreeSysfs tree(strTree("bad_files"), nullptr);
  uint32_t ulPorts = 99;
  EXPECT_EQ(tree.nGetHubPortCount("1-1", ulPorts), EINVAL);  // maxchild "many"
  EXPECT_EQ(ulPorts, 0u);
  UsbConnectionInfo info;
  EXPECT_EQ(tree.nGetConnectionInfo("1-1", 1, info), EINVAL);
  // cut-short descriptors and a vendor id of "zzzz": failed enumeration
  ASSERT_EQ(tree.nGetConnectionInfo("usb1", 2, info), 0);
  EXPECT_EQ(info.eStatus, DeviceFailedEnumeration);
  // empty descriptors file: the single attribute files still describe the hub
  ASSERT_EQ(tree.nGetConnectionInfo("usb1", 3, info), 0);
  EXPECT_EQ(info.eStatus, DeviceConnected);
  EXPECT_EQ(info.desc.idVendor, 0x2F7B);
  EXPECT_EQ(info.desc.bcdUSB, 0x0210);
  EXPECT_EQ(info.eSpeed, EUsbSpeed::Unknown);  // empty speed file
  std::vector<uint8_t> v;
  ASSERT_EQ(tree.nGetStringDescriptor("usb1", 3, info.desc.iProduct, 0x409, 255, v), 0);
  EXPECT_EQ(strText(v), "USB3.2 Hub");
  // names that try to leave the tree are not there
  EXPECT_EQ(tree.nGetHubPortCount("../usb2_hub/usb1", ulPorts), ENOENT);
  EXPECT_EQ(tree.nGetHubPortCount("..", ulPorts), ENOENT);
}

TEST(UsbTreeSysfs, MissingRootAndVanishedHubs) {
  CUsbTreeSysfs missing("/nonexistent/sysfs", nullptr);
  std::vector<std::string> hcs;
  EXPECT_EQ(missing.nGetHostControllers(hcs), ENOENT);
  // a hub that leaves between two calls: copy a tree and remove the hub's folder
  TreeCopy t("cascade3");
  CUsbTreeSysfs tree(t.str(), nullptr);
  std::string name;
  ASSERT_EQ(tree.nGetConnectionName("2-1", 2, name), 0);
  t.vRemove("2-1.2.3");
  t.vRemove("2-1.2");
  t.tmp.write("bus/usb/devices/2-1:1.0/2-1-port2/state", "not attached\n");  // as the kernel updates it
  uint32_t ulPorts = 0;
  EXPECT_EQ(tree.nGetHubPortCount(name, ulPorts), ENOENT);
  UsbConnectionInfo info;
  ASSERT_EQ(tree.nGetConnectionInfo("2-1", 2, info), 0);
  EXPECT_EQ(info.eStatus, NoDeviceConnected);
  // an unreadable attribute
  if (geteuid() != 0) {
    std::filesystem::permissions(t.path("2-1/maxchild"), std::filesystem::perms::none);
    EXPECT_EQ(tree.nGetHubPortCount("2-1", ulPorts), EACCES);
  }
}

TEST(UsbTreeDescriptors, StringDescriptorsCarryUtf16AndRespectTheLength) {
  auto v = vecMakeStringDescriptor("Hi\xC3\xA9", 255);  // "Hié"
  EXPECT_EQ(v, (std::vector<uint8_t>{8, 3, 'H', 0, 'i', 0, 0xE9, 0}));
  v = vecMakeStringDescriptor("ABCDEF", 4);
  EXPECT_EQ(v, (std::vector<uint8_t>{14, 3, 'A', 0}));
  v = vecMakeStringDescriptor("\xF0\x9F\x98\x80", 255);  // outside the BMP: a surrogate pair
  EXPECT_EQ(v, (std::vector<uint8_t>{6, 3, 0x3D, 0xD8, 0x00, 0xDE}));
  v = vecMakeStringDescriptor(
      "a\xFF"
      "b",
      255);  // broken UTF-8 does not stop the text
  EXPECT_EQ(v, (std::vector<uint8_t>{8, 3, 'a', 0, 0xFD, 0xFF, 'b', 0}));
  v = vecMakeStringDescriptor(std::string(300, 'x'), 255);
  EXPECT_EQ(v[0], 254);
  EXPECT_EQ(v.size(), 254u);
  UsbDeviceDescriptor d;
  const uint8_t short1[] = {18, 1, 0};
  EXPECT_FALSE(bParseDeviceDescriptor(short1, sizeof short1, d));
  const uint8_t cfg[18] = {9, 2};
  EXPECT_FALSE(bParseDeviceDescriptor(cfg, sizeof cfg, d));
}

}  // namespace
