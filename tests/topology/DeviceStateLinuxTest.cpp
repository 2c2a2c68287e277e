// Suspend setting, restart and rescan over a sysfs copy; udev event classification.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <thread>

#include "host/USBUtility.h"
#include "platform/Clock.h"
#include "platform/linux/DeviceEventsUdev.h"
#include "platform/linux/DeviceStateSysfs.h"
#include "platform/linux/FilterDriverLinux.h"
#include "support/LogCapture.h"
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

// The kernel's hub driver turns autosuspend on again when it binds the restarted hub; here
// "authorized" leads to power/control, so each write of the restart lands on the setting as
// that rebind does. The setting after the restart is the one before it, "on" or "auto".
TEST(DeviceStateSysfs, RestartKeepsTheSuspendSetting) {
  SysfsCopy s;
  CScaledClock clock(0);
  CDeviceStateSysfs st(clock, s.str(), nullptr);
  ASSERT_EQ(st.nSetSuspendSetting("2-2", 0), 0);
  const std::string strAuthorized = s.str() + "/2-2/authorized";
  std::filesystem::remove(strAuthorized);
  std::filesystem::create_symlink("power/control", strAuthorized);
  EXPECT_EQ(st.nRestartHub("2-2"), 0);
  EXPECT_EQ(s.tmp.read(s.dev("2-2/power/control")), "on");
  ASSERT_EQ(st.nSetSuspendSetting("2-2", 1), 0);  // restored: "auto"
  EXPECT_EQ(st.nRestartHub("2-2"), 0);
  EXPECT_EQ(s.tmp.read(s.dev("2-2/power/control")), "auto");
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

TEST(FilterDriverStatusLinux, RegisteredWhenTheRulesFileNamesTheFilterInAnyCase) {
  TempDir tmp;
  CFilterDriverStatusLinux none(tmp.str() + "/none", tmp.str());
  EXPECT_FALSE(none.bIsRegistered());
  EXPECT_EQ(none.strInstalledVersion(), "");
  EXPECT_EQ(none.strRegistrationName(), tmp.str() + "/none/70-vlntufdriver.rules");

  tmp.write("lower/70-vlntufdriver.rules",
            "# vlntfilter rules\n# FileVersion: 1.0.7.0\nSUBSYSTEM==\"usb\"\n");
  CFilterDriverStatusLinux lower(tmp.str() + "/lower", tmp.str());
  EXPECT_TRUE(lower.bIsRegistered());
  EXPECT_EQ(lower.strInstalledVersion(), "1.0.7.0");

  // A rules file of another package under the same name is not the filter.
  tmp.write("other/70-vlntufdriver.rules", "# FileVersion: 1.0.7.0\nSUBSYSTEM==\"usb\", GROUP=\"plugdev\"\n");
  CFilterDriverStatusLinux other(tmp.str() + "/other", tmp.str());
  EXPECT_FALSE(other.bIsRegistered());

  // The check the window and the walk make, with its log entry for a missing filter.
  CScaledClock clock(0);
  USBUtilityOptions o;
  o.strAppPath = tmp.str();
  o.strRunMarkerPath = tmp.str() + "/run.lock";
  CUSBUtility util(clock, o);
  EXPECT_FALSE(util.bIsInstallVlntFilterDriverFromRegistry());  // none set: not installed
  util.vSetFilterDriver(&lower);
  EXPECT_TRUE(util.bIsInstallVlntFilterDriverFromRegistry());
  LogCapture log;
  util.vSetFilterDriver(&other);
  EXPECT_FALSE(util.bIsInstallVlntFilterDriverFromRegistry());
  EXPECT_TRUE(log.contains("The Filter driver is not installed, strRegValue[" + tmp.str() + "/other/"));
}

// The installer and remover scripts of the package, run as the tool runs them, against a
// rules folder of the test's own. There is no udev daemon here: they must say so and succeed.
TEST(FilterDriverPackage, InstallerAndRemoverWorkOnTheGivenRulesFolder) {
  TempDir tmp;
  const std::string strRules = tmp.str() + "/rules.d";
  CFilterDriverStatusLinux driver(strRules, MPTOOL_BIN_DIR);
  ASSERT_FALSE(driver.bIsRegistered());
  EXPECT_EQ(driver.nInstall(true), 0);
  EXPECT_TRUE(driver.bIsRegistered());
  EXPECT_EQ(driver.strInstalledVersion(), FILTER_DRIVER_VERSION);
  const std::string strText = tmp.read("rules.d/70-vlntufdriver.rules");
  EXPECT_NE(strText.find("ATTR{idVendor}==\"2f7b\", GROUP=\"mptool\""), std::string::npos);
  EXPECT_NE(strText.find("ATTRS{idVendor}==\"2f7b\", GROUP=\"mptool\""), std::string::npos);
  EXPECT_EQ(strText.find("@VENDOR_RULES@"), std::string::npos);

  // A second installation rewrites the file; a configured vendor id gets its hub and disk lines.
  const std::string strProgram = std::string(MPTOOL_BIN_DIR) + "/FilterDriver/InstallVlntDriver";
  EXPECT_EQ(nRunProgramAndWait({strProgram, "--rules-dir", strRules, "--vid", "1A2B"}, 60000), 0);
  const std::string strWithVid = tmp.read("rules.d/70-vlntufdriver.rules");
  EXPECT_NE(strWithVid.find("ATTR{idVendor}==\"1a2b\", GROUP=\"mptool\""), std::string::npos);
  EXPECT_NE(strWithVid.find("ATTRS{idVendor}==\"1a2b\", GROUP=\"mptool\""), std::string::npos);
  EXPECT_NE(nRunProgramAndWait({strProgram, "--rules-dir", strRules, "--vid", "12G4"}, 60000), 0);

  EXPECT_EQ(driver.nInstall(false), 0);
  EXPECT_FALSE(driver.bIsRegistered());
  EXPECT_FALSE(std::filesystem::exists(strRules + "/70-vlntufdriver.rules"));
  // Removing what is not there is no failure; a missing program is.
  EXPECT_EQ(driver.nInstall(false), 0);
  CFilterDriverStatusLinux nowhere(strRules, tmp.str());
  EXPECT_EQ(nowhere.nInstall(true), ENOENT);
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
