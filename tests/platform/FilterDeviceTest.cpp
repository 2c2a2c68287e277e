#include <gtest/gtest.h>
#include <libusb-1.0/libusb.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "platform/FilterDevice.h"
#include "platform/linux/LibusbFilterDevice.h"

TEST(FilterDeviceName, ParsesBusAndPortPath) {
  FilterDeviceName n;
  ASSERT_TRUE(bParseFilterDeviceName("usb:2-1.4", n));
  EXPECT_EQ(n.ucBus, 2);
  ASSERT_EQ(n.ucDepth, 2);
  EXPECT_EQ(n.ucPorts[0], 1);
  EXPECT_EQ(n.ucPorts[1], 4);
  ASSERT_TRUE(bParseFilterDeviceName("usb:255-1.2.3.4.5.6.7", n));
  EXPECT_EQ(n.ucDepth, 7);
  EXPECT_EQ(strMakeFilterDeviceName(n.ucBus, n.ucPorts, n.ucDepth), "usb:255-1.2.3.4.5.6.7");
}

TEST(FilterDeviceName, RefusesMalformedNames) {
  FilterDeviceName n;
  for (const char* s :
       {"", "usb:", "usb:2", "usb:2-", "usb:2-1.", "usb:2-.1", "usb:0-1", "usb:256-1", "usb:2-0",
        "usb:2-1.2.3.4.5.6.7.8", "usb:2-1x", "USB:2-1", "usb:2-1.4 ", "usb:0002-1", "\\\\.\\USBPDO_120001"})
    EXPECT_FALSE(bParseFilterDeviceName(s, n)) << s;
}

namespace {
std::vector<uint8_t> vecRecord(uint32_t t, uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e,
                               size_t extra = 0) {
  std::vector<uint8_t> v(24 + extra, 0xEE);
  FilterRequestRecord{t, a, b, c, d, e}.vEncode(v.data());
  return v;
}
}  // namespace

TEST(FilterRequestRecord, IsSixLittleEndianWords) {
  auto v = vecRecord(2500, 2, 0, 0x53, 0x1234, 0xABCD);
  const uint8_t expect[24] = {0xC4, 0x09, 0, 0, 2,    0,    0, 0, 0,    0,    0, 0,
                              0x53, 0,    0, 0, 0x34, 0x12, 0, 0, 0xCD, 0xAB, 0, 0};
  EXPECT_EQ(0, memcmp(v.data(), expect, 24));
  FilterRequestRecord r = FilterRequestRecord::stDecode(v.data());
  EXPECT_EQ(r.dwTimeout, 2500u);
  EXPECT_EQ(r.dwIndex, 0xABCDu);
}

TEST(ControlSetup, VendorWriteAndReadUseTheRecordFields) {
  UsbControlSetup s;
  auto w = vecRecord(700, 2, 0, 0x53, 0x12, 0x5810, 3);
  ASSERT_TRUE(bBuildControlSetup(VLNTFILTER0_IOCTL_VENDOR_WRITE, w.data(), w.size(), 0, s));
  EXPECT_FALSE(s.bIn);
  EXPECT_EQ(s.bmRequestType, 0x40);  // host to device, vendor, device
  EXPECT_EQ(s.bRequest, 0x53);
  EXPECT_EQ(s.wValue, 0x12);
  EXPECT_EQ(s.wIndex, 0x5810);
  EXPECT_EQ(s.wLength, 3);
  EXPECT_EQ(s.pData, w.data() + 24);
  EXPECT_EQ(s.uTimeoutMs, 700u);
  auto r = vecRecord(2500, 2, 0, 0x55, 0, 0x120);
  ASSERT_TRUE(bBuildControlSetup(VLNTFILTER0_IOCTL_VENDOR_READ, r.data(), r.size(), 32, s));
  EXPECT_TRUE(s.bIn);
  EXPECT_EQ(s.bmRequestType, 0xC0);
  EXPECT_EQ(s.wIndex, 0x120);
  EXPECT_EQ(s.wLength, 32);
}

