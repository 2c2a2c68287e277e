// Bench events (plug, unplug, restart), the bench's suspend setting, and where Windows keeps
// a hub's suspend value.
#include <gtest/gtest.h>

#include <mutex>

#include "BenchRig.h"
#include "device/HubPowerRegistry.h"
#include "support/LogCapture.h"

namespace {

struct Recorder {
  std::mutex m;
  std::vector<std::string> seen;
  DeviceEventCallback cb() {
    return [this](const DeviceEvent& e) {
      std::lock_guard<std::mutex> l(m);
      seen.push_back(std::string(e.eAction == EDeviceAction::Arrival ? "+" : "-") +
                     pszDeviceClassName(e.eClass) + ":" + e.strName);
    };
  }
};

TEST(SimEvents, PlugUnplugAndRestartReachTheCallback) {
  BenchRig r;
  r.vController("xhci0");
  r.hub("hubA", "xhci0", 1);
  r.hub("hubB", "xhci0", 2, false);
  ASSERT_TRUE(r.bStart());
  Recorder rec;
  ASSERT_TRUE(r.events->bStart(rec.cb()));
  EXPECT_FALSE(r.events->bStart(rec.cb()));
  r.events->vPlugHub(r.nHub("hubA"), false);
  r.events->vPlugHub(r.nHub("hubA"), true);
  EXPECT_EQ(r.state->nRestartHub("1-2"), 0);
  EXPECT_EQ(r.state->nRestartHub("1-9"), ENOENT);
  r.events->vStop();
  r.events->vPlugHub(r.nHub("hubB"), false);  // stopped: nothing delivered
  r.events->vStop();
  EXPECT_EQ(rec.seen, (std::vector<std::string>{"-hub:1-1", "-hub:2-1", "+hub:1-1", "+hub:2-1", "-hub:1-2",
                                                "+hub:1-2"}));
}

TEST(SimEvents, UnpluggedHubLeavesTheTreeWithWhatHangsBelowIt) {
  BenchRig r;
  r.vController("xhci0");
  r.hub("top", "xhci0", 1);
  r.hub("low", "top", 1);
  ASSERT_TRUE(r.bStart());
  std::vector<UsbHubInterface> v;
  ASSERT_EQ(r.tree->nGetHubInterfaces(v), 0);
  EXPECT_EQ(v.size(), 4u);
  r.bench->vSetPlugged(r.nHub("top"), false);
  ASSERT_EQ(r.tree->nGetHubInterfaces(v), 0);
  EXPECT_TRUE(v.empty());
  uint32_t ul = 0;
  EXPECT_EQ(r.tree->nGetHubPortCount("1-1.1", ul), ENOENT);
  UsbConnectionInfo info;
  ASSERT_EQ(r.tree->nGetConnectionInfo("usb1", 1, info), 0);
  EXPECT_EQ(info.eStatus, NoDeviceConnected);
  int n = 0;
  EXPECT_EQ(r.state->nGetSuspendSetting("1-1", n), ENOENT);
}

TEST(SimState, SuspendedHubAnswersNoStringsUntilRestartedWithSuspendOff) {
  BenchRig r;
  r.vController("xhci0");
  r.hub("hubA", "xhci0", 1).bSuspended = true;
  ASSERT_TRUE(r.bStart());
  std::vector<uint8_t> v;
  EXPECT_EQ(r.tree->nGetStringDescriptor("usb1", 1, 2, 0x409, 255, v), EPIPE);
  EXPECT_EQ(r.tree->nGetStringDescriptor("usb2", 1, 0xFF, 0, 16, v), EPIPE);
  ASSERT_EQ(r.state->nRestartHub("1-1"), 0);  // power management still on: sleeps on
  EXPECT_EQ(r.tree->nGetStringDescriptor("usb1", 1, 2, 0x409, 255, v), EPIPE);
  ASSERT_EQ(r.state->nSetSuspendSetting("2-1", 0), 0);
  ASSERT_EQ(r.state->nRestartHub("2-1"), 0);
  ASSERT_EQ(r.tree->nGetStringDescriptor("usb1", 1, 2, 0x409, 255, v), 0);
  EXPECT_EQ(v[2], 'U');
  ASSERT_EQ(r.tree->nGetStringDescriptor("usb2", 1, 0xFF, 0, 16, v), 0);
  EXPECT_EQ(v[0] + 256 * v[1], 0x6420);
}

TEST(HubPower, ValueAlreadyRightIsNotRewrittenAndNoHubsMeansMinusFour) {
  BenchRig r;
  r.vController("xhci0");
  r.hub("hubA", "xhci0", 1, false);
  ASSERT_TRUE(r.bStart());
  r.dev->m_pDevList = &r.list;
  EXPECT_EQ(r.dev->SetPWManagementEnable(), -4);
  EXPECT_EQ(r.state->nRestartCount(), 0);
  HubPowerRecord rec;
  rec.strDriverName = "1-1";
  rec.strDevicePath = "USB#VID_2F7B&PID_55AB#1-1#{F18A0E88-C30C-11D0-8815-00A0C906BED8}";
  LogCapture log;
  EXPECT_TRUE(r.dev->bSet6420HubPowerManagementByRegistry(rec, 1));  // already 1
  EXPECT_FALSE(log.contains("set it disable"));
  EXPECT_EQ(r.state->nRestartCount(), 0);
  EXPECT_TRUE(r.dev->bSet6420HubPowerManagementByRegistry(rec, 0));  // finds the hub, restarts it
  int n = -1;
  ASSERT_EQ(r.state->nGetSuspendSetting("1-1", n), 0);
  EXPECT_EQ(n, 0);
  EXPECT_GE(r.state->nRestartCount(), 1);
  // a hub name that is a prefix of another does not match it
  std::vector<std::string> paths;
  HubPowerRecord other;
  other.strDriverName = "1-";
  EXPECT_EQ(r.dev->ucGet6420HWId(other, paths), 0);
}

TEST(HubPowerRegistry, TargetsPerWindowsVersionAndDriverFamily) {
  const std::string strCls =
      "SYSTEM\\CurrentControlSet\\Control\\Class\\{36FC9E60-C465-11CF-8056-444553540000}\\0012";
  auto t =
      stHubPowerRegistryTarget(0x10, "\\\\?\\velnorusbd_hub#vid_2f7b", "", "", "2F7B", "55AA", "X", "0012");
  EXPECT_EQ(t.strMessage, "%s:%d: MCCI driver USB 3.0 on Win 8");
  EXPECT_EQ(t.strKey, strCls);
  EXPECT_EQ(t.strValueName, "SelectiveSuspendEnabled");
  t = stHubPowerRegistryTarget(0x11, "VELNORUSBD#VID", "", "", "2F7B", "55AA", "X", "0012");
  EXPECT_EQ(t.strMessage, "%s:%d: Velnor driver USB 3.0 driver");
  t = stHubPowerRegistryTarget(0x10, "USB#VID_2F7B", "xEnhanced Host", "", "2F7B", "55AA", "5&1&2", "");
  EXPECT_EQ(t.strKey, "System\\CurrentControlSet\\Enum\\USB\\VID_2F7B&PID_55AA\\5&1&2\\Device Parameters\\");
  EXPECT_EQ(t.strValueName, "EnableSelectiveSuspend");
  t = stHubPowerRegistryTarget(0x10, "USB#VID_2F7B", "Enhanced", "", "2F7B", "55AA", "5&1&2",
                               "");  // only at the start
  EXPECT_EQ(t.strKey,
            "System\\CurrentControlSet\\Enum\\USB\\VID_2F7B&PID_55AA\\5&1&2\\Device Parameters\\WDF\\");
  EXPECT_EQ(t.strValueName, "IdleInWorkingState");
  t = stHubPowerRegistryTarget(0x0F, "USB#VELNORUSBD_HUB", "", "IUSB3", "2F7B", "55AA", "1", "0003");
  EXPECT_EQ(t.strMessage, "%s:%d: MCCI driver USB 3.0");
  t = stHubPowerRegistryTarget(0x0F, "USB#X", "", "\\\\?\\iusb3#root", "2F7B", "55AA", "1", "");
  EXPECT_EQ(t.strKey, "System\\CurrentControlSet\\Enum\\IUSB3\\VID_2F7B&PID_55AA\\1\\Device Parameters");
  t = stHubPowerRegistryTarget(0x0F, "USB#X", "", "AMDUSB30#1", "2F7B", "55AA", "5&2A3B&0&1", "");
  EXPECT_EQ(t.strKey,
            "System\\CurrentControlSet\\Enum\\USB\\VID_2F7B&PID_55AA\\5&2A3B&0&1\\Device Parameters");
  t = stHubPowerRegistryTarget(0x0F, "USB#X", "", "AMDUSB30#1", "2F7B", "55AA", "&12345", "");
  EXPECT_EQ(t.strKey,
            "System\\CurrentControlSet\\Enum\\AMDUSB30\\VID_2F7B&PID_55AA\\&12345\\Device Parameters");
  t = stHubPowerRegistryTarget(0x0F, "USB#X", "", "RENESAS_USB3#x", "2F7B", "55AA", "1", "");
  EXPECT_EQ(t.strMessage, "%s:%d: RENESAS driver USB 3.0 , HubName[%s]");
  t = stHubPowerRegistryTarget(0x0F, "USB#X", "", "NUSB3#x", "2F7B", "55AA", "1", "");
  EXPECT_EQ(t.strKey, "System\\CurrentControlSet\\Enum\\NUSB3\\VID_2F7B&PID_55AA\\1\\Device Parameters");
  t = stHubPowerRegistryTarget(0x0F, "USB#X", "", "PCI#x", "2F7B", "55AA", "1", "");
  EXPECT_EQ(t.strMessage, "%s:%d: Others driver USB 3.0 , HubName[%s]");
  EXPECT_EQ(t.strKey, "System\\CurrentControlSet\\Enum\\USB\\VID_2F7B&PID_55AA\\1\\Device Parameters");
}

}  // namespace
