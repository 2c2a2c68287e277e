// Suspend setting, restart and rescan over a sysfs copy; udev event classification.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <thread>

#include "platform/Clock.h"
#include "platform/linux/DeviceEventsUdev.h"
#include "platform/linux/DeviceStateSysfs.h"
#include "support/TempDir.h"

namespace {

// A copy of a fixture tree: the kernel's folders and the bus/usb/devices links into them.
struct SysfsCopy {
  TempDir tmp;
  SysfsCopy() {
    std::filesystem::copy(
        std::string(MPTOOL_TEST_DATA) + "/topology/usb3_halves", tmp.path(),
        std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
  }
  // The listing the tool reads, and a path below it relative to the copy.
  std::string str() const { return tmp.str() + "/bus/usb/devices"; }
  static std::string dev(const std::string& s) { return "bus/usb/devices/" + s; }
};

TEST(DeviceStateSysfs, SuspendSettingIsTurnedOffAndTheFirstValueRestored) {
  SysfsCopy s;
  CScaledClock clock(0);
  CDeviceStateSysfs st(clock, s.str(), nullptr);
  int n = -1;
  ASSERT_EQ(st.nGetSuspendSetting("2-2", n), 0);
  EXPECT_EQ(n, 1);  // "auto"
  ASSERT_EQ(st.nSetSuspendSetting("2-2", 0), 0);
  EXPECT_EQ(s.tmp.read(s.dev("2-2/power/control")), "on");
  ASSERT_EQ(st.nGetSuspendSetting("2-2", n), 0);
  EXPECT_EQ(n, 0);
  ASSERT_EQ(st.nSetSuspendSetting("2-2", 1), 0);
  EXPECT_EQ(s.tmp.read(s.dev("2-2/power/control")), "auto");

  // a hub the system kept awake from the start stays awake when power management returns
  s.tmp.write(SysfsCopy::dev("1-2/power/control"), "on\n");
  ASSERT_EQ(st.nSetSuspendSetting("1-2", 0), 0);
  ASSERT_EQ(st.nSetSuspendSetting("1-2", 1), 0);
  EXPECT_EQ(s.tmp.read(s.dev("1-2/power/control")), "on");
  EXPECT_EQ(st.strSuspendSettingName("1-2"), s.str() + "/1-2/power/control");
}

TEST(DeviceStateSysfs, BadOrMissingSettingAndMissingHub) {
  SysfsCopy s;
  CScaledClock clock(0);
  CDeviceStateSysfs st(clock, s.str(), nullptr);
  int n = -1;
  s.tmp.write(SysfsCopy::dev("2-2/power/control"), "sometimes\n");
  EXPECT_EQ(st.nGetSuspendSetting("2-2", n), EINVAL);
  // nonsense is not remembered as the value to restore
  ASSERT_EQ(st.nSetSuspendSetting("2-2", 0), 0);
  ASSERT_EQ(st.nSetSuspendSetting("2-2", 1), 0);
  EXPECT_EQ(s.tmp.read(s.dev("2-2/power/control")), "auto");
  EXPECT_EQ(st.nGetSuspendSetting("9-9", n), ENOENT);
  EXPECT_EQ(st.nSetSuspendSetting("9-9", 0), ENOENT);
  EXPECT_EQ(st.nRestartHub("9-9"), ENOENT);
  EXPECT_EQ(st.nRestartHub("../x"), ENOENT);
}

TEST(DeviceStateSysfs, RestartDeauthorizesThenAuthorizes) {
  SysfsCopy s;
  CScaledClock clock(0);
  CDeviceStateSysfs st(clock, s.str(), nullptr);
  // a fifo shows both writes in order
  std::filesystem::remove(s.str() + "/2-2/authorized");
  ASSERT_EQ(::mkfifo((s.str() + "/2-2/authorized").c_str(), 0600), 0);
  std::string strSeen;
  std::thread reader([&] {
    FILE* f = std::fopen((s.str() + "/2-2/authorized").c_str(), "r");
    int c;
    while (f && (c = std::fgetc(f)) != EOF) strSeen += static_cast<char>(c);
    if (f) std::fclose(f);
  });
  // open for writing twice; keep the reader attached in between by a holder
  FILE* hold = std::fopen((s.str() + "/2-2/authorized").c_str(), "w");
  EXPECT_EQ(st.nRestartHub("2-2"), 0);
  std::fclose(hold);
  reader.join();
  EXPECT_EQ(strSeen, "01");
}

TEST(DeviceStateSysfs, RescanWaitsForUdevAndGivesUp) {
  CScaledClock clock(0);
  int nCalls = 0;
  CDeviceStateSysfs st(clock, "/nonexistent", [&] { return ++nCalls >= 3; });
  EXPECT_EQ(st.nRescan(), 0);
  EXPECT_EQ(nCalls, 3);
  CDeviceStateSysfs never(clock, "/nonexistent", [] { return false; });
  uint64_t t0 = clock.ullNowMs();
  EXPECT_EQ(never.nRescan(), ETIMEDOUT);
  EXPECT_GE(clock.ullNowMs() - t0, CDeviceStateSysfs::RESCAN_TIMEOUT_MS);
}

TEST(FilterDriverStatusLinux, RegisteredByRulesFileWithItsVersion) {
  TempDir tmp;
  CFilterDriverStatusLinux none(tmp.str() + "/none.rules");
  EXPECT_FALSE(none.bIsRegistered());
  EXPECT_EQ(none.strInstalledVersion(), "");
  EXPECT_EQ(none.nInstall(), ENOSYS);
  tmp.write("a.rules", "# hubs for the operator group\n# FileVersion: 1.0.7.0\nSUBSYSTEM==\"usb\"\n");
  CFilterDriverStatusLinux a(tmp.str() + "/a.rules");
  EXPECT_TRUE(a.bIsRegistered());
  EXPECT_EQ(a.strInstalledVersion(), "1.0.7.0");
}

TEST(UdevClassify, HubsControllersDisksAndVolumes) {
  DeviceEvent ev;
  ASSERT_TRUE(bClassifyUdevEvent("add", "usb", "usb_device", "2-1.4", "9/0/3", ev));
  EXPECT_EQ(ev.eAction, EDeviceAction::Arrival);
  EXPECT_EQ(ev.eClass, EDeviceClass::Hub);
  EXPECT_EQ(ev.strName, "2-1.4");
  ASSERT_TRUE(bClassifyUdevEvent("remove", "usb", "usb_device", "2-1.4", "9/0/3", ev));
  EXPECT_EQ(ev.eAction, EDeviceAction::Removal);
  ASSERT_TRUE(bClassifyUdevEvent("add", "usb", "usb_device", "usb3", "9/0/3", ev));
  EXPECT_EQ(ev.eClass, EDeviceClass::HostController);
  EXPECT_FALSE(bClassifyUdevEvent("add", "usb", "usb_device", "2-1.1", "0/0/0", ev));  // not a hub
  EXPECT_FALSE(bClassifyUdevEvent("add", "usb", "usb_interface", "2-1:1.0", "9/0/3", ev));
  EXPECT_FALSE(bClassifyUdevEvent("add", "usb", "usb_device", "2-1", "19/0/0", ev));  // class 19 is not 9
  EXPECT_FALSE(bClassifyUdevEvent("change", "usb", "usb_device", "2-1", "9/0/3", ev));
  EXPECT_FALSE(bClassifyUdevEvent("bind", "usb", "usb_device", "2-1", "9/0/3", ev));
  ASSERT_TRUE(bClassifyUdevEvent("add", "block", "disk", "sdb", "", ev));
  EXPECT_EQ(ev.eClass, EDeviceClass::Disk);
  ASSERT_TRUE(bClassifyUdevEvent("add", "block", "partition", "sdb1", "", ev));
  EXPECT_EQ(ev.eClass, EDeviceClass::Volume);
  ASSERT_TRUE(bClassifyUdevEvent("remove", "block", "disk", "sr0", "", ev));
  EXPECT_EQ(ev.eClass, EDeviceClass::Volume);
  EXPECT_FALSE(bClassifyUdevEvent("add", "block", "disk", "loop3", "", ev));
  EXPECT_FALSE(bClassifyUdevEvent("add", "net", "", "eth0", "", ev));
}

TEST(DeviceEventsUdev, StartsOnceAndStopsTwiceSafely) {
  CDeviceEventsUdev ev;
  EXPECT_FALSE(ev.bStart(nullptr));
  bool bStarted = ev.bStart([](const DeviceEvent&) {});
  if (bStarted) {
    EXPECT_FALSE(ev.bStart([](const DeviceEvent&) {}));
  }
  ev.vStop();
  ev.vStop();
}

}  // namespace
