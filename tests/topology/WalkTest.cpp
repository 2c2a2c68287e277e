// The USB walk and the identification on simulated benches.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "BenchRig.h"
#include "host/IMessageView.h"
#include "platform/linux/UsbTreeSysfs.h"
#include "support/LogCapture.h"

namespace {

int nCount(const LogCapture& log, const std::string& s) {
  auto e = log.entries();
  return static_cast<int>(std::count_if(
      e.begin(), e.end(), [&](const std::string& x) { return x.find(s) != std::string::npos; }));
}

TEST(Walk, Usb3HubWithItsUsb2HalfFirstGivesOneRecordOnTheSuperSpeedHalf) {
  BenchRig r;
  r.vController("xhci0");
  r.hub("hubA", "xhci0", 2).mapRegisters[0x3038] = 0x34;  // port 0: 10 Gbit/s, two lanes
  ASSERT_TRUE(r.bStart());
  LogCapture log;
  ASSERT_EQ(r.nScan(), 0);
  ASSERT_EQ(r.list.m_DriverNum, 2);
  // the USB 2 half is on the first root hub, so it is met first
  EXPECT_EQ(r.list.drv[0].DriverName, "1-2");
  EXPECT_EQ(r.list.drv[0].ObjectName, "usb:1-2");
  EXPECT_EQ(r.list.drv[0].strUSBRelease, "0210");
  EXPECT_EQ(r.list.drv[0].strPID, "55AB");
  EXPECT_EQ(r.list.drv[1].ObjectName, "usb:2-2");
  EXPECT_EQ(r.list.drv[1].strUSBRelease, "0320");
  EXPECT_EQ(r.list.drv[1].ucPort, 2);
  EXPECT_EQ(r.list.drv[1].strSerialNumber, "SNHUBA");  // serial numbers are upper-cased
  EXPECT_EQ(r.list.drv[1].strManufacturer, "Velnor");

  ASSERT_EQ(r.list.DevNums, 1);
  const DevRecord& d = r.list.dev[0];
  EXPECT_EQ(d.ucIndex, 0);
  EXPECT_EQ(d.m_strHubObjectName, "usb:2-2");
  EXPECT_EQ(d.strDriverName, "2-2");
  EXPECT_EQ(d.strPID, "55AA");         // the SuperSpeed half's
  EXPECT_EQ(d.strUSBRelease, "0210");  // as the first half gave it
  EXPECT_EQ(d.strUSBText, "U3.2_10Gx2");
  EXPECT_EQ(d.ucPortSpeed[0], HUB_SPEED_10G_X2);
  EXPECT_EQ(d.nPort, 2);
  EXPECT_FALSE(r.list.dev[1].bOccupied());
  EXPECT_TRUE(log.contains("Find Velnor USB Hub :: 7604 series"));
  EXPECT_TRUE(log.contains("Already MARKED 3.0 Hubs[0]"));
  EXPECT_FALSE(log.contains("Error! Version of Filter Driver"));
}

TEST(Walk, ThreeHubsCarryIdentityBytesZeroOneTwo) {
  BenchRig r;
  r.vController("xhci0");
  r.hub("hubA", "xhci0", 1);
  r.hub("hubB", "xhci0", 2);
  r.hub("hubC", "xhci0", 3, false);  // a USB 2 hub among them
  ASSERT_TRUE(r.bStart());
  ASSERT_EQ(r.nScan(), 0);
  EXPECT_EQ(r.list.m_DriverNum, 5);
  ASSERT_EQ(r.list.DevNums, 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(r.list.dev[i].ucIndex, i);
  EXPECT_EQ(r.bench->ucRegister(r.nHub("hubA"), 0x7FC), '0');
  EXPECT_EQ(r.bench->ucRegister(r.nHub("hubB"), 0x7FC), '1');
  EXPECT_EQ(r.bench->ucRegister(r.nHub("hubC"), 0x7FC), '2');
  EXPECT_EQ(r.list.dev[2].strUSBText, "U2.1");
  EXPECT_EQ(r.list.dev[2].ucPortSpeed, (std::array<uint8_t, 5>{1, 1, 1, 1, 1}));
  EXPECT_EQ(r.list.dev[2].m_strHubObjectName, "usb:1-3");
  EXPECT_EQ(r.list.dev[0].m_strHubObjectName, "usb:2-1");
  for (int i = 3; i < MAX_DEV_RECORDS; ++i) EXPECT_FALSE(r.list.dev[i].bOccupied());

  // a second scan finds the same hubs under the same numbers: old marks do not confuse it
  ASSERT_EQ(r.nScan(), 0);
  ASSERT_EQ(r.list.DevNums, 3);
  EXPECT_EQ(r.list.dev[1].strSerialNumber, "SNHUBB");
  EXPECT_EQ(r.bench->ucRegister(r.nHub("hubC"), 0x7FC), '2');
}

TEST(Walk, CascadeThreeDeepRecordsDepths) {
  BenchRig r;
  r.vController("xhci0");
  r.hub("top", "xhci0", 1);
  r.hub("mid", "top", 2);
  r.hub("low", "mid", 3);
  ASSERT_TRUE(r.bStart());
  ASSERT_EQ(r.nScan(), 0);
  ASSERT_EQ(r.list.m_DriverNum, 6);
  EXPECT_EQ(r.list.drv[2].DriverName, "1-1.2.3");
  EXPECT_EQ(r.list.drv[2].ucDepth, 2);
  EXPECT_EQ(r.list.drv[2].ucPort, 3);
  ASSERT_EQ(r.list.DevNums, 3);
  EXPECT_EQ(r.list.dev[0].m_ucHubDepth, 0);
  EXPECT_EQ(r.list.dev[1].m_ucHubDepth, 1);
  EXPECT_EQ(r.list.dev[2].m_ucHubDepth, 2);
  EXPECT_EQ(r.list.dev[2].m_strHubObjectName, "usb:2-1.2.3");
  EXPECT_EQ(r.list.m_MaxHubDepth, 2);
  EXPECT_EQ(r.list.ucReMarkedDepth, 2);
}

// 8 hubs on the controller, 4 behind the seventh, 4 behind the eighth: 16 hubs.
void vSixteenHubs(BenchRig& r, int nHubs, bool bUsb3 = false) {
  r.vController("xhci0", 8);
  for (int i = 0; i < 8 && i < nHubs; ++i) r.hub("h" + std::to_string(i), "xhci0", i + 1, bUsb3);
  for (int i = 8; i < nHubs; ++i)
    r.hub("h" + std::to_string(i), i < 12 ? "h6" : "h7", (i - 8) % 4 + 1, bUsb3);
}

// A tree that never ends: the hub on the first root port has itself on its port 1 again,
// and again behind that, as a looping cascade of identical hubs would show.
class CLoopingTree : public IUsbTree {
 public:
  explicit CLoopingTree(IUsbTree& base) : m_base(base) {}
  int nGetHostControllers(std::vector<std::string>& v) override { return m_base.nGetHostControllers(v); }
  int nGetHCDDriverKeyName(const std::string& c, std::string& k) override {
    return m_base.nGetHCDDriverKeyName(c, k);
  }
  int nGetRootHubName(const std::string& c, std::string& h) override { return m_base.nGetRootHubName(c, h); }
  int nGetHubPortCount(const std::string& h, uint32_t& n) override {
    return m_base.nGetHubPortCount(strCanon(h), n);
  }
  int nGetConnectionInfo(const std::string& h, uint32_t p, UsbConnectionInfo& i) override {
    return bLoop(h, p) ? m_base.nGetConnectionInfo("usb1", 1, i)
                       : m_base.nGetConnectionInfo(strCanon(h), p, i);
  }
  int nGetConnectionName(const std::string& h, uint32_t p, std::string& n) override {
    if (!bLoop(h, p)) return m_base.nGetConnectionName(strCanon(h), p, n);
    n = h + ".1";
    return 0;
  }
  int nGetConnectionDriverKeyName(const std::string& h, uint32_t p, std::string& k) override {
    return bLoop(h, p) ? m_base.nGetConnectionDriverKeyName("usb1", 1, k)
                       : m_base.nGetConnectionDriverKeyName(strCanon(h), p, k);
  }
  int nGetStringDescriptor(const std::string& h, uint32_t p, uint8_t i, uint16_t l, uint16_t n,
                           std::vector<uint8_t>& v) override {
    return bLoop(h, p) ? m_base.nGetStringDescriptor("usb1", 1, i, l, n, v)
                       : m_base.nGetStringDescriptor(strCanon(h), p, i, l, n, v);
  }
  int nGetDeviceDescFromDriverKey(const std::string& k, std::string& d) override {
    return m_base.nGetDeviceDescFromDriverKey(k, d);
  }
  int nGetHardwareIdFromDriverKey(const std::string& k, std::string& h) override {
    return m_base.nGetHardwareIdFromDriverKey(k, h);
  }
  int nGetHubInterfaces(std::vector<UsbHubInterface>& vec) override {
    int n = m_base.nGetHubInterfaces(vec);
    std::vector<UsbHubInterface> more;
    for (const auto& i : vec) {
      if (i.strHubName != kLoop) continue;
      UsbHubInterface x = i;
      for (int k = 0; k < 64; ++k) {
        x.strHubName += ".1";
        x.strObjectName = "usb:" + x.strHubName;
        more.push_back(x);
      }
    }
    vec.insert(vec.end(), more.begin(), more.end());
    return n;
  }

 private:
  static constexpr const char* kLoop = "1-1";
  static std::string strCanon(std::string s) {
    while (s.size() > 3 && s.ends_with(".1")) s.resize(s.size() - 2);
    return s;
  }
  static bool bLoop(const std::string& h, uint32_t p) { return p == 1 && strCanon(h) == kLoop; }
  IUsbTree& m_base;
};

TEST(Walk, EightUsb3HubsWithBothHalvesFitFlatAndCascaded) {
  auto vExpectEight = [](BenchRig& r) {
    ASSERT_TRUE(r.bStart());
    LogCapture log;
    ASSERT_EQ(r.nScan(), 0);
    EXPECT_EQ(r.list.m_DriverNum, 16);
    ASSERT_EQ(r.list.DevNums, 8);
    for (int i = 0; i < 8; ++i) {
      EXPECT_EQ(r.list.dev[i].ucIndex, i);
      EXPECT_EQ(r.list.dev[i].m_strHubObjectName.substr(0, 6), "usb:2-") << i;  // the SuperSpeed half
      EXPECT_EQ(r.list.dev[i].strUSBText.substr(0, 4), "U3.2") << i;
    }
    EXPECT_FALSE(log.contains("Find un-reasonable case"));
  };
  {
    BenchRig r;
    vSixteenHubs(r, 8, true);
    vExpectEight(r);
  }
  {
    // Three deep: two on the controller, three behind the first, three behind the first of those.
    BenchRig r;
    r.vController("xhci0");
    r.hub("top1", "xhci0", 1);
    r.hub("top2", "xhci0", 2);
    for (int i = 1; i <= 3; ++i) r.hub("mid" + std::to_string(i), "top1", i);
    for (int i = 1; i <= 3; ++i) r.hub("leaf" + std::to_string(i), "mid1", i + 1);
    vExpectEight(r);
    EXPECT_EQ(r.list.m_MaxHubDepth, 2);
  }
  {
    // Sixteen USB 2 hubs: one entry each, a device record each.
    BenchRig r;
    vSixteenHubs(r, 16);
    ASSERT_TRUE(r.bStart());
    LogCapture log;
    r.nScan();
    EXPECT_EQ(r.list.m_DriverNum, 16);
    EXPECT_EQ(r.list.DevNums, 16);
    EXPECT_FALSE(log.contains("Find un-reasonable case"));
  }
}

TEST(Walk, AnEndlessCascadeStillEndsItsLevelWithTheCascadeRule) {
  BenchRig r;
  r.vController("xhci0");
  r.hub("loop", "xhci0", 1, false);
  ASSERT_TRUE(r.bStart());
  CLoopingTree loop(*r.tree);
  r.dev->vSetWalkPlatform(&loop, r.state.get(), &r.driver, r.util.get());
  LogCapture log;
  r.nScan();
  EXPECT_TRUE(
      log.contains("Find un-reasonable case, there are some exactly the same Hubs cascade, m_DriverNum=32 "));
  EXPECT_EQ(nCount(log, "Find un-reasonable case"), 1);
  EXPECT_EQ(r.list.m_DriverNum, 1);
  EXPECT_EQ(r.list.DevNums, 1);
}

TEST(Walk, AtMostTwentyHostControllersAreWalked) {
  BenchRig r;
  for (int c = 0; c < 11; ++c) r.vController("x" + std::to_string(c), 1);
  r.hub("in", "x9", 1);    // root hubs 19 and 20
  r.hub("out", "x10", 1);  // root hubs 21 and 22: beyond the limit
  ASSERT_TRUE(r.bStart());
  ASSERT_EQ(r.nScan(), 0);
  ASSERT_EQ(r.list.m_DriverNum, 2);
  EXPECT_EQ(r.list.drv[0].DriverName, "19-1");
  EXPECT_EQ(r.list.drv[1].DriverName, "20-1");
}

TEST(Walk, HubThatCannotBeOpenedIsSkippedAndTakesNoNumber) {
  BenchRig r;
  r.vController("xhci0");
  r.hub("hubA", "xhci0", 1, false);
  r.hub("hubB", "xhci0", 2, false);
  r.hub("hubC", "xhci0", 3, false);
  ASSERT_TRUE(r.bStart());
  ASSERT_EQ(r.dev->Open(&r.list, ""), 0);  // hub entries found
  EXPECT_EQ(r.list.DevNums, 0);            // records come with the identification
  ASSERT_EQ(r.list.m_DriverNum, 3);
  r.bench->vSetPlugged(r.nHub("hubB"), false);
  LogCapture log;
  r.dev->vTestHandleFromDriverInfo(&r.list);
  EXPECT_TRUE(log.contains("This device[usb:1-2] handle can not be open, "));
  ASSERT_EQ(r.list.DevNums, 2);
  EXPECT_EQ(r.list.dev[0].strSerialNumber, "SNHUBA");
  EXPECT_EQ(r.list.dev[1].strSerialNumber, "SNHUBC");
  EXPECT_EQ(r.bench->ucRegister(r.nHub("hubC"), 0x7FC), '1');
}

TEST(Walk, SerialCacheGivesAHubItsEarlierSerialBack) {
  BenchRig r;
  r.vController("xhci0");
  r.hub("hubA", "xhci0", 1, false, "abc123");
  r.hub("hubB", "xhci0", 2, false);
  r.def.vecHubs[1].usPIDU2 = 0x1234;  // another product: its own cache key
  ASSERT_TRUE(r.bStart());
  ASSERT_EQ(r.nScan(), 0);
  EXPECT_EQ(r.list.drv[0].strSerialNumber, "ABC123");
  r.tree->vSetQuirks(r.nHub("hubA"), {false, true});  // stops reporting its serial
  r.tree->vSetQuirks(r.nHub("hubB"), {false, true});
  LogCapture log;
  ASSERT_EQ(r.nScan(), 0);
  EXPECT_EQ(r.list.drv[0].strSerialNumber, "ABC123");
  EXPECT_EQ(r.list.dev[0].strSerialNumber, "ABC123");
  EXPECT_EQ(r.list.drv[1].strSerialNumber, "SNHUBB");  // hubB was seen with its serial too
  EXPECT_FALSE(log.contains("Invalid GetDeviceDescriptor"));

  // a hub never seen with a serial number: the walk says so and still records it
  BenchRig r2;
  r2.vController("xhci0");
  r2.hub("hubN", "xhci0", 1, false);
  ASSERT_TRUE(r2.bStart());
  r2.tree->vSetQuirks(0, {false, true});
  LogCapture log2;
  ASSERT_EQ(r2.nScan(), 0);
  EXPECT_TRUE(log2.contains("usLanguageID:32767 , strVID:2F7B , strPID:55AB"));
  EXPECT_EQ(r2.list.drv[0].strSerialNumber, "");
}

TEST(Walk, SerialCacheNeedsAllFiveTextsAndHoldsSixteen) {
  BenchRig r;
  r.vController("xhci0");
  r.hub("noprod", "xhci0", 1, false).strProduct = "";  // not cached: a text is missing
  r.hub("hubX", "xhci0", 2, false).usPIDU2 = 0x3000;   // takes the last free slot
  r.hub("late", "xhci0", 3, false).usPIDU2 = 0x3001;   // finds the cache full
  ASSERT_TRUE(r.bStart());
  for (int i = 0; i < SERIAL_CACHE_SLOTS - 1; ++i)  // hubs seen before, all different
    r.dev->m_walk.serialCache[i] = {true, "F" + std::to_string(i), "2F7B", "Velnor", "USB3.2 Hub", "OLD"};
  ASSERT_EQ(r.nScan(), 0);
  for (int h = 0; h < r.bench->nHubs(); ++h) r.tree->vSetQuirks(h, {false, true});
  ASSERT_EQ(r.nScan(), 0);
  ASSERT_EQ(r.list.m_DriverNum, 3);
  EXPECT_EQ(r.list.drv[0].strSerialNumber, "");
  EXPECT_EQ(r.list.drv[1].strSerialNumber, "SNHUBX");
  EXPECT_EQ(r.list.drv[2].strSerialNumber, "");
  EXPECT_EQ(r.dev->m_walk.serialCache[15].strPID, "3000");
}

TEST(Walk, HubNotAnsweringChipIdIsNotRecordedButTheHubsBehindItAre) {
  BenchRig r;
  r.vController("xhci0");
  r.hub("foreign", "xhci0", 1);
  r.hub("behind", "foreign", 4);
  ASSERT_TRUE(r.bStart());
  r.tree->vSetQuirks(r.nHub("foreign"), {true, false});
  LogCapture log;
  ASSERT_EQ(r.nScan(), 0);
  ASSERT_EQ(r.list.m_DriverNum, 2);
  EXPECT_EQ(r.list.drv[0].DriverName, "1-1.4");
  EXPECT_EQ(r.list.drv[0].ucDepth, 1);
  EXPECT_EQ(r.list.drv[1].DriverName, "2-1.4");
  EXPECT_EQ(r.list.DevNums, 1);
  EXPECT_TRUE(log.contains("bVLNHubGetDeviceDescriptor() Fail , strRootHubName=usb1,ulPortIndex =1"));
}

// Records the operator's boxes.
struct BoxView : IMessageView {
  std::mutex m;
  std::vector<std::string> boxes;
  int nMessageBox(const std::string& strText, const std::string&, uint32_t) override {
    std::lock_guard<std::mutex> l(m);
    boxes.push_back(strText);
    return IDOK;
  }
};

TEST(Walk, RefusedPermissionIsToldToTheOperatorOncePerDeviceAndTheScanGoesOn) {
  BenchRig r;
  r.vController("xhci0");
  r.hub("locked", "xhci0", 1).bPermissionDenied = true;
  r.hub("open", "xhci0", 2);
  SimHubSpec& blank = r.hub("blank", "xhci0", 3, false);  // no strings: already the language table is refused
  blank.bPermissionDenied = true;
  blank.strManufacturer = blank.strProduct = blank.strSerial = "";
  // another maker's hub: the rules never grant it, so it is passed over without a word
  SimHubSpec& foreign = r.hub("foreign", "xhci0", 4, false);
  foreign.usVID = 0x0409;
  foreign.bPermissionDenied = true;
  ASSERT_TRUE(r.bStart());
  BoxView view;
  r.util->vSetMessageView(&view);
  ASSERT_EQ(r.nScan(), 0);
  ASSERT_EQ(r.list.DevNums, 1);  // the hub the user may open is found
  EXPECT_EQ(r.list.dev[0].m_strHubObjectName, "usb:2-2");
  const std::string strTail =
      "] was refused. Install the udev rules \"/etc/udev/rules.d/70-vlntufdriver.rules\" that grant the "
      "operator "
      "group access to the hubs, then replug the hub.";
  EXPECT_EQ(view.boxes, (std::vector<std::string>{"Permission to open the hub [usb:1-1" + strTail,
                                                  "Permission to open the hub [usb:1-3" + strTail,
                                                  "Permission to open the hub [usb:2-1" + strTail}));
  // later scans meet the same devices and stay quiet
  ASSERT_EQ(r.nScan(), 0);
  EXPECT_EQ(view.boxes.size(), 3u);
  // an open that the walk did not make is refused the same way, once
  DeviceList list;
  list.m_DriverNum = 1;
  list.dev[0].m_strHubObjectName = "usb:1-1";
  r.dev->vSetDevList(&list);
  uint8_t v = 0;
  EXPECT_EQ(r.dev->VLN318xAccessRegister(0, &v, 1, 0x5820, false), -4);
  EXPECT_EQ(view.boxes.size(), 3u);
  r.util->vSetMessageView(nullptr);
}

TEST(Walk, NonHubDevicesArePassedOver) {
  BenchRig r;
  r.vController("xhci0");
  r.hub("hubA", "xhci0", 1);
  ASSERT_TRUE(r.bStart());
  SimPlainDevice disk;
  disk.strController = "xhci0";
  disk.nPort = 2;
  disk.bUsb3 = true;
  disk.usVID = 0x0BDA;
  disk.strProduct = "Disk";
  ASSERT_TRUE(r.tree->bAddDevice(disk));
  SimPlainDevice kbd;
  kbd.strParent = "hubA";
  kbd.nPort = 3;
  kbd.usVID = 0x2F7B;  // even with the target vendor id
  ASSERT_TRUE(r.tree->bAddDevice(kbd));
  SimPlainDevice bad;
  bad.strParent = "hubA";
  bad.nPort = 9;
  EXPECT_FALSE(r.tree->bAddDevice(bad));
  LogCapture log;
  ASSERT_EQ(r.nScan(), 0);
  EXPECT_EQ(r.list.m_DriverNum, 2);
  EXPECT_EQ(r.list.DevNums, 1);
  EXPECT_FALSE(log.contains("Idle"));
}

TEST(Walk, HubVanishingInTheMiddleOfTheWalkIsLoggedAndTheRestGoesOn) {
  BenchRig r;
  r.vController("xhci0");
  r.hub("top", "xhci0", 1);
  r.hub("mid", "top", 2);
  r.hub("low", "mid", 1);
  r.hub("other", "xhci0", 3);
  ASSERT_TRUE(r.bStart());
  int nMid = r.nHub("mid");
  bool bPulled = false;
  r.tree->vSetStringRequestHook([&](const std::string& strHub, uint32_t ulPort, uint8_t) {
    if (!bPulled && strHub == "1-1" && ulPort == 2) {
      bPulled = true;
      r.bench->vSetPlugged(nMid, false);  // leaves while its strings are read
    }
  });
  LogCapture log;
  ASSERT_EQ(r.nScan(), 0);
  ASSERT_TRUE(bPulled);
  EXPECT_TRUE(log.contains("IOCTL_USB_GET_NODE_INFORMATION (ConnectedHubHandle) Fail"));
  // top and other, both halves; mid and low are gone
  ASSERT_EQ(r.list.m_DriverNum, 4);
  EXPECT_EQ(r.list.DevNums, 2);
  EXPECT_EQ(r.list.dev[1].strSerialNumber, "SNOTHER");
}

TEST(Walk, MarkThatCannotBeWrittenLeavesTheHubWithoutRecord) {
  BenchRig r;
  r.vController("xhci0");
  r.hub("hubA", "xhci0", 1, false);
  auto& b = r.hub("hubB", "xhci0", 2, false);
  SimFaultSpec f;
  f.eKind = ESimFaultKind::kFail;
  f.nRequestCode = 0x53;  // register writes: the walk's two pass, the identification's fail
  f.uOccurrence = 3;
  f.uCount = 0;
  b.vecFaults.push_back(f);
  ASSERT_TRUE(r.bStart());
  LogCapture log;
  ASSERT_EQ(r.nScan(), 0);
  EXPECT_EQ(r.list.m_DriverNum, 2);
  EXPECT_TRUE(log.contains("Hub [usb:1-2] MarkSignatureforIdentify Failed"));
  ASSERT_EQ(r.list.DevNums, 1);
  EXPECT_EQ(r.list.dev[0].strSerialNumber, "SNHUBA");
  EXPECT_FALSE(r.list.dev[1].bOccupied());
}

TEST(Walk, SuspendedHubIsWokenOnceAndTheNextScanFindsItAwake) {
  BenchRig r;
  r.vController("xhci0");
  r.hub("sleepy", "xhci0", 1, false).bSuspended = true;
  ASSERT_TRUE(r.bStart());
  LogCapture log;
  ASSERT_EQ(r.nScan(), 0);
  EXPECT_TRUE(log.contains("VLN6420 is Idle ?? strVID:2F7B"));
  EXPECT_TRUE(log.contains(
      "Trigger Device!!!!!Get Hub ID Number, strDevConParam[Restart USB\\VID_2F7B&PID_55AB&REV_0100]"));
  EXPECT_TRUE(
      log.contains("Hub's power management is enable, set it disable szSubKeyHub3=bench:1-1/power/control, "
                   "szKeyName=control, szKeyValue=1"));
  int nSetting = -1;
  ASSERT_EQ(r.state->nGetSuspendSetting("1-1", nSetting), 0);
  EXPECT_EQ(nSetting, 0);
  EXPECT_FALSE(r.bench->stIdentity(0).bSuspended);
  EXPECT_EQ(r.list.drv[0].strDevicePath, "USB#VID_2F7B&PID_55AB#1-1#{F18A0E88-C30C-11D0-8815-00A0C906BED8}");
  ASSERT_EQ(r.list.DevNums, 1);
  int nRestarts = r.state->nRestartCount();
  EXPECT_GE(nRestarts, 2);

  LogCapture log2;
  ASSERT_EQ(r.nScan(), 0);
  EXPECT_FALSE(log2.contains("Idle"));
  EXPECT_EQ(r.state->nRestartCount(), nRestarts);
  EXPECT_EQ(r.list.dev[0].strManufacturer, "Velnor");

  // giving power management back sets the hub's setting to 1 again
  EXPECT_EQ(r.dev->SetPWManagementEnable(), 0);
  ASSERT_EQ(r.state->nGetSuspendSetting("1-1", nSetting), 0);
  EXPECT_EQ(nSetting, 1);
}

TEST(Walk, IdleCheckAlsoTakesTheTargetVendorId) {
  BenchRig r;
  r.vController("xhci0");
  auto& h = r.hub("other", "xhci0", 1, false);
  h.usVID = 0x1234;
  h.bSuspended = true;
  ASSERT_TRUE(r.bStart());
  {
    LogCapture log;
    r.nScan();
    EXPECT_FALSE(log.contains("Idle"));
  }
  r.list.strTargetVID = "1234";
  LogCapture log;
  r.nScan();
  EXPECT_TRUE(log.contains("VLN6420 is Idle ?? strVID:1234"));
}

TEST(Walk, DevicesThatFailedEnumerationOnTheSysfsTreeAreLoggedWithTheirPorts) {
  // the walk over a tree laid out as the kernel exports it, root port and hub port alike
  BenchRig r;
  r.vController("xhci0");
  ASSERT_TRUE(r.bStart());
  CUsbTreeSysfs sysfs(std::string(MPTOOL_TEST_DATA) + "/topology/enum_failed/bus/usb/devices", nullptr);
  r.dev->vSetWalkPlatform(&sysfs, r.state.get(), &r.driver, r.util.get());
  LogCapture log;
  r.dev->Open(&r.list, "");
  // a bare port is there but describes nothing (ENODATA); so is the half-read device
  EXPECT_EQ(
      nCount(log,
             "Port[1] iHubDepth[0] ulPortCount[3]= Device FAILED enumeration , DeviceFailedEnumeration , "
             "strDriverKeyName : usb1-port1 , strDeviceDesc :  , dwErrorCode = 61"),
      1);
  EXPECT_EQ(nCount(log, "strDriverKeyName : 1-2 , strDeviceDesc :  , dwErrorCode = 61"), 1);
  EXPECT_EQ(
      nCount(log,
             "Port[2] iHubDepth[1] ulPortCount[4]= Device FAILED enumeration , DeviceFailedEnumeration , "
             "strDriverKeyName : 1-3-port2 , strDeviceDesc :  , dwErrorCode = 61"),
      1);
  EXPECT_EQ(nCount(log, "DeviceFailedEnumeration , strDriverKeyName"), 3);
}

TEST(Walk, InterruptedBeforeTheControllersAndSkipFlag) {
  BenchRig r;
  r.vController("xhci0");
  r.hub("hubA", "xhci0", 1);
  ASSERT_TRUE(r.bStart());
  r.list.ucSkipWalk = 1;
  EXPECT_EQ(r.nScan(), -4);
  EXPECT_EQ(r.list.m_DriverNum, 0);
  r.list.ucSkipWalk = 0;
  EXPECT_EQ(r.nScan(), 0);
  EXPECT_EQ(r.list.DevNums, 1);
  // a scan without a platform finds nothing and does not crash
  CVlntUSBDev bare(*r.filterDevices, *r.filter, r.bench->clock());
  DeviceList l;
  EXPECT_EQ(bare.Open(&l, ""), -4);
  EXPECT_EQ(bare.SetPWManagementEnable(), -4);
}

TEST(Ident, SuperSpeedHalfFirstAndAHalfWithAnotherRelease) {
  BenchRig r;
  r.vController("xhci0");
  r.hub("hubA", "xhci0", 1);
  ASSERT_TRUE(r.bStart());
  ASSERT_EQ(r.dev->Open(&r.list, ""), 0);
  ASSERT_EQ(r.list.m_DriverNum, 2);
  // the SuperSpeed half listed first: its data make the record, the USB 2 half only logs
  std::swap(r.list.drv[0], r.list.drv[1]);
  LogCapture log;
  r.dev->vTestHandleFromDriverInfo(&r.list);
  ASSERT_EQ(r.list.DevNums, 1);
  EXPECT_EQ(r.list.dev[0].m_strHubObjectName, "usb:2-1");
  EXPECT_EQ(r.list.dev[0].strUSBRelease, "0320");
  EXPECT_TRUE(log.contains("Dev[0] 2.0 hub???, m_ucHubBondingOption"));

  // a second half reporting another release keeps the first half's data
  ASSERT_EQ(r.dev->Open(&r.list, ""), 0);
  r.list.drv[1].strUSBRelease = "0310";
  r.dev->vTestHandleFromDriverInfo(&r.list);
  ASSERT_EQ(r.list.DevNums, 1);
  EXPECT_EQ(r.list.dev[0].m_strHubObjectName, "usb:1-1");
  EXPECT_EQ(r.list.dev[0].strUSBText, "U2.1");
}

// One failed register read anywhere in a scan of one USB 3 hub: wherever it makes the records
// wrong (no record, a second record for the other half, a misread firmware type), the scan
// says it could not identify a hub entry; a scan after the fault is right again.
TEST(Ident, AFailedRequestThatSpoilsTheRecordsIsCountedAsUnidentified) {
  struct Seen {
    int nDevNums;
    std::string strObject;
    uint8_t ucType, ucPackage;
    bool operator==(const Seen&) const = default;
  };
  auto stSeen = [](const DeviceList& l) {
    return Seen{l.DevNums, l.dev[0].m_strHubObjectName, l.dev[0].ucFWType, l.dev[0].m_ucHubBondingOption};
  };
  auto vHub = [](BenchRig& r) -> SimHubSpec& {
    r.vController("xhci0");
    SimHubSpec& h = r.hub("hubA", "xhci0", 1);
    h.mapRegisters[0x5820] = 0x31;
    h.mapRegisters[0x5821] = 0x02;
    return h;
  };
  BenchRig ref;
  vHub(ref);
  ASSERT_TRUE(ref.bStart());
  ASSERT_EQ(ref.nScan(), 0);
  const Seen good = stSeen(ref.list);
  ASSERT_EQ(good.nDevNums, 1);
  EXPECT_EQ(ref.list.ucUnidentified, 0);
  int nSpoiled = 0;
  for (uint32_t uOcc = 1; uOcc <= 24; ++uOcc) {
    BenchRig r;
    SimFaultSpec f;
    f.eKind = ESimFaultKind::kFail;
    f.nRequestCode = 0x52;
    f.uOccurrence = uOcc;
    f.uCount = 1;
    vHub(r).vecFaults.push_back(f);
    ASSERT_TRUE(r.bStart());
    // The read may fall into the first scan or the second; by the third it has struck.
    for (int nScan = 0; nScan < 2; ++nScan) {
      r.nScan();
      if (stSeen(r.list) == good) continue;
      ++nSpoiled;
      EXPECT_GT(r.list.ucUnidentified, 0) << "read " << uOcc << ", scan " << nScan + 1;
    }
    r.nScan();
    EXPECT_TRUE(stSeen(r.list) == good) << "read " << uOcc;
    EXPECT_EQ(r.list.ucUnidentified, 0) << "read " << uOcc;
  }
  EXPECT_GE(nSpoiled, 2);  // the mark read of the second half and the type read at least
}

TEST(Ident, ClearGivesEveryRecordItsFreeValues) {
  BenchRig r;
  r.vController("xhci0");
  ASSERT_TRUE(r.bStart());
  r.list.DevNums = 3;
  r.list.m_DriverNum = 4;
  r.list.m_MaxHubDepth = 2;
  r.list.dev[2].ucIndex = 2;
  r.list.dev[2].m_strHubObjectName = "usb:1-1";
  r.list.dev[2].strUSBRelease = "0320";
  r.list.dev[2].results.ucUpdateResult = 1;
  r.list.m_dwPassCount = 7;
  r.dev->m_pDevList = &r.list;
  r.list.ucUnidentified = 2;
  r.dev->vClearPrivateData();
  EXPECT_EQ(r.list.ucUnidentified, 0);
  EXPECT_EQ(r.list.DevNums, 0);
  EXPECT_EQ(r.list.m_DriverNum, 0);
  EXPECT_EQ(r.list.m_MaxHubDepth, 0);
  EXPECT_FALSE(r.list.dev[2].bOccupied());
  EXPECT_EQ(r.list.dev[2].m_strHubObjectName, "");
  EXPECT_EQ(r.list.dev[2].strUSBRelease, "0320");  // kept, as the record rules say
  EXPECT_EQ(r.list.dev[2].results.ucUpdateResult, 0);
  EXPECT_EQ(r.list.m_dwPassCount, 7u);
}

}  // namespace