TEST(ControlSetup, GetDescriptorSendsTheStandardRequest) {
  UsbControlSetup s;
  // descriptor type 3 (string), index 0xFF, language 0x0409, recipient 0
  auto g = vecRecord(2500, 3, 0xFF, 0x0409, 0, 0);
  ASSERT_TRUE(bBuildControlSetup(VLNTFILTER0_IOCTL_GET_DESCRIPTOR, g.data(), g.size(), 16, s));
  EXPECT_EQ(s.bmRequestType, 0x80);
  EXPECT_EQ(s.bRequest, 6);
  EXPECT_EQ(s.wValue, 0x03FF);
  EXPECT_EQ(s.wIndex, 0x0409);
  EXPECT_EQ(s.wLength, 16);
}

TEST(ControlSetup, RefusesMalformedRequests) {
  UsbControlSetup s;
  auto r = vecRecord(2500, 2, 0, 0x52, 0, 0);
  EXPECT_FALSE(bBuildControlSetup(VLNTFILTER0_IOCTL_VENDOR_READ, r.data(), 23, 1, s));
  EXPECT_FALSE(bBuildControlSetup(0x222018, r.data(), 24, 1, s));
  EXPECT_FALSE(
      bBuildControlSetup(VLNTFILTER0_IOCTL_VENDOR_READ, r.data(), 24, 65536, s));  // wLength is 16-bit
  std::vector<uint8_t> big(65537, 0);
  FilterRequestRecord{}.vEncode(big.data());
  EXPECT_FALSE(bBuildControlSetup(VLNTFILTER0_IOCTL_VENDOR_WRITE, big.data(), big.size(), 0, s));
  EXPECT_TRUE(
      bBuildControlSetup(VLNTFILTER0_IOCTL_VENDOR_WRITE, big.data(), 65536, 0, s));  // the largest input
}

TEST(LibusbLayer, MapsTransferResults) {
  EXPECT_EQ(eMapLibusbResult(0), EFilterResult::kSuccess);
  EXPECT_EQ(eMapLibusbResult(32), EFilterResult::kSuccess);
  EXPECT_EQ(eMapLibusbResult(LIBUSB_ERROR_NO_DEVICE), EFilterResult::kLeftBus);
  EXPECT_EQ(eMapLibusbResult(LIBUSB_ERROR_PIPE), EFilterResult::kFailed);
  EXPECT_EQ(eMapLibusbResult(LIBUSB_ERROR_TIMEOUT), EFilterResult::kFailed);
  EXPECT_EQ(eMapLibusbResult(LIBUSB_ERROR_IO), EFilterResult::kFailed);
  // usbfs's own control request: a device that is gone or going, else a failed request
  EXPECT_EQ(eMapUsbfsError(ENODEV), EFilterResult::kLeftBus);
  EXPECT_EQ(eMapUsbfsError(ESHUTDOWN), EFilterResult::kLeftBus);
  EXPECT_EQ(eMapUsbfsError(EPIPE), EFilterResult::kFailed);
  EXPECT_EQ(eMapUsbfsError(ETIMEDOUT), EFilterResult::kFailed);
  EXPECT_EQ(eMapUsbfsError(EPROTO), EFilterResult::kFailed);
}

TEST(LibusbLayer, MissingPermissionNamesTheUdevRule) {
  std::string s = strLibusbOpenError("usb:2-1.4", LIBUSB_ERROR_ACCESS);
  EXPECT_NE(s.find("usb:2-1.4"), std::string::npos);
  EXPECT_NE(s.find("udev rule"), std::string::npos);
  EXPECT_NE(strLibusbOpenError("usb:2-1", LIBUSB_ERROR_NOT_FOUND).find("no device"), std::string::npos);
}

TEST(LibusbLayer, OpenOfAMalformedOrAbsentNameFails) {
  CLibusbFilterDevicePlatform p;
  std::string err;
  EXPECT_EQ(p.pOpen("nonsense", &err), nullptr);
  EXPECT_NE(err.find("nonsense"), std::string::npos);
  err.clear();
  EXPECT_EQ(p.pOpen("usb:250-7.7.7", &err), nullptr);
  EXPECT_FALSE(err.empty());
}

// The end of an IN transfer every backend shares: a short vendor read fails with nothing
// moved; a short descriptor answer stands; what the device did not answer is zero.
TEST(InTransfer, ShortVendorReadFailsAndUnansweredBytesAreZero) {
  uint8_t out[8];
  std::fill(std::begin(out), std::end(out), 0xA5);
  size_t ulDone = 5;
  EXPECT_EQ(eFinishInTransfer(VLNTFILTER0_IOCTL_VENDOR_READ, EFilterResult::kSuccess, out, 8, ulDone, 77),
            EFilterResult::kFailed);
  EXPECT_EQ(ulDone, 0u);
  EXPECT_EQ(nFilterLastError(), 77);
  EXPECT_EQ(std::count(std::begin(out), std::end(out), 0), 8);

  std::fill(std::begin(out), std::end(out), 0xA5);
  ulDone = 8;
  EXPECT_EQ(eFinishInTransfer(VLNTFILTER0_IOCTL_VENDOR_READ, EFilterResult::kSuccess, out, 8, ulDone, 77),
            EFilterResult::kSuccess);
  EXPECT_EQ(ulDone, 8u);
  EXPECT_EQ(out[7], 0xA5);

  std::fill(std::begin(out), std::end(out), 0xA5);
  ulDone = 3;
  EXPECT_EQ(eFinishInTransfer(VLNTFILTER0_IOCTL_GET_DESCRIPTOR, EFilterResult::kSuccess, out, 8, ulDone, 77),
            EFilterResult::kSuccess);
  EXPECT_EQ(ulDone, 3u);
  EXPECT_EQ(out[2], 0xA5);
  EXPECT_EQ(std::count(out + 3, out + 8, 0), 5);

  std::fill(std::begin(out), std::end(out), 0xA5);
  ulDone = 8;
  EXPECT_EQ(eFinishInTransfer(VLNTFILTER0_IOCTL_GET_DESCRIPTOR, EFilterResult::kLeftBus, out, 8, ulDone, 77),
            EFilterResult::kLeftBus);
  EXPECT_EQ(ulDone, 0u);
  EXPECT_EQ(std::count(std::begin(out), std::end(out), 0), 8);
}

// The node is found from sysfs at each open: a hub that re-enumerated after its reset (a new
// device number at the same port path) is opened at its new node, whatever libusb's own
// device list still holds.
TEST(LibusbLayer, FindsTheUsbfsNodeOfAPortPathInSysfs) {
  const std::filesystem::path root = std::filesystem::path(testing::TempDir()) / "usbnode";
  std::filesystem::remove_all(root);
  auto vDevice = [&](const std::string& strDir, const char* pszBus, const char* pszDev) {
    std::filesystem::create_directories(root / strDir);
    std::ofstream(root / strDir / "busnum") << pszBus << "\n";
    std::ofstream(root / strDir / "devnum") << pszDev << "\n";
  };
  vDevice("3-1", "3", "2");
  vDevice("2-1.4", "2", "17");
  vDevice("4-2", "5", "3");  // bus number disagrees with the name
  std::string node;
  EXPECT_EQ(nUsbDeviceNode("usb:3-1", root.string(), "/dev/bus/usb", node), 0);
  EXPECT_EQ(node, "/dev/bus/usb/003/002");
  EXPECT_EQ(nUsbDeviceNode("usb:2-1.4", root.string(), "/d", node), 0);
  EXPECT_EQ(node, "/d/002/017");
  vDevice("3-1", "3", "9");  // back after its reset with a new device number
  EXPECT_EQ(nUsbDeviceNode("usb:3-1", root.string(), "/d", node), 0);
  EXPECT_EQ(node, "/d/003/009");
  EXPECT_EQ(nUsbDeviceNode("usb:3-2", root.string(), "/d", node), ENOENT);
  EXPECT_TRUE(node.empty());
  EXPECT_EQ(nUsbDeviceNode("usb:4-2", root.string(), "/d", node), EINVAL);
  EXPECT_EQ(nUsbDeviceNode("3-1", root.string(), "/d", node), EINVAL);
  // A node that is not there: no device, and the text says so.
  CLibusbFilterDevicePlatform p(root.string(), (root / "dev").string());
  std::string err;
  EXPECT_EQ(p.pOpen("usb:3-1", &err), nullptr);
  EXPECT_NE(err.find("no device"), std::string::npos);
  std::filesystem::remove_all(root);
}
